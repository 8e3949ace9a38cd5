#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 The qvxtool developers

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: profile
short_description: Bring a QVX-24S gateway to a gateway profile
description:
  - Compares the gateway with a profile (format C(qvx-profile/1)) and writes what differs, through
    C(qvxctl profile diff) and C(qvxctl profile apply) on the managed host.
  - Only the slots the profile lists are compared and written; the others are left as they are.
  - In check mode only C(qvxctl profile diff) runs; nothing is written.
  - A run writes what differs and reads everything back; the task fails with qvxctl's message when the
    read-back still differs.
  - The task is C(changed) only when something differed and was written.
version_added: "1.0.0"
author:
  - qvxtool developers
options:
  src:
    description:
      - A profile file (JSON as C(qvxctl profile save) writes it, or the same in YAML) on the controller,
        looked up like other files of a role or playbook (a C(files/) folder). Its content is sent with the task.
      - Exactly one of I(src) and I(profile) is required.
    type: path
  profile:
    description:
      - The profile inline, in the C(qvx-profile/1) shape (C(format), C(readout_minutes), C(flags), C(iec),
        C(ip), C(gateway), C(mask), C(tcp_idle_ms), C(unit), optionally C(rtu), and C(meters.slots)).
      - qvxctl checks every field before the first request and the task fails naming each field it refuses.
      - Quote meter IDs (C("12345678")); YAML would otherwise read them as numbers.
    type: dict
  with_address:
    description:
      - Compare and write the unit address too (written last; qvxctl follows it on a serial link).
    type: bool
    default: false
  with_network:
    description:
      - Compare and write the IPv4 block too (IP address, gateway, mask, TCP idle time).
    type: bool
    default: false
  with_line:
    description:
      - Compare and write the RTU line (the profile's C(rtu)) too, written last.
    type: bool
    default: false
extends_documentation_fragment:
  - qvx.gateway.link
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
'''

EXAMPLES = r'''
- name: The site's profile, from files/site-a.json next to the playbook
  qvx.gateway.profile:
    tcp: 10.0.4.11
    src: site-a.json

- name: A profile inline, on a gateway behind an RS-485 adapter
  qvx.gateway.profile:
    serial: /dev/ttyUSB0
    baud: 19200
    unit: 3
    profile: "{{ lookup('file', 'site-b.json') | from_json }}"
    with_network: true
'''

RETURN = r'''
differences:
  description:
    - What differed before the write (check mode, or a run with C(--diff)), or after the read-back when the
      task failed, each with C(what), C(gateway) and C(profile).
  returned: always
  type: list
  elements: dict
  sample: [{"what": "readout_minutes", "gateway": "15", "profile": "30"}]
writes:
  description: Changes written (0 in check mode and when nothing differed).
  returned: always
  type: int
  sample: 2
requests:
  description: Requests qvxctl sent for the apply.
  returned: when the profile was applied
  type: int
  sample: 87
retries:
  description: Requests sent again after a lost or broken reply.
  returned: when the profile was applied
  type: int
  sample: 0
'''

import json
import os

from ansible_collections.qvx.gateway.plugins.module_utils.qvxctl import Qvxctl, gateway_module, link_name


def diff_text(differences, side):
    return ''.join('%s: %s\n' % (d.get('what'), d.get(side)) for d in differences)


def main():
    module = gateway_module(
        dict(
            src=dict(type='path'),
            profile=dict(type='dict'),
            with_address=dict(type='bool', default=False),
            with_network=dict(type='bool', default=False),
            with_line=dict(type='bool', default=False),
        ),
        mutually_exclusive=[['src', 'profile']],
        required_one_of=[['src', 'profile']],
        supports_check_mode=True,
    )
    ctl = Qvxctl(module)
    p = module.params
    # The action plugin sends a controller file's content as the profile;
    # src reaches the module itself only when it runs without it, and then
    # names a file on the managed host.
    if p['profile'] is not None:
        path = os.path.join(module.tmpdir, 'profile.json')
        with open(path, 'w') as f:
            json.dump(p['profile'], f)
    else:
        path = p['src']
    extra = [flag for flag, on in (('--with-address', p['with_address']), ('--with-network', p['with_network']),
                                   ('--with-line', p['with_line'])) if on]
    result = dict(changed=False, differences=[], writes=0)

    if module.check_mode or module._diff:
        rc, objects, err, cmd = ctl.run('profile', 'diff', path, *extra)
        found = [o for o in objects if 'differences' in o]
        if rc not in (0, 1) or not found:
            ctl.fail(rc, objects, err, cmd)
        result['differences'] = found[0]['differences']
        if result['differences']:
            result['diff'] = dict(before_header='gateway (%s)' % link_name(p), after_header='profile',
                                  before=diff_text(result['differences'], 'gateway'),
                                  after=diff_text(result['differences'], 'profile'))
        if module.check_mode or not result['differences']:
            result['changed'] = bool(result['differences'])
            module.exit_json(**result)

    rc, objects, err, cmd = ctl.run('profile', 'apply', path, *extra)
    applied = [o for o in objects if 'writes' in o]
    if applied:
        result.update(writes=applied[0]['writes'], requests=applied[0].get('requests'),
                      retries=applied[0].get('retries'))
        result['changed'] = result['writes'] > 0
    if rc != 0 or not applied:
        # A read-back that differs comes with what it found.
        if applied and applied[0].get('differences'):
            result['differences'] = applied[0]['differences']
        result.pop('diff', None)
        ctl.fail(rc, objects, err, cmd, **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
