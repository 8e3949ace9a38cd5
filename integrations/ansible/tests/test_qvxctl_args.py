"""The task parameters as qvxctl's LINK options, and the checks made before
qvxctl starts."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
from ansible_collections.qvx.gateway.plugins.module_utils.qvxctl import (  # noqa: E402
    error_message, json_lines, link_args, link_problems)


class LinkArguments(unittest.TestCase):
    def test_link_args(self):
        rows = [
            (dict(tcp='10.0.0.5'), ['--tcp', '10.0.0.5']),
            (dict(tcp='10.0.0.5:1502', unit=3, timeout=500, retries=0),
             ['--tcp', '10.0.0.5:1502', '--unit', '3', '--timeout', '500', '--retries', '0']),
            (dict(serial='/dev/ttyUSB0', baud=19200, parity='none', data_bits=7, stop_bits=2, echo=True),
             ['--serial', '/dev/ttyUSB0', '--baud', '19200', '--parity', 'none', '--data-bits', '7',
              '--stop-bits', '2', '--echo']),
        ]
        for params, want in rows:
            self.assertEqual(link_args(params), want, params)

    def test_problems(self):
        rows = [
            (dict(tcp='10.0.0.5', unit=247), []),
            (dict(tcp='10.0.0.5', unit=0), ['value of unit must be 1..247, got: 0']),
            (dict(serial='/dev/ttyS0', timeout=600001, retries=11),
             ['value of retries must be 0..10, got: 11', 'value of timeout must be 1..600000, got: 600001']),
            (dict(tcp='10.0.0.5', baud=9600, echo=True), ['baud, echo: serial line options, but the link is tcp']),
            (dict(serial=' '), ['serial: empty; give the port']),
        ]
        for params, want in rows:
            self.assertEqual(link_problems(params), want, params)

    def test_messages(self):
        out = '{"writes":1,"differences":[]}\nnot json\n{"error":"read-back differs: slot 2","kind":"mismatch"}\n'
        self.assertEqual(error_message(1, json_lines(out), ''), 'qvxctl: read-back differs: slot 2')
        err = 'the profile holds slot(s) 2\nqvxctl: p.json: unit: missing\nqvxctl: p.json: refused; nothing was sent\n'
        self.assertEqual(error_message(2, [], err), 'qvxctl: p.json: unit: missing; qvxctl: p.json: refused; nothing was sent')


if __name__ == '__main__':
    unittest.main()
