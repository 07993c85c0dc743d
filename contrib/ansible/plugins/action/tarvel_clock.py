# -*- coding: utf-8 -*-
# Copyright (C) 2026 Halvern Systems. License: Halvern-proprietary (tarvel's copyright file).
# tarvel_clock's controller side: a setup file named on the controller
# travels to the managed host inside the module's arguments (setup files
# and their text exports are small).

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import base64

from ansible.errors import AnsibleError
from ansible.module_utils.parsing.convert_bool import boolean
from ansible.plugins.action import ActionBase

# A setup file is 154 bytes and its text export a few kilobytes; anything
# near this is not one.
LARGEST_SETUP = 1024 * 1024


class ActionModule(ActionBase):

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        args = dict(self._task.args)
        setup = args.get('setup')
        try:
            remote = boolean(args.get('remote_src', False), strict=True)
        except TypeError as error:
            result.update(failed=True, msg='remote_src: %s' % error)
            return result
        if setup and not remote:
            try:
                path = self._find_needle('files', setup)
                with open(path, 'rb') as handle:
                    content = handle.read(LARGEST_SETUP + 1)
            except (AnsibleError, IOError, OSError) as error:
                result.update(failed=True, msg='setup %s on the controller: %s' % (setup, error))
                return result
            if len(content) > LARGEST_SETUP:
                result.update(failed=True, msg='setup %s is over 1 MB: not a setup file nor its text export' % setup)
                return result
            del args['setup']
            args['_setup_content'] = base64.b64encode(content).decode('ascii')
            args['_setup_name'] = setup
        result.update(self._execute_module(module_name='halvern.tarvel.tarvel_clock', module_args=args,
                                           task_vars=task_vars))
        return result
