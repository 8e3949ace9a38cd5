# -*- coding: utf-8 -*-
# Copyright 2026 The qvxtool developers

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from ansible.errors import AnsibleError
from ansible.plugins.action import ActionBase


class ActionModule(ActionBase):
    """Reads a profile file given as src on the controller and sends its
    content with the task, so the managed host needs no copy of it."""

    TRANSFERS_FILES = False

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        del tmp
        args = dict(self._task.args)
        src = args.get('src')
        if src is not None and args.get('profile') is None:
            try:
                path = self._find_needle('files', src)
                profile = self._loader.load_from_file(path, cache=False)
            except AnsibleError as e:
                result.update(failed=True, msg='src: %s' % e.message)
                return result
            if not isinstance(profile, dict):
                result.update(failed=True, msg='src: %s does not hold a profile (a JSON or YAML mapping)' % src)
                return result
            del args['src']
            args['profile'] = profile
        result.update(self._execute_module(module_name='qvx.gateway.profile', module_args=args,
                                           task_vars=task_vars))
        return result
