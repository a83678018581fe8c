#!/usr/bin/env python3
"""Checks the Ansible playbooks among the deployment guide's examples: every
YAML file in the folder must parse and be a playbook (a list of plays, each
with its hosts and a list of named tasks), so that an example broken by an
edit fails the suite rather than an administrator's run.

    check_examples.py DIR
"""
import pathlib
import sys

import yaml

folder = pathlib.Path(sys.argv[1])
files = sorted(p for p in folder.iterdir() if p.suffix in (".yml", ".yaml"))
faults = [] if files else [f"no YAML file in {folder}"]
for path in files:
    try:
        plays = yaml.safe_load(path.read_text(encoding="utf-8"))
    except yaml.YAMLError as error:
        faults.append(f"{path.name}: {error}")
        continue
    if not isinstance(plays, list) or not plays:
        faults.append(f"{path.name}: not a list of plays")
        continue
    for number, play in enumerate(plays, 1):
        tasks = play.get("tasks") if isinstance(play, dict) else None
        if not isinstance(play, dict) or "hosts" not in play or not isinstance(tasks, list) or not tasks:
            faults.append(f"{path.name}: play {number} has no hosts or no list of tasks")
        elif not all(isinstance(task, dict) and task.get("name") for task in tasks):
            faults.append(f"{path.name}: play {number} has a task that is not a named mapping")
    print(f"{path.name}: {len(plays)} play(s)")

for fault in faults:
    print(fault)
sys.exit(1 if faults else 0)
