# -*- coding: utf-8 -*-
# Copyright (C) 2026 Halvern Systems. License: Halvern-proprietary (tarvel's copyright file).
# Keeps a Halvern clock's setup as declared, through tarvelctl on the host
# the clock hangs on.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: tarvel_clock
short_description: Keep a Halvern Systems GPS time clock's setup as declared
version_added: 1.0.0
author: tarvel maintainers (@halvern)
description:
  - Reads the setup of the clock on I(port) with C(tarvelctl) on the managed host,
    compares it with the declared one (I(setup), then I(items) over it) and
    writes the declared setup into the clock only when the two differ. A write
    is verified by reading it back, stored in the clock's EEPROM and followed
    by a reset, as C(tarvelctl write) does.
  - Check mode reads the clock and reports what would change; it writes nothing.
    With C(--diff) the differing items are shown as a before/after diff.
requirements:
  - tarvelctl 1.4.1.8 or newer (package tarvel-cli) on the managed host
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
attributes:
  check_mode:
    support: full
    details: Reads the clock; writes nothing.
  diff_mode:
    support: full
  platform:
    support: full
    platforms: posix
options:
  port:
    description: The clock's serial port on the managed host, as tarvelctl takes it
      (C(/dev/ttyUSB0), C(COM1), a C(/dev/serial/by-id/) name, C(tcp://HOST:PORT), C(rfc2217://HOST:PORT)).
    type: str
    required: true
  model:
    description: The clock model. Without it tarvelctl uses the one stored on the host, else asks the clock as C(tarvelctl probe) does.
    type: str
    choices: [K201, K202, K203, K204, K205, K206]
  baud:
    description: The line's baud rate. Without it tarvelctl uses the stored one.
    type: int
  setup:
    description:
      - A setup file (C(.hcs)) or the text C(tarvelctl export) writes.
      - Looked for on the controller (like the C(copy) module's I(src)), or on
        the managed host with I(remote_src=true).
      - Without it I(items) are applied over what the clock holds now.
    type: str
  remote_src:
    description: I(setup) is a path on the managed host, not on the controller.
    type: bool
    default: false
  items:
    description:
      - Setup items to set over I(setup), item number or label to value, as
        C(tarvelctl set) takes them (a choice text in any case, its index, or a number).
      - A label that names several items (C(Baud Rate)) must be given with its
        group, C(Main Communication/Baud Rate), or as the number.
      - Quote choice texts such as C('On') and C('Off'); unquoted YAML makes them
        true and false, which are taken as C(On) and C(Off).
    type: dict
  backup:
    description: Keep the clock's setup before writing (C(tarvelctl backups) lists it,
      C(tarvelctl restore) puts it back).
    type: bool
    default: true
  countdown:
    description: Seconds of each of the write's three waits while the clock works
      (verify, store, reset). Real clocks need tarvelctl's default.
    type: int
    default: 10
  state:
    description: Only C(present), the clock holds the declared setup.
    type: str
    choices: [present]
    default: present
  executable:
    description: Path of tarvelctl on the managed host, when it is not on the PATH.
    type: path
  _setup_content:
    description: Internal use only, set by the action plugin (the controller's I(setup) file, base64).
    type: str
  _setup_name:
    description: Internal use only, set by the action plugin (the I(setup) it came from).
    type: str
notes:
  - Reading a clock takes about 3 seconds and is done once per task; a write
    adds sending, verifying and storing the setup, and three countdowns.
'''

EXAMPLES = r'''
- name: Rack A clocks hold the site setup, with the main port at 19200
  halvern.tarvel.tarvel_clock:
    port: /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0
    model: K203
    setup: site.hcs
    items:
      Main Communication/Baud Rate: 19200
      Back Light: 'On'
      12: Locked
'''

RETURN = r'''
changed:
  description: The clock held another setup (in check mode, would be written).
  type: bool
  returned: always
differences:
  description: The items whose values differ, by number.
  type: list
  elements: dict
  returned: always
  sample: [{"number": 3, "label": "Baud Rate", "group": "Main Communication",
            "before": "9600", "after": "19200", "before_raw": 3, "after_raw": 4}]
other_bits:
  description: Record bytes whose bits outside every item differ (offset, before, after).
  type: list
  elements: dict
  returned: always
backup:
  description: The backup of the clock's setup kept before the write; null when nothing was written or I(backup=false).
  type: str
  returned: always
  sample: /root/.local/share/tarvel/backups/_dev_ttyUSB0@K203@20261208T082530.034Z.hcs
port:
  description: The port the clock is on.
  type: str
  returned: always
'''

import base64
import os
import re
import shutil
import tempfile
import traceback

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.halvern.tarvel.plugins.module_utils.tarvelctl import PORT_OPTIONS, Tarvelctl, reason


def normal(text):
    return ' '.join(str(text).split()).lower()


def resolve_item(key, items):
    """The item number a key of items names: a number, a label the setup
    tree gives one item only, or "Group/Label". Returns (number, None) or
    (None, why not)."""
    if isinstance(key, int) or re.match(r'^\s*\d+\s*$', str(key)):
        number = int(key)
        if any(item['number'] == number for item in items):
            return number, None
        return None, 'there is no item %d (items are numbered 1 to %d)' % (number, max(i['number'] for i in items))
    wanted = normal(key)
    found = [item for item in items if normal(item['label']) == wanted]
    if not found and '/' in str(key):
        # Labels hold no '/', so the last one ends the group.
        group, _, label = str(key).rpartition('/')
        found = [item for item in items
                 if normal(item['label']) == normal(label) and normal(item.get('group') or '') == normal(group)]
    if len(found) == 1:
        return found[0]['number'], None
    if not found:
        return None, 'no setup item is labelled %r' % str(key)
    names = ', '.join('%d (%s/%s)' % (item['number'], item.get('group') or '-', item['label']) for item in found)
    return None, 'the label %r names several items: %s; give the number or "Group/Label"' % (str(key), names)


def value_text(value):
    # Unquoted On/Off in YAML arrive as booleans.
    if isinstance(value, bool):
        return 'On' if value else 'Off'
    return str(value)


def full_label(item):
    return '%s/%s' % (item['group'], item['label']) if item.get('group') else item['label']


class ClockTask(object):
    def __init__(self, module):
        self.module = module
        self.params = module.params
        self.ctl = Tarvelctl(module, self.params['executable'])
        self.work = tempfile.mkdtemp(prefix='tarvel-', dir=module.tmpdir)
        self.port = self.params['port']
        self.items = None

    def file(self, name):
        return os.path.join(self.work, name)

    def item_table(self, path):
        """Every item's number, label and group. They are the same in every
        setup, so one setup file's show serves the whole task."""
        if self.items is None:
            _, document = self.ctl.json(['show', path], 'reading the setup file')
            self.items = document['items']
        return self.items

    def declared_setup(self, target):
        """Puts the declared setup file at target; False when none was declared."""
        params = self.params
        if params.get('_setup_content') is not None:
            source = self.file('declared.source')
            with open(source, 'wb') as handle:
                handle.write(base64.b64decode(params['_setup_content']))
            name = params.get('_setup_name') or 'setup'
        elif params.get('setup'):
            source = name = params['setup']
            if not os.path.isfile(source):
                self.module.fail_json(msg='setup %s: no such file on this host' % source)
        else:
            return False
        # A setup file shows; anything else must be the text export.
        rc, _, show_err = self.ctl.run(['show', source], 'reading setup %s' % name, accept=(0, 1))
        if rc == 0:
            shutil.copyfile(source, target)
            return True
        rc, out, err = self.ctl.run(['import', source, '-o', target], 'setup %s' % name, accept=(0, 1))
        if rc != 0:
            with open(source, 'rb') as handle:
                head = handle.read(4096)
            looks_binary = b'\0' in head
            self.ctl.fail('setup %s is neither a setup file nor its text export' % name, rc, out,
                          show_err if looks_binary else err)
        return True

    def apply_items(self, path):
        wanted = self.params.get('items') or {}
        if not wanted:
            return
        items = self.item_table(path)
        assignments = []
        names = {}
        for key, value in wanted.items():
            number, why = resolve_item(key, items)
            if number is None:
                self.module.fail_json(msg='items: %s; nothing was written' % why)
            assignments.append('%d=%s' % (number, value_text(value)))
            names[number] = str(key)
        rc, out, err = self.ctl.run(['set', path] + assignments, 'items', accept=(0, 1))
        if rc != 0:
            # tarvelctl names the item by number; say it as the playbook does too.
            why = reason(err, 'refused')
            match = re.match(r'item (\d+): (.*)', why)
            if match and int(match.group(1)) in names and names[int(match.group(1))] != match.group(1):
                why = 'item %s (%s): %s' % (match.group(1), names[int(match.group(1))], match.group(2))
            self.module.fail_json(msg='%s; nothing was written' % why, rc=rc, stdout=out, stderr=err)

    def run(self):
        declared = self.file('declared.hcs')
        clock = self.file('clock.hcs')
        have_setup = self.declared_setup(declared)
        if not have_setup and not self.params.get('items'):
            self.module.fail_json(msg='give setup, items or both: there is nothing to declare')
        if have_setup:
            self.apply_items(declared)
        else:
            # Refuse bad items before the clock is even read.
            scratch = self.file('scratch.hcs')
            self.ctl.run(['new', scratch], 'making a scratch setup')
            self.apply_items(scratch)

        self.ctl.json(['read', '-o', clock] + self.ctl.port_args(), 'reading the clock on %s' % self.port)
        if not have_setup:
            shutil.copyfile(clock, declared)
            self.apply_items(declared)

        rc, compared = self.ctl.json(['diff', clock, declared], 'comparing', accept=(0, 1))
        groups = dict((item['number'], item.get('group')) for item in self.item_table(declared))
        differences = [dict(number=d['number'], label=d['label'], group=groups.get(d['number']),
                            before=d['a'], after=d['b'], before_raw=d['a_raw'], after_raw=d['b_raw'])
                       for d in compared.get('differences', [])]
        other_bits = [dict(offset=b['offset'], before=b['a'], after=b['b']) for b in compared.get('other_bits', [])]
        result = dict(changed=rc == 1, port=self.port, differences=differences, other_bits=other_bits, backup=None)
        if self.module._diff and rc == 1:
            result['diff'] = self.diff(differences, other_bits)

        if rc == 1 and not self.module.check_mode:
            result.update(self.write(declared, clock))
        if result['changed']:
            what = '%d item(s)' % len(differences) if differences else 'bits outside every item'
            result['msg'] = '%s %s' % (what, 'would change' if self.module.check_mode else 'changed')
        else:
            result['msg'] = 'the clock holds the declared setup'
        return result

    def diff(self, differences, other_bits):
        def shown(d, side):
            # A stored value with no text shows as export writes it.
            return d[side] if d[side] is not None else 'raw %d' % d[side + '_raw']

        def lines(side):
            text = ''.join('%d %s = %s\n' % (d['number'], full_label(d), shown(d, side)) for d in differences)
            return text + ''.join('byte %d, bits outside every item = 0x%02x\n' % (b['offset'], b[side])
                                  for b in other_bits)
        return dict(before_header='%s (clock)' % self.port, after_header='%s (declared)' % self.port,
                    before=lines('before'), after=lines('after'))

    def write(self, declared, clock):
        # The task's own read is the backup and what the write compares with:
        # reading the clock again would cost another 3 seconds.
        args = ['write', declared, '--clock-read', clock, '-q',
                '--countdown', str(self.params['countdown'])] + self.ctl.port_args()
        if not self.params['backup']:
            args.append('--no-backup')
        rc, out, err = self.ctl.run(args, 'writing the clock on %s' % self.port, accept=(0, 1))
        match = re.search(r'^Backup: (.+)$', out, re.MULTILINE)
        backup = match.group(1).strip() if match else None
        if rc != 0:
            # The backup is kept even when the write failed: say where.
            self.ctl.fail('writing the clock on %s' % self.port, rc, out, err, backup=backup)
        return dict(backup=backup)

    def cleanup(self):
        shutil.rmtree(self.work, ignore_errors=True)


def main():
    options = dict(PORT_OPTIONS)
    options.update(
        setup=dict(type='str'),
        remote_src=dict(type='bool', default=False),
        items=dict(type='dict'),
        backup=dict(type='bool', default=True),
        countdown=dict(type='int', default=10),
        state=dict(type='str', default='present', choices=['present']),
        # Set by the action plugin: the controller's setup file, base64.
        _setup_content=dict(type='str', no_log=False),
        _setup_name=dict(type='str'),
    )
    module = AnsibleModule(argument_spec=options, supports_check_mode=True)
    if not 0 <= module.params['countdown'] <= 3600:
        module.fail_json(msg='countdown takes whole seconds from 0 to 3600')
    task = None
    try:
        task = ClockTask(module)
        module.exit_json(**task.run())
    except Exception as error:  # a fault of ours must still end as a task failure, not a traceback
        module.fail_json(msg='tarvel_clock failed: %s' % error, exception=traceback.format_exc())
    finally:
        if task is not None:
            task.cleanup()


if __name__ == '__main__':
    main()
