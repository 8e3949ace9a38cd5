#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 The qvxtool developers

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: info
short_description: Read a QVX-24S gateway's settings, firmware and meter table as facts
description:
  - Reads the settings readout and the firmware identification (C(qvxctl info)) and the meter table
    (C(qvxctl meters read)) and sets them as the fact C(qvx_gateway).
  - Only reads; never changes the gateway.
version_added: "1.0.0"
author:
  - qvxtool developers
options:
  meters:
    description:
      - Read the meter table too (32 slots, some 70 requests); C(false) reads the settings and firmware only.
    type: bool
    default: true
extends_documentation_fragment:
  - qvx.gateway.link
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
  facts:
    support: full
'''

EXAMPLES = r'''
- name: What the gateway holds
  qvx.gateway.info:
    tcp: 10.0.4.11

- name: Its firmware
  ansible.builtin.debug:
    msg: "{{ qvx_gateway.firmware }}"
'''

RETURN = r'''
ansible_facts:
  description: The fact C(qvx_gateway).
  returned: always
  type: complex
  contains:
    qvx_gateway:
      description: The gateway's settings, firmware and meter table.
      returned: always
      type: complex
      contains:
        firmware:
          description: The firmware identification.
          returned: always
          type: str
          sample: "QVX Gateways  QVX-24S  2.14"
        settings:
          description: The settings readout as C(qvxctl info --json) gives it (C(flags), C(iec), C(ip),
            C(gateway), C(mask), C(readout_minutes), C(tcp_idle_ms)).
          returned: always
          type: dict
          sample: {"readout_minutes": 15, "ip": "192.168.1.100"}
        meters:
          description: Every slot with its C(slot) number, C(id) and C(obis) rows, as C(qvxctl meters read --json)
            gives them (an ID of all F and rows of C(255.0.0.0) are unprogrammed).
          returned: when I(meters) is true
          type: list
          elements: dict
'''

from ansible_collections.qvx.gateway.plugins.module_utils.qvxctl import Qvxctl, gateway_module


def main():
    module = gateway_module(dict(meters=dict(type='bool', default=True)), supports_check_mode=True)
    ctl = Qvxctl(module)
    settings = dict(ctl.result('info'))
    facts = dict(firmware=settings.pop('firmware', None), settings=settings)
    if module.params['meters']:
        facts['meters'] = ctl.result('meters', 'read').get('slots', [])
    module.exit_json(changed=False, ansible_facts=dict(qvx_gateway=facts))


if __name__ == '__main__':
    main()
