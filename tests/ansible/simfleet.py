# Simulated clocks on pseudo-terminals and ansible-playbook runs against
# them, for the collection's tests and scripts/measure-ansible. Every host of
# the inventory is this machine (-c local), one clock each.

import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
COLLECTION = os.path.join(ROOT, 'contrib', 'ansible')


def build_program(env_name, relative):
    return os.environ.get(env_name) or os.path.join(ROOT, 'build', relative)


TARVELCTL = build_program('TARVEL_CTL', 'src/ctl/tarvelctl')
CLOCKSIM = build_program('TARVEL_CLOCKSIM', 'src/sim/tarvel-clocksim')


# A play that declares each clock's setup (%s: the setup and items), and
# the three items the tests and the measurement set.
DECLARE = '''
- hosts: clocks
  gather_facts: false
  tasks:
    - halvern.tarvel.tarvel_clock:
        port: "{{ clock_port }}"
        executable: "{{ tarvelctl }}"
        countdown: 0
%s
'''

THREE_ITEMS = '''        items:
          Main Communication/Baud Rate: 19200
          Back Light: 'Off'
          12: Locked
'''


class Clock(object):
    """One tarvel-clocksim: its pseudo-terminal, its EEPROM file, its log."""

    def __init__(self, folder, name, options=()):
        self.name = name
        self.eeprom = os.path.join(folder, name + '.eeprom.hcs')
        self.log = os.path.join(folder, name + '.log')
        with open(self.log, 'wb') as log:
            self.process = subprocess.Popen([CLOCKSIM, '--save', self.eeprom, '--verbose'] + list(options),
                                            stdout=subprocess.PIPE, stderr=log)
        self.port = self.process.stdout.readline().decode().strip()
        if not self.port.startswith('/dev/'):
            self.stop()
            raise RuntimeError('tarvel-clocksim did not start: %r' % self.port)

    def heard(self):
        """How much the clock has logged: grows with every command it hears."""
        return os.path.getsize(self.log)

    def setup_reads(self):
        """How many times its setup was read: each read starts by loading
        the stored setup (XO); a write's verify reads without it."""
        with open(self.log, 'rb') as log:
            return len(re.findall(rb'^tarvel-clocksim: 1,\w+XO$', log.read(), re.MULTILINE))

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()


class Fleet(object):
    """A folder with clocks, an inventory of one host per clock, and the
    collection where ansible looks for it."""

    def __init__(self, count, prefix='clock'):
        self.folder = tempfile.mkdtemp(prefix='tarvel-ansible-')
        self.clocks = []
        try:
            for index in range(count):
                self.clocks.append(Clock(self.folder, '%s%d' % (prefix, index + 1)))
        except Exception:
            self.close()
            raise
        collections = os.path.join(self.folder, 'collections', 'ansible_collections', 'halvern')
        os.makedirs(collections)
        os.symlink(COLLECTION, os.path.join(collections, 'tarvel'))
        self.backups = os.path.join(self.folder, 'data', 'tarvel', 'backups')
        # An ansible.cfg of the user's or in the working folder stays out.
        self.config = self.write('ansible.cfg', '[defaults]\n')
        self.inventory = self.path('inventory.ini')
        with open(self.inventory, 'w') as handle:
            handle.write('[clocks]\n')
            for clock in self.clocks:
                handle.write('%s clock_port=%s\n' % (clock.name, clock.port))
            handle.write('\n[clocks:vars]\nansible_connection=local\nansible_python_interpreter=auto_silent\n'
                         'tarvelctl=%s\n' % TARVELCTL)

    def path(self, name):
        return os.path.join(self.folder, name)

    def write(self, name, text):
        with open(self.path(name), 'w') as handle:
            handle.write(text)
        return self.path(name)

    def environment(self, callback):
        env = dict(os.environ)
        env.update(ANSIBLE_COLLECTIONS_PATH=os.path.join(self.folder, 'collections'),
                   ANSIBLE_STDOUT_CALLBACK=callback, ANSIBLE_NOCOLOR='1',
                   ANSIBLE_CALLBACK_PLUGINS=os.path.join(HERE, 'callback_plugins'), ANSIBLE_HOST_KEY_CHECKING='0',
                   ANSIBLE_LOCAL_TEMP=self.path('ansible-local'), ANSIBLE_REMOTE_TMP=self.path('ansible-remote'),
                   ANSIBLE_RETRY_FILES_ENABLED='0', ANSIBLE_CONFIG=self.config,
                   # Backups of this fleet stay in its folder.
                   XDG_DATA_HOME=self.path('data'))
        return env

    def play(self, playbook, *options, **kwargs):
        """Runs ansible-playbook; returns (exit status, output). With
        the callback tarvel_results (the default) the output is its parsed
        JSON document."""
        callback = kwargs.get('callback', 'tarvel_results')
        started = time.monotonic()
        run = subprocess.run(['ansible-playbook', '-i', self.inventory, playbook] + list(options),
                             cwd=self.folder, env=self.environment(callback), stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, timeout=kwargs.get('timeout', 240))
        self.last_seconds = time.monotonic() - started
        output = run.stdout.decode(errors='replace')
        if callback != 'tarvel_results':
            return run.returncode, output
        start = output.find('{')
        try:
            return run.returncode, json.loads(output[start:])
        except ValueError:
            raise AssertionError('ansible-playbook printed no JSON document:\n' + output)

    def close(self):
        for clock in self.clocks:
            clock.stop()
        shutil.rmtree(self.folder, ignore_errors=True)


def ctl(*args):
    """tarvelctl's stdout; fails on a non-zero exit."""
    run = subprocess.run([TARVELCTL] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    if run.returncode != 0:
        raise AssertionError('tarvelctl %s: %s' % (' '.join(args), run.stderr.decode()))
    return run.stdout.decode()


def task_results(document, task=0):
    """host -> the result of the play's task number task."""
    return document['plays'][0]['tasks'][task]['hosts']
