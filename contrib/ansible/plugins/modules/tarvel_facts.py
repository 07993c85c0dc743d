# -*- coding: utf-8 -*-
# Copyright (C) 2026 Halvern Systems. License: Halvern-proprietary (tarvel's copyright file).
# What an inventory of a clock fleet needs to know of each clock, gathered
# through tarvelctl on the host the clocks hang on.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: tarvel_facts
short_description: Gather facts of Halvern Systems GPS time clocks
version_added: 1.0.0
author: tarvel maintainers (@halvern)
description:
  - For each clock on I(port), asks it for its ROM date line (C(tarvelctl probe)),
    which also finds the baud rate it answers at and, for clocks that say so,
    the model; finds how far its time is from the managed host's clock, to a
    fraction of a second, by polling it for I(watch) seconds
    (C(tarvelctl time watch)); and looks the port up in C(tarvelctl ports).
  - Sends only commands that change nothing on the clock.
  - Sets the fact C(tarvel_clocks), a mapping from each port to its facts.
  - Fails, with tarvelctl's reason, when a clock cannot be reached.
requirements:
  - tarvelctl 1.4.1.8 or newer (package tarvel-cli) on the managed host
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
  - ansible.builtin.action_common_attributes.facts
attributes:
  check_mode:
    support: full
    details: It changes nothing either way.
  diff_mode:
    support: none
  facts:
    support: full
  platform:
    support: full
    platforms: posix
options:
  port:
    description: The clocks' serial ports on the managed host.
    type: list
    elements: str
    required: true
  model:
    description: The model to report for clocks that do not tell theirs.
    type: str
    choices: [K201, K202, K203, K204, K205, K206]
  baud:
    description: The line's baud rate for reading the time. Without it, the rate the clock answered the probe at.
    type: int
  watch:
    description:
      - Seconds to poll each clock's time for its offset. The clock tells whole seconds;
        polls timed at different fractions of a second narrow the offset down, to about
        0.1 s after 10 s on a local line.
      - C(0) asks the time once (C(tarvelctl time get)), good to about a second.
    type: int
    default: 10
  executable:
    description: Path of tarvelctl on the managed host, when it is not on the PATH.
    type: path
notes:
  - About 1 second per clock plus I(watch), longer when it answers at another rate than 9600.
  - The offset's uncertainty holds as long as the clock tells the second it is in when it takes
    the command's last byte.
'''

EXAMPLES = r'''
- name: What clocks hang on this host
  halvern.tarvel.tarvel_facts:
    port: [/dev/ttyUSB0, /dev/ttyUSB1]

- name: Clocks more than 2 s off
  ansible.builtin.debug:
    msg: "{{ item.key }} is {{ item.value.offset_seconds }} s off"
  loop: "{{ tarvel_clocks | dict2items }}"
  when: item.value.offset_seconds | abs > 2
'''

RETURN = r'''
ansible_facts:
  description: Facts to add to the host's facts.
  returned: always
  type: dict
  contains:
    tarvel_clocks:
      description:
        - Each port's clock. C(description) and C(stable_name) are null for a port
          C(tarvelctl ports) does not list (a pseudo-terminal, a network port).
        - C(offset_seconds) is the clock's time minus the host's, in seconds, estimated from
          C(offset_polls) polls; the truth lies within C(offset_uncertainty_seconds) of it.
          With I(watch=0) it comes from one reading of whole seconds, good to about a second,
          and C(offset_uncertainty_seconds) and C(offset_polls) are null.
      type: dict
      sample:
        /dev/ttyUSB0:
          port: /dev/ttyUSB0
          description: FTDI FT232R USB UART, serial A1B2C3
          stable_name: /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0
          baud: 9600
          model: K203
          model_from_clock: true
          rom: 12 Mar 1998
          clock_utc: "2026-12-08T08:24:11.000Z"
          host_utc: "2026-12-08T08:24:11.532Z"
          offset_seconds: -0.043
          offset_uncertainty_seconds: 0.021
          offset_polls: 10
          time_reply: "342:8:24:11"
'''

import datetime
import json
import os
import traceback

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.halvern.tarvel.plugins.module_utils.tarvelctl import PORT_OPTIONS, Tarvelctl


def same_device(a, b):
    try:
        return os.path.realpath(a) == os.path.realpath(b) and os.path.exists(a)
    except (OSError, ValueError):
        return False


def port_entry(ports, port):
    """The port list's entry for port: by name, stable name or the device behind them."""
    for entry in ports:
        if port in (entry.get('name'), entry.get('stable_name')):
            return entry
    for entry in ports:
        for name in (entry.get('stable_name'), entry.get('name')):
            if name and name.startswith('/') and same_device(port, name):
                return entry
    return None


def clock_utc(host_utc, offset):
    """The clock's time as ISO 8601, from the host's time and the offset."""
    if host_utc is None or offset is None:
        return None
    try:
        host = datetime.datetime.strptime(host_utc, '%Y-%m-%dT%H:%M:%S.%fZ')
    except ValueError:
        return None
    clock = host + datetime.timedelta(seconds=offset)
    return clock.strftime('%Y-%m-%dT%H:%M:%S.') + '%03dZ' % (clock.microsecond // 1000)


def watched_time(ctl, args, what):
    """The last estimate of tarvelctl time watch --json: one object a line."""
    rc, out, err = ctl.run(args + ['--json'], what)
    lines = [line for line in out.splitlines() if line.strip()]
    try:
        document = json.loads(lines[-1])
    except (IndexError, ValueError):
        document = None
    if not isinstance(document, dict) or document.get('version') != 1 or 'uncertainty_seconds' not in document:
        ctl.module.fail_json(msg='%s: tarvelctl %s printed no estimate' % (what, ctl.version), rc=rc, stdout=out,
                             stderr=err)
    return document


def gather(ctl, port, params, ports):
    rc, probed = ctl.json(['probe', '--port', port], 'asking the clock on %s' % port, accept=(0,))
    found = [clock for clock in probed.get('clocks', []) if clock.get('port') == port] or probed.get('clocks', [])
    if not found:
        ctl.module.fail_json(msg='asking the clock on %s: no clock answered' % port)
    clock = found[0]
    # The task's rate if it gives one, else the one the clock answered at.
    args = ctl.port_args(port, baud=params.get('baud') or clock.get('baud'))
    what = 'reading the time of the clock on %s' % port
    if params.get('watch'):
        timed = watched_time(ctl, ['time', 'watch', '--for', str(params['watch'])] + args, what)
    else:
        _, timed = ctl.json(['time', 'get'] + args, what)
    entry = port_entry(ports, port) or {}
    offset = timed.get('offset_seconds')
    return dict(
        port=port,
        description=entry.get('description'),
        stable_name=entry.get('stable_name'),
        baud=clock.get('baud'),
        model=clock.get('model') or params.get('model'),
        model_from_clock=clock.get('model') is not None,
        rom=clock.get('rom'),
        clock_utc=clock_utc(timed.get('host_utc'), offset),
        host_utc=timed.get('host_utc'),
        offset_seconds=offset,
        offset_uncertainty_seconds=timed.get('uncertainty_seconds'),
        offset_polls=timed.get('polls'),
        time_reply=timed.get('reply'),
    )


def main():
    options = dict(PORT_OPTIONS)
    options['port'] = dict(type='list', elements='str', required=True)
    options['watch'] = dict(type='int', default=10)
    module = AnsibleModule(argument_spec=options, supports_check_mode=True)
    try:
        if module.params['watch'] < 0:
            module.fail_json(msg='watch takes whole seconds from 0: %d' % module.params['watch'])
        ctl = Tarvelctl(module, module.params['executable'])
        _, listed = ctl.json(['ports'], 'listing the ports')
        ports = listed.get('ports', [])
        clocks = {}
        for port in module.params['port']:
            clocks[port] = gather(ctl, port, module.params, ports)
        module.exit_json(changed=False, ansible_facts=dict(tarvel_clocks=clocks))
    except Exception as error:  # a fault of ours must still end as a task failure, not a traceback
        module.fail_json(msg='tarvel_facts failed: %s' % error, exception=traceback.format_exc())


if __name__ == '__main__':
    main()
