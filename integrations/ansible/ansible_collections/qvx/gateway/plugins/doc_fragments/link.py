# -*- coding: utf-8 -*-
# Copyright 2026 The qvxtool developers

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    # The link options every module passes to qvxctl as its LINK options.
    DOCUMENTATION = r'''
options:
  tcp:
    description:
      - Modbus TCP to C(HOST[:PORT]) (IPv4 address; port 502 when left out).
      - Exactly one of I(tcp) and I(serial) is required.
    type: str
  serial:
    description:
      - Modbus RTU on this serial port of the managed host (a path, or a name under C(/dev)).
    type: str
  baud:
    description:
      - Serial rate, 50..4000000; qvxctl's default is 9600. Serial links only.
    type: int
  parity:
    description:
      - Serial parity; qvxctl's default is C(even). Serial links only.
    type: str
    choices: [none, even, odd]
  data_bits:
    description:
      - Serial data bits; qvxctl's default is 8. Serial links only.
    type: int
    choices: [7, 8]
  stop_bits:
    description:
      - Serial stop bits; qvxctl's default is 1. Serial links only.
    type: int
    choices: [1, 2]
  unit:
    description:
      - The gateway's unit address, 1..247; qvxctl's default is 1.
    type: int
  timeout:
    description:
      - Reply time-out in ms, 1..600000; qvxctl's default is 1000 (50 for a scan).
    type: int
  retries:
    description:
      - How often a request whose reply was lost or broken is sent again, 0..10; qvxctl's default is 2.
    type: int
  echo:
    description:
      - The serial adapter hands back what it sends (two-wire RS-485); its echo is dropped from each reply.
    type: bool
    default: false
  executable:
    description:
      - The qvxctl program on the managed host, a name looked up on its PATH or a path.
    type: str
    default: qvxctl
notes:
  - The modules run C(qvxctl --json) on the managed host, which must reach the gateway.
  - "qvxctl's exit status is returned as I(rc) of a failed task, and I(kind) names it:
    C(gateway) (no answer, an exception or a difference), C(refused) (a usage error or a
    refused file, nothing was sent) or C(link) (the link could not be opened)."
requirements:
  - qvxctl (the qvxtool package) on the managed host
'''
