#!/usr/bin/env python3
# The halvern.tarvel collection against simulated clocks on pseudo-terminals,
# every host this machine (-c local). Exits 77 (skipped) with the reason
# when ansible-playbook is not installed.

import fcntl
import glob
import json
import os
import shutil
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import simfleet  # noqa: E402
from simfleet import DECLARE, THREE_ITEMS, ctl, task_results  # noqa: E402


def read_items(path, *numbers):
    document = json.loads(ctl('get', path, *[str(n) for n in numbers], '--json'))
    return dict((item['number'], item['value']) for item in document['items'])


def file_bytes(path):
    with open(path, 'rb') as handle:
        return handle.read()


class Collection(unittest.TestCase):
    """One fleet of two clocks for the whole class: the runs build on each other."""

    @classmethod
    def setUpClass(cls):
        cls.fleet = simfleet.Fleet(2)
        cls.playbook = cls.fleet.write('declare.yml', DECLARE % THREE_ITEMS)

    @classmethod
    def tearDownClass(cls):
        cls.fleet.close()

    def eeproms(self):
        return [file_bytes(clock.eeprom) if os.path.exists(clock.eeprom) else None for clock in self.fleet.clocks]

    def assertFailedWith(self, document, *texts):
        for clock in self.fleet.clocks:
            result = task_results(document)[clock.name]
            self.assertTrue(result.get('failed'), result)
            for text in texts:
                self.assertIn(text, result['msg'])
            self.assertNotIn('Traceback', json.dumps(result))
            self.assertNotIn('exception', result)

    def reads(self):
        return [clock.setup_reads() for clock in self.fleet.clocks]

    def test_1_first_run_writes_second_changes_nothing(self):
        # Each run reads each clock once, the writing one too: the write
        # compares with that read and keeps it as the backup.
        reads = self.reads()
        status, first = self.fleet.play(self.playbook)
        self.assertEqual(status, 0, json.dumps(first, indent=1))
        self.assertEqual(self.reads(), [n + 1 for n in reads])
        for clock in self.fleet.clocks:
            self.assertEqual(first['stats'][clock.name]['changed'], 1)
            result = task_results(first)[clock.name]
            self.assertEqual(sorted(d['number'] for d in result['differences']), [3, 11, 12])
            baud = [d for d in result['differences'] if d['number'] == 3][0]
            self.assertEqual((baud['label'], baud['group'], baud['after']),
                             ('Baud Rate', 'Main Communication', '19200'))
            # The clock stored the declared setup; the backup holds what it had.
            self.assertEqual(read_items(clock.eeprom, 3, 11, 12), {3: '19200', 11: 'Off', 12: 'Locked'})
            self.assertTrue(result['backup'].startswith(self.fleet.backups), result['backup'])
            self.assertEqual(read_items(result['backup'], 3), {3: baud['before']})
            self.assertNotEqual(baud['before'], '19200')

        before = self.eeproms()
        status, second = self.fleet.play(self.playbook)
        self.assertEqual(status, 0, json.dumps(second, indent=1))
        self.assertEqual(self.reads(), [n + 2 for n in reads])
        for clock in self.fleet.clocks:
            self.assertEqual(second['stats'][clock.name]['changed'], 0)
            self.assertEqual(second['stats'][clock.name]['ok'], 1)
            result = task_results(second)[clock.name]
            self.assertEqual((result['differences'], result['backup']), ([], None))
        self.assertEqual(self.eeproms(), before)
        self.assertEqual(len(glob.glob(os.path.join(self.fleet.backups, '*.hcs'))), 2)

    def test_2_check_mode_reports_and_sends_nothing(self):
        # Declared as a text export on the controller, with one item changed.
        clock = self.fleet.clocks[0]
        exported = self.fleet.path('site.txt')
        ctl('read', '--port', clock.port, '-o', self.fleet.path('site.hcs'))
        ctl('set', self.fleet.path('site.hcs'), '7=2400')
        ctl('export', self.fleet.path('site.hcs'), '-o', exported)
        playbook = self.fleet.write('check.yml', DECLARE % '        setup: site.txt\n')
        before = self.eeproms()
        backups = sorted(os.listdir(self.fleet.backups)) if os.path.isdir(self.fleet.backups) else []

        status, document = self.fleet.play(playbook, '--check', '--diff')
        self.assertEqual(status, 0, json.dumps(document, indent=1))
        for clock in self.fleet.clocks:
            result = task_results(document)[clock.name]
            self.assertTrue(result['changed'], result)
            self.assertIn(7, [d['number'] for d in result['differences']])
            self.assertIn('7 Option Communication/Baud Rate = 2400', result['diff']['after'])
            self.assertIsNone(result['backup'])
        self.assertEqual(self.eeproms(), before)
        after = sorted(os.listdir(self.fleet.backups)) if os.path.isdir(self.fleet.backups) else []
        self.assertEqual(after, backups)

        # The human-readable diff, as an operator sees it.
        status, text = self.fleet.play(playbook, '--check', '--diff', callback='default')
        self.assertEqual(status, 0, text)
        self.assertIn('+7 Option Communication/Baud Rate = 2400', text)

        # The setup file itself, on the managed host.
        on_host = self.fleet.write('on-host.yml', DECLARE % ('        setup: %s\n        remote_src: true\n'
                                                             % self.fleet.path('site.hcs')))
        status, document = self.fleet.play(on_host, '--check')
        self.assertEqual(status, 0, json.dumps(document, indent=1))
        for clock in self.fleet.clocks:
            result = task_results(document)[clock.name]
            self.assertEqual([d['number'] for d in result['differences']], [7], result)
        self.assertEqual(self.eeproms(), before)

    def test_3_refused_values_fail_before_the_clock_is_touched(self):
        before = self.eeproms()
        heard = [clock.heard() for clock in self.fleet.clocks]
        refused = self.fleet.write('refused.yml', DECLARE % THREE_ITEMS.replace('19200', '12345'))
        status, document = self.fleet.play(refused)
        self.assertNotEqual(status, 0)
        self.assertFailedWith(document, 'item 3 (Main Communication/Baud Rate)', "'12345'", 'nothing was written')

        ambiguous = self.fleet.write('ambiguous.yml', DECLARE % '        items:\n          Baud Rate: 9600\n')
        status, document = self.fleet.play(ambiguous)
        self.assertNotEqual(status, 0)
        self.assertFailedWith(document, 'names several items', '3 (Main Communication/Baud Rate)')

        self.assertEqual(self.eeproms(), before)
        self.assertEqual([clock.heard() for clock in self.fleet.clocks], heard)

    def test_4_a_missing_or_busy_port_fails_with_the_reason(self):
        missing = self.fleet.write('missing.yml', DECLARE.replace('"{{ clock_port }}"', '/dev/tarvel-no-such-port')
                                   % THREE_ITEMS)
        status, document = self.fleet.play(missing)
        self.assertNotEqual(status, 0)
        self.assertFailedWith(document, 'opening port /dev/tarvel-no-such-port failed', 'No such file or directory')

        # Another program holds clock1's port, as a terminal program would.
        clock = self.fleet.clocks[0]
        holder = os.open(clock.port, os.O_RDWR | os.O_NOCTTY)
        try:
            fcntl.flock(holder, fcntl.LOCK_EX)
            before = self.eeproms()
            status, document = self.fleet.play(self.playbook, '--limit', clock.name)
        finally:
            os.close(holder)
        self.assertNotEqual(status, 0)
        result = task_results(document)[clock.name]
        self.assertTrue(result.get('failed'), result)
        self.assertIn('reading the clock on %s: opening port %s failed' % (clock.port, clock.port), result['msg'])
        self.assertRegex(result['msg'], r'Device or resource busy\. The port is in use by \S+ \(pid %d\)' % os.getpid())
        self.assertEqual(self.eeproms(), before)

    def test_4_a_silent_clock_fails_with_the_reason(self):
        # A clock set to 19200 hears only noise at the 9600 tarvelctl opens with.
        deaf = simfleet.Clock(self.fleet.folder, 'deaf', ['--baud', '19200'])
        try:
            playbook = self.fleet.write('silent.yml', (DECLARE % THREE_ITEMS).replace(
                'hosts: clocks', 'hosts: clock1').replace('"{{ clock_port }}"', deaf.port))
            status, document = self.fleet.play(playbook)
            self.assertNotEqual(status, 0)
            result = task_results(document)['clock1']
            self.assertTrue(result.get('failed'), result)
            # tarvelctl's reason first, then its one-line error.
            self.assertIn("reading the clock on %s: no echo of byte 1 ('1') of the command" % deaf.port, result['msg'])
            self.assertIn('reading the setup from the clock failed', result['msg'])
            self.assertFalse(os.path.exists(deaf.eeprom))
        finally:
            deaf.stop()

    def test_5_an_old_tarvelctl_is_refused(self):
        old = self.fleet.write('old-tarvelctl', '#!/bin/sh\necho "tarvelctl 1.4.0.2"\n')
        os.chmod(old, 0o755)
        playbook = self.fleet.write('old.yml', (DECLARE % THREE_ITEMS).replace('"{{ tarvelctl }}"', old))
        status, document = self.fleet.play(playbook)
        self.assertNotEqual(status, 0)
        self.assertFailedWith(document, 'tarvelctl 1.4.0.2 on this host is older than 1.4.1.8')

    def test_6_facts_of_each_clock(self):
        playbook = self.fleet.write('facts.yml', '''
- hosts: clocks
  gather_facts: false
  tasks:
    - halvern.tarvel.tarvel_facts:
        port: ["{{ clock_port }}"]
        executable: "{{ tarvelctl }}"
        watch: 3
''')
        status, document = self.fleet.play(playbook)
        self.assertEqual(status, 0, json.dumps(document, indent=1))
        for clock in self.fleet.clocks:
            result = task_results(document)[clock.name]
            self.assertFalse(result['changed'])
            facts = result['ansible_facts']['tarvel_clocks'][clock.port]
            # The simulated clock is a K203 that tells its ROM date, at 9600.
            self.assertEqual((facts['model'], facts['model_from_clock'], facts['rom'], facts['baud']),
                             ('K203', True, '12 Mar 1998', 9600))
            # It keeps the host's UTC exactly and tells whole seconds: the
            # polls narrow the offset down to well under a second, around 0.
            self.assertLessEqual(abs(facts['offset_seconds']), facts['offset_uncertainty_seconds'], facts)
            self.assertLess(facts['offset_uncertainty_seconds'], 0.5, facts)
            self.assertGreaterEqual(facts['offset_polls'], 2, facts)
            self.assertTrue(facts['clock_utc'].endswith('Z'), facts)
            self.assertRegex(facts['time_reply'], r'^\d+:\d+:\d+:\d+$')

    def test_7_documentation_and_build(self):
        # ansible-doc parses each module's documentation; galaxy builds the collection.
        env = self.fleet.environment('default')
        for module, option in (('tarvel_clock', 'items'), ('tarvel_facts', 'port')):
            run = subprocess.run(['ansible-doc', '--json', 'halvern.tarvel.' + module], env=env, cwd=self.fleet.folder,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
            self.assertEqual(run.returncode, 0, run.stderr)
            self.assertEqual(run.stderr.strip(), b'')
            doc = json.loads(run.stdout)['halvern.tarvel.' + module]['doc']
            self.assertIn(option, doc['options'])
        run = subprocess.run(['ansible-galaxy', 'collection', 'build', '--output-path', self.fleet.folder,
                              simfleet.COLLECTION], env=env, cwd=self.fleet.folder, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, timeout=120)
        self.assertEqual(run.returncode, 0, run.stdout)
        self.assertEqual(len(glob.glob(os.path.join(self.fleet.folder, 'halvern-tarvel-*.tar.gz'))), 1)


def main():
    missing = [program for program in ('ansible-playbook',) if shutil.which(program) is None]
    if missing:
        print('skipped: %s is not installed (scripts/deps installs ansible-core where it can)' % missing[0])
        return 77
    for program in (simfleet.TARVELCTL, simfleet.CLOCKSIM):
        if not os.access(program, os.X_OK):
            print('%s is not built' % program)
            return 1
    result = unittest.main(argv=sys.argv[:1] + sys.argv[1:], exit=False, verbosity=2).result
    return 0 if result.wasSuccessful() else 1


if __name__ == '__main__':
    sys.exit(main())
