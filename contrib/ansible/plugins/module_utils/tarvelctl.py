# -*- coding: utf-8 -*-
# Copyright (C) 2026 Halvern Systems. License: Halvern-proprietary (tarvel's copyright file).
# Running tarvelctl on the managed host for the tarvel modules: finding it,
# refusing one too old for them, and turning its exit statuses and stderr
# into task results. tarvelctl's --json documents and its exit statuses
# (0 done, 1 failed or different, 2 usage) are the whole interface.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import re

# The oldest tarvelctl whose --json output and exit statuses these modules
# were written against.
MIN_VERSION = (1, 4, 1, 8)

PORT_OPTIONS = dict(
    port=dict(type='str', required=True),
    model=dict(type='str', choices=['K201', 'K202', 'K203', 'K204', 'K205', 'K206']),
    baud=dict(type='int'),
    executable=dict(type='path'),
)


def parse_version(text):
    """(1, 4, 1, 8) from "tarvelctl 1.4.1.8"; None when there is no version."""
    match = re.search(r'(\d+(?:\.\d+)*)', text or '')
    if not match:
        return None
    return tuple(int(part) for part in match.group(1).split('.'))


def version_text(version):
    return '.'.join(str(part) for part in version)


def reason(stderr, fallback, in_order=False):
    """tarvelctl's reason as one line: its last line first (what failed),
    then the lines before it (why, and what to do); in_order keeps the
    lines as they came (a usage error, then the hint)."""
    lines = []
    for line in (stderr or '').splitlines():
        line = line.strip()
        if line.startswith('tarvelctl: '):
            line = line[len('tarvelctl: '):]
        if line:
            lines.append(line)
    if not lines:
        return fallback
    if len(lines) == 1:
        return lines[0]
    if in_order:
        return ' '.join(lines)
    details = ' '.join(line if line[-1] in '.?!:' else line + '.' for line in lines[:-1])
    return '%s: %s' % (lines[-1], details)


class Tarvelctl(object):
    """One tarvelctl on the managed host, checked once, run many times."""

    def __init__(self, module, executable=None):
        self.module = module
        self.path = executable or module.get_bin_path('tarvelctl', opt_dirs=['/usr/local/bin'])
        if not self.path:
            module.fail_json(msg='tarvelctl was not found on this host: install the tarvel-cli package, '
                                 'or give its path as executable')
        rc, out, err = self._run([self.path, '--version'])
        found = parse_version(out) if rc == 0 else None
        if found is None:
            module.fail_json(msg='%s does not tell its version (%s); it is not a tarvelctl these modules can use'
                                 % (self.path, reason(err, 'exit status %d' % rc)))
        if found < MIN_VERSION:
            module.fail_json(msg='tarvelctl %s on this host is older than %s, the oldest these modules work with: '
                                 'install a newer tarvel-cli package'
                                 % (version_text(found), version_text(MIN_VERSION)))
        self.version = version_text(found)

    def _run(self, argv):
        # C locale: the reasons are read by people, but the numbers by us.
        return self.module.run_command(argv, environ_update={'LC_ALL': 'C'})

    def port_args(self, port=None, baud=None):
        """--port, --model and --baud from the task; port and baud override it."""
        params = self.module.params
        args = ['--port', port or params['port']]
        if params.get('model'):
            args += ['--model', params['model']]
        baud = baud or params.get('baud')
        if baud:
            args += ['--baud', str(baud)]
        return args

    def run(self, args, what, accept=(0,)):
        """(rc, stdout, stderr); any exit status outside accept fails the task
        with tarvelctl's reason."""
        rc, out, err = self._run([self.path] + list(args))
        if rc not in accept:
            self.fail(what, rc, out, err)
        return rc, out, err

    def json(self, args, what, accept=(0,)):
        """(rc, document) of a --json command."""
        rc, out, err = self.run(list(args) + ['--json'], what, accept)
        try:
            document = json.loads(out)
        except ValueError:
            self.module.fail_json(msg='%s: tarvelctl %s printed no JSON document' % (what, self.version),
                                  rc=rc, stdout=out, stderr=err)
        if not isinstance(document, dict) or document.get('version') != 1:
            self.module.fail_json(msg='%s: tarvelctl %s printed JSON of a version these modules do not know'
                                      % (what, self.version), rc=rc, stdout=out, stderr=err)
        return rc, document

    def fail(self, what, rc, out, err, **extra):
        if rc == 2:
            text = reason(err, 'usage error', in_order=True)
            msg = ('%s: tarvelctl %s refused the command line, so it is not one these modules were written for '
                   '(%s)' % (what, self.version, text))
        else:
            msg = '%s: %s' % (what, reason(err, 'tarvelctl exited with status %d and said nothing' % rc))
        self.module.fail_json(msg=msg, rc=rc, stdout=out, stderr=err, **extra)
