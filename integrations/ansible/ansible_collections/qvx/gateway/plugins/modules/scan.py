#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 The qvxtool developers

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: scan
short_description: Find QVX-24S gateways on a line
description:
  - Runs C(qvxctl scan) on the managed host; on a serial line it tries rates, parities and units, over TCP units.
  - The likely units (1, I(unit), 247, 2-10) come first; without I(all) the scan stops at the first gateway.
  - Only reads; never changes anything. A full serial sweep takes minutes.
version_added: "1.0.0"
author:
  - qvxtool developers
options:
  units:
    description:
      - The units to try, C(A-B) or one number (qvxctl's default C(1-247)).
    type: str
  bauds:
    description:
      - The rates to try (serial; all nine by default, 9600 first).
    type: list
    elements: int
  parities:
    description:
      - The parities to try (serial; C(even), C(none), C(odd) by default).
    type: list
    elements: str
    choices: [none, even, odd]
  all:
    description:
      - Do not stop at the first gateway.
    type: bool
    default: false
extends_documentation_fragment:
  - qvx.gateway.link
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
'''

EXAMPLES = r'''
- name: Every gateway on the site's RS-485 line, at 9600 and 19200
  qvx.gateway.scan:
    serial: /dev/ttyUSB0
    bauds: [9600, 19200]
    units: 1-32
    all: true
  register: line

- name: One inventory line each
  ansible.builtin.debug:
    msg: "{{ line.found | map(attribute='unit') | list }}"
'''

RETURN = r'''
found:
  description: The gateways found, each with C(port), C(baud) and C(parity) (null over TCP), C(unit) and C(firmware).
  returned: always
  type: list
  elements: dict
  sample: [{"port": "/dev/ttyUSB0", "baud": 9600, "parity": "even", "unit": 1, "firmware": "QVX Gateways  QVX-24S  2.14"}]
unconfirmed:
  description: What answered a probe but did not prove to be a gateway, with the C(reason).
  returned: always
  type: list
  elements: dict
activity:
  description: Line traffic that answered no probe.
  returned: always
  type: list
  elements: dict
probes:
  description: Probes sent.
  returned: always
  type: int
  sample: 3
'''

from ansible_collections.qvx.gateway.plugins.module_utils.qvxctl import Qvxctl, gateway_module


def main():
    module = gateway_module(
        dict(
            units=dict(type='str'),
            bauds=dict(type='list', elements='int'),
            parities=dict(type='list', elements='str', choices=['none', 'even', 'odd']),
            all=dict(type='bool', default=False),
        ),
        supports_check_mode=True,
    )
    p = module.params
    args = ['scan']
    if p['units']:
        args += ['--units', p['units']]
    if p['bauds']:
        args += ['--bauds', ','.join(str(b) for b in p['bauds'])]
    if p['parities']:
        args += ['--parities', ','.join(p['parities'])]
    if p['all']:
        args.append('--all')
    ctl = Qvxctl(module)
    rc, objects, err, cmd = ctl.run(*args)
    found = [o for o in objects if 'found' in o]
    # A line where nothing answered is a result, not a failure of the task.
    if rc not in (0, 1) or not found:
        ctl.fail(rc, objects, err, cmd)
    r = found[0]
    module.exit_json(changed=False, found=r.get('found', []), unconfirmed=r.get('unconfirmed', []),
                     activity=r.get('activity', []), probes=r.get('probes'))


if __name__ == '__main__':
    main()
