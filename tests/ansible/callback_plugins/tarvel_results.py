# A stdout callback for the collection's tests: every task's result per
# host, and the play recap's counts, as one JSON document at the end.
# ansible-core alone has no JSON callback of its own.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

from ansible.module_utils.common.json import AnsibleJSONEncoder
from ansible.plugins.callback import CallbackBase


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'stdout'
    CALLBACK_NAME = 'tarvel_results'

    def __init__(self, *args, **kwargs):
        super(CallbackModule, self).__init__(*args, **kwargs)
        self.plays = []

    def v2_playbook_on_play_start(self, play):
        self.plays.append({'play': {'name': play.get_name()}, 'tasks': []})

    def v2_playbook_on_task_start(self, task, is_conditional):
        self.plays[-1]['tasks'].append({'task': {'name': task.get_name()}, 'hosts': {}})

    def record(self, result, **extra):
        outcome = dict(result._result)
        outcome.update(extra)
        self.plays[-1]['tasks'][-1]['hosts'][result._host.get_name()] = outcome

    def v2_runner_on_ok(self, result, **kwargs):
        self.record(result)

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self.record(result, failed=True)

    def v2_runner_on_unreachable(self, result):
        self.record(result, unreachable=True)

    def v2_runner_on_skipped(self, result):
        self.record(result, skipped=True)

    def v2_playbook_on_stats(self, stats):
        summary = dict((host, stats.summarize(host)) for host in sorted(stats.processed))
        self._display.display(json.dumps({'plays': self.plays, 'stats': summary}, cls=AnsibleJSONEncoder,
                                         indent=1, sort_keys=True))
