# -*- coding: utf-8 -*-
# Copyright 2026 The qvxtool developers
"""Runs qvxctl for the modules: the link options, the command line and the
reading of its JSON output and exit status."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os

from ansible.module_utils.basic import AnsibleModule

# The options of qvxctl's LINK.  Defaults are left to qvxctl (None here), so
# that only what the task says is passed and scan keeps its short time-out.
LINK_ARGUMENT_SPEC = dict(
    tcp=dict(type='str'),
    serial=dict(type='str'),
    baud=dict(type='int'),
    parity=dict(type='str', choices=['none', 'even', 'odd']),
    data_bits=dict(type='int', choices=[7, 8]),
    stop_bits=dict(type='int', choices=[1, 2]),
    unit=dict(type='int'),
    timeout=dict(type='int'),
    retries=dict(type='int'),
    echo=dict(type='bool', default=False),
    executable=dict(type='str', default='qvxctl'),
)
LINK_MUTUALLY_EXCLUSIVE = [['tcp', 'serial']]
LINK_REQUIRED_ONE_OF = [['tcp', 'serial']]

# The ranges qvxctl takes; checked here so that a task with a value out of
# range fails before qvxctl is started at all.
RANGES = dict(unit=(1, 247), baud=(50, 4000000), timeout=(1, 600000), retries=(0, 10))
SERIAL_ONLY = ('baud', 'parity', 'data_bits', 'stop_bits')

# qvxctl's exit status: 0 done, 1 the gateway (no answer, exception,
# differs), 2 a usage error or a refused file (nothing sent), 3 the link.
EXIT_KINDS = {1: 'gateway', 2: 'refused', 3: 'link'}


def link_problems(params):
    """What is wrong with the link options, as messages (empty: nothing)."""
    problems = []
    for name, (low, high) in sorted(RANGES.items()):
        value = params.get(name)
        if value is not None and not low <= value <= high:
            problems.append('value of %s must be %d..%d, got: %d' % (name, low, high, value))
    if params.get('tcp') is not None:
        given = [n for n in SERIAL_ONLY if params.get(n) is not None]
        if params.get('echo'):
            given.append('echo')
        if given:
            problems.append('%s: serial line options, but the link is tcp' % ', '.join(given))
        elif not params['tcp'].strip():
            problems.append('tcp: empty; give HOST[:PORT]')
    elif params.get('serial') is not None and not params['serial'].strip():
        problems.append('serial: empty; give the port')
    return problems


def link_args(params):
    """qvxctl's LINK options for the task's parameters."""
    args = []
    for name in ('tcp', 'serial', 'baud', 'parity', 'data_bits', 'stop_bits', 'unit', 'timeout', 'retries'):
        value = params.get(name)
        if value is not None:
            args += ['--' + name.replace('_', '-'), str(value)]
    if params.get('echo'):
        args.append('--echo')
    return args


def link_name(params):
    """The link in words, as the diff headers show it."""
    where = 'tcp %s' % params['tcp'] if params.get('tcp') else 'serial %s' % params.get('serial')
    return '%s unit %s' % (where, params.get('unit') or 1)


def json_lines(text):
    """The JSON objects qvxctl printed, one a line; other lines are skipped."""
    objects = []
    for line in text.splitlines():
        line = line.strip()
        if line.startswith('{'):
            try:
                objects.append(json.loads(line))
            except ValueError:
                pass
    return objects


def error_message(rc, objects, stderr):
    """qvxctl's own message for a failed run."""
    for o in reversed(objects):
        if isinstance(o, dict) and o.get('error'):
            return 'qvxctl: %s' % o['error']
    lines = [l.strip() for l in stderr.splitlines() if l.startswith('qvxctl: ')]
    if lines:
        return '; '.join(lines)
    return stderr.strip() or 'qvxctl ended with exit status %d' % rc


def gateway_module(argument_spec, mutually_exclusive=None, required_one_of=None, **kwargs):
    """An AnsibleModule with the link options, checked before anything is sent."""
    spec = dict(LINK_ARGUMENT_SPEC)
    spec.update(argument_spec)
    module = AnsibleModule(
        argument_spec=spec,
        mutually_exclusive=LINK_MUTUALLY_EXCLUSIVE + (mutually_exclusive or []),
        required_one_of=LINK_REQUIRED_ONE_OF + (required_one_of or []),
        **kwargs
    )
    problems = link_problems(module.params)
    if problems:
        module.fail_json(msg='; '.join(problems))
    return module


class Qvxctl(object):
    """qvxctl on the managed host, for one gateway's link."""

    def __init__(self, module):
        self.module = module
        exe = module.params['executable']
        if os.sep in exe:
            if not os.access(exe, os.X_OK):
                module.fail_json(msg='executable: %s is not an executable file' % exe)
            self.exe = exe
        else:
            self.exe = module.get_bin_path(exe, required=True)

    def run(self, *args):
        """Runs one command; returns (rc, JSON objects, stderr, command line)."""
        cmd = [self.exe] + link_args(self.module.params) + ['--json'] + list(args)
        rc, out, err = self.module.run_command(cmd)
        return rc, json_lines(out), err, cmd

    def fail(self, rc, objects, stderr, cmd, **extra):
        # qvxctl's JSON names the cause more closely ("no answer", "exception").
        reason = None
        for o in objects:
            if isinstance(o, dict) and o.get('kind'):
                reason = o['kind']
        self.module.fail_json(msg=error_message(rc, objects, stderr), rc=rc, kind=EXIT_KINDS.get(rc, 'unknown'),
                              reason=reason, stderr=stderr, cmd=cmd, **extra)

    def result(self, *args):
        """The command's one result object; fails the task unless it ran clean."""
        rc, objects, err, cmd = self.run(*args)
        if rc != 0 or not objects:
            self.fail(rc, objects, err, cmd)
        return objects[0]
