#!/usr/bin/env python3
# ansible-test's validate-modules on the halvern.tarvel collection, offline:
# its validate.py run straight on a copy of the collection laid out as
# ansible_collections/halvern/tarvel, with the collection's
# tests/sanity/ignore-X.Y.txt applied as ansible-test applies it (an entry
# that ignores nothing is an error too). Exits 77 (skipped) with the reason
# when ansible-test or python3-voluptuous is not installed.

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # nothing written into the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
COLLECTION = os.path.join(ROOT, 'contrib', 'ansible')
TEST = 'validate-modules'

# The plugin folders ansible-test hands to validate-modules.
DOCUMENTED = ('become', 'cache', 'callback', 'cliconf', 'connection', 'httpapi', 'inventory', 'lookup', 'netconf',
              'modules', 'shell', 'strategy', 'vars')

# What ansible-test's own Python knows: where validate.py is, the core's
# version, and whether voluptuous is there.
PROBE = '''
import json, os
import ansible.release, ansible_test
try:
    import voluptuous
    missing = None
except ImportError:
    missing = 'voluptuous'
print(json.dumps(dict(core='.'.join(ansible.release.__version__.split('.')[:2]), missing=missing,
    validate=os.path.join(os.path.dirname(ansible_test.__file__), '_util', 'controller', 'sanity', 'validate-modules'))))
'''


def ansible_test_python():
    """The interpreter on ansible-test's #! line, as an argv; None without ansible-test."""
    path = shutil.which('ansible-test')
    if not path:
        return None
    with open(path, 'rb') as handle:
        line = handle.readline().decode(errors='replace')
    return line[2:].split() if line.startswith('#!') else [sys.executable]


def galaxy_value(key):
    with open(os.path.join(COLLECTION, 'galaxy.yml')) as handle:
        text = handle.read()
    # "key: value", or a list's first value.
    match = re.search(r'^%s:[ \t]*(?:\n[ \t]+-[ \t]*)?(\S+)' % key, text, re.MULTILINE)
    return match.group(1) if match else None


def read_ignores(name):
    """{(path, code): line number} of the ignore file's validate-modules
    entries, and its faults, read as ansible-test reads it."""
    entries, faults = {}, []
    path = os.path.join(COLLECTION, name)
    if not os.path.exists(path):
        return entries, faults
    with open(path) as handle:
        for number, line in enumerate(handle.read().splitlines(), start=1):
            line = re.sub(r' *#.*$', '', line)
            parts = line.split(' ')
            if not line or len(parts) != 2:
                faults.append('%s line %d: want "PATH TEST:CODE", with an optional "# why"' % (name, number))
            elif not os.path.isfile(os.path.join(COLLECTION, parts[0])):
                faults.append('%s line %d: there is no %s' % (name, number, parts[0]))
            elif parts[1].startswith(TEST + ':'):
                entries[(parts[0], parts[1][len(TEST) + 1:])] = number
    return entries, faults


class Sanity(unittest.TestCase):

    def test_validate_modules_reports_nothing_the_ignore_file_does_not_name(self):
        tree = tempfile.mkdtemp(prefix='tarvel-sanity-')
        try:
            root = os.path.join(tree, 'ansible_collections', 'halvern', 'tarvel')
            shutil.copytree(COLLECTION, root, ignore=shutil.ignore_patterns('__pycache__', '*.pyc'))
            # The user's ansible.cfg stays out, as ansible-test keeps it out.
            config = os.path.join(tree, 'ansible.cfg')
            with open(config, 'w') as handle:
                handle.write('[defaults]\n')
            env = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=tree, PYTHONPATH=INFO['validate'],
                       PYTHONDONTWRITEBYTECODE='1', ANSIBLE_CONFIG=config)
            command = PYTHON + [os.path.join(INFO['validate'], 'validate.py'), '--format', 'json', '--arg-spec',
                                '--collection', 'ansible_collections/halvern/tarvel',
                                '--collection-version', galaxy_value('version')]
            reports = {}
            for kind in DOCUMENTED:
                folder = os.path.join(root, 'plugins', kind)
                plugins = sorted(os.path.relpath(os.path.join(where, name), root)
                                 for where, _, names in os.walk(folder) for name in names
                                 if name.endswith('.py') and name != '__init__.py')
                if not plugins:
                    continue
                kind_args = [] if kind == 'modules' else ['--plugin-type', kind]
                run = subprocess.run(command + kind_args + plugins, cwd=root, env=env, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, timeout=240)
                # 3: it found errors; anything on stderr is a fault of the run itself.
                self.assertIn(run.returncode, (0, 3), run.stderr.decode(errors='replace'))
                self.assertEqual(run.stderr, b'')
                reports.update(json.loads(run.stdout))
            self.assertIn('plugins/modules/tarvel_clock.py', reports)
        finally:
            shutil.rmtree(tree, ignore_errors=True)

        ignore_file = os.path.join('tests', 'sanity', 'ignore-%s.txt' % INFO['core'])
        ignores, faults = read_ignores(ignore_file)
        used = set()
        for path, report in sorted(reports.items()):
            for error in report['errors']:
                key = (path, error['code'])
                if key in ignores:
                    used.add(key)
                else:
                    faults.append('%s:%s:%s: %s:%s: %s' % (path, error.get('line', 0), error.get('column', 0),
                                                           TEST, error['code'], error['msg']))
        faults += ['%s line %d: ignoring %s:%s on %s is not needed' % (ignore_file, number, TEST, key[1], key[0])
                   for key, number in sorted(ignores.items()) if key not in used]
        self.assertEqual(faults, [], '\n' + '\n'.join(faults))

    def test_galaxy_names_tarvels_license_and_the_changelog_its_version(self):
        with open(os.path.join(ROOT, 'packaging', 'copyright')) as handle:
            licensed = re.search(r'^Files: \*\n(?:\S.*\n)*?License: (\S+)', handle.read(), re.MULTILINE)
        self.assertEqual(galaxy_value('license'), 'LicenseRef-' + licensed.group(1))
        with open(os.path.join(COLLECTION, 'CHANGELOG.md')) as handle:
            self.assertIn('\n## %s\n' % galaxy_value('version'), handle.read())


def main():
    global PYTHON, INFO
    PYTHON = ansible_test_python()
    if PYTHON is None:
        print('skipped: ansible-test is not installed (scripts/deps installs ansible-core where it can)')
        return 77
    probe = subprocess.run(PYTHON + ['-c', PROBE], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    if probe.returncode != 0:
        print('%s cannot load ansible-test: %s' % (' '.join(PYTHON), probe.stderr.decode(errors='replace')))
        return 1
    INFO = json.loads(probe.stdout)
    if INFO['missing']:
        print('skipped: %s cannot import %s (scripts/deps installs python3-voluptuous)' % (' '.join(PYTHON),
                                                                                           INFO['missing']))
        return 77
    result = unittest.main(argv=sys.argv[:1] + sys.argv[1:], exit=False, verbosity=2).result
    return 0 if result.wasSuccessful() else 1


if __name__ == '__main__':
    sys.exit(main())
