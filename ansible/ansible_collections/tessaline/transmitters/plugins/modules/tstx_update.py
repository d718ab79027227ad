#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright (c) 2026 Brindlemoor Ltd.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: tstx_update
short_description: Update Tessaline transmitters' firmware with tstx-update
version_added: "1.1.0"
description:
  - Runs C(tstx-update) on the host the task is given to, which sends the firmware images of
    I(folder) to each transmitter by TFTP, in the tool's order, then the empty file C(done).
  - With I(state_file), transmitters that an earlier run updated with the same images (the same
    names, in the same order, with the same SHA-256) are not updated again, and the file is
    rewritten after the run, so that a rollout can be repeated safely.
  - In check mode nothing is sent; the module lists the folder and reads I(state_file) to tell
    whether any transmitter would be updated.
options:
  folder:
    description: The folder on the host that holds the firmware images.
    type: path
    required: true
  devices:
    description: The transmitters, by IPv4 address or host name, in the order to update them.
    type: list
    elements: str
  devices_file:
    description: A file on the host naming the transmitters, one per line; C(#) starts a comment.
    type: path
  interface:
    description: Send from the first IPv4 address of this network interface.
    type: str
  local_address:
    description: Send from this local IPv4 address.
    type: str
  port:
    description: The transmitters' TFTP port.
    type: int
    default: 69
  parallel:
    description: How many transmitters are updated at once.
    type: int
    default: 8
  state_file:
    description:
      - A report kept on the host. Transmitters it shows updated with the same images are
        skipped; it is rewritten after the run.
    type: path
  max_failures:
    description: Once this many transmitters have failed, no further one is started.
    type: int
  canary:
    description: Update this many transmitters first, on their own; the others start only when
      all of them are updated.
    type: int
  strict:
    description: Refuse a folder with anything to warn of, and count an ERROR taken as received
      as a failure.
    type: bool
    default: false
  executable:
    description: The tstx-update program to run.
    type: path
    default: tstx-update
notes:
  - The task fails when any transmitter failed, was cancelled or was not started; a usage error
    (a folder that cannot be sent whole, a device that cannot be a transmitter) fails it with
    tstx-update's own message, and nothing is sent.
author:
  - Brindlemoor Ltd.
"""

EXAMPLES = r"""
- name: Update the site's transmitters, remembering which already have these images
  tessaline.transmitters.tstx_update:
    folder: /srv/firmware/2026-12
    devices_file: /etc/tessaline/transmitters.txt
    interface: eth1
    state_file: /var/lib/tessaline/rollout.json
    canary: 1
    max_failures: 3

- name: Two transmitters by address, all or nothing
  tessaline.transmitters.tstx_update:
    folder: /srv/firmware/2026-12
    devices: [192.168.10.20, 192.168.10.21]
    strict: true
"""

RETURN = r"""
images:
  description: The images a run sends, in sending order.
  returned: always, unless the folder was refused
  type: list
  elements: dict
  contains:
    name: {description: The file name., type: str}
    size: {description: Its size in bytes., type: int}
    sha256: {description: Its SHA-256 in hex., type: str}
devices:
  description: What became of each transmitter, in the order given.
  returned: when the update ran
  type: list
  elements: dict
  contains:
    device: {description: The transmitter as given., type: str}
    address: {description: The IPv4 address its files went to., type: str}
    result:
      description: updated, already updated, failed, cancelled or not started.
      type: str
    files_sent: {description: Files it took, done counting as the last., type: int}
    bytes: {description: Firmware bytes it acknowledged., type: int}
    seconds: {description: How long its update took., type: float}
    status: {description: The status text that ended its update., type: str}
    accepted_errors:
      description: The primary images it answered with an ERROR, taken as received.
      type: list
      elements: dict
updated: {description: How many transmitters were updated., returned: always, type: int}
already_updated:
  description: How many were skipped, being updated with these images already.
  returned: always
  type: int
failed_count:
  description:
    - How many failed or were cancelled. Not C(failed), which Ansible reserves for the task's own
      failure.
  returned: always
  type: int
not_started: {description: How many were not started., returned: always, type: int}
rc: {description: tstx-update's exit status., returned: always, type: int}
"""

import json
import os

from ansible.module_utils.basic import AnsibleModule


def read_devices_file(path):
    devices = []
    with open(path, encoding="utf-8") as lines:
        for line in lines:
            devices.extend(line.split("#", 1)[0].split())
    return devices


def listed_images(module, executable, folder):
    """The images of folder as tstx-update --list prints them, without "done"."""
    rc, out, err = module.run_command([executable, folder, "--list"])
    if rc != 0:
        module.fail_json(msg=usage_message(err) or "tstx-update --list failed", rc=rc)
    images = []
    for line in out.splitlines():
        parts = line.split(None, 2)
        if len(parts) == 3:
            images.append({"name": parts[2], "size": int(parts[0]), "sha256": parts[1]})
    # The last line is the empty "done" that closes every run.
    return images[:-1]


def updated_in(state_file, images):
    """The transmitters the report at state_file shows updated with these same images."""
    if not state_file or not os.path.exists(state_file):
        return set()
    with open(state_file, encoding="utf-8") as report_file:
        report = json.load(report_file)
    earlier = [(image.get("name"), image.get("sha256")) for image in report.get("files", [])]
    if earlier != [(image["name"], image["sha256"]) for image in images]:
        return set()
    return {
        device.get("device", "").strip()
        for device in report.get("devices", [])
        if device.get("result") in ("updated", "already updated")
    }


def usage_message(err):
    lines = [line for line in err.splitlines() if line.startswith("tstx-update: ")]
    return lines[-1][len("tstx-update: "):] if lines else err.strip()


def main():
    module = AnsibleModule(
        argument_spec=dict(
            folder=dict(type="path", required=True),
            devices=dict(type="list", elements="str"),
            devices_file=dict(type="path"),
            interface=dict(type="str"),
            local_address=dict(type="str"),
            port=dict(type="int", default=69),
            parallel=dict(type="int", default=8),
            state_file=dict(type="path"),
            max_failures=dict(type="int"),
            canary=dict(type="int"),
            strict=dict(type="bool", default=False),
            executable=dict(type="path", default="tstx-update"),
        ),
        required_one_of=[("devices", "devices_file")],
        mutually_exclusive=[("interface", "local_address")],
        supports_check_mode=True,
    )
    params = module.params
    executable = params["executable"]
    state_file = params["state_file"]
    devices = list(params["devices"] or [])

    if module.check_mode:
        images = listed_images(module, executable, params["folder"])
        if params["devices_file"]:
            devices += read_devices_file(params["devices_file"])
        updated = updated_in(state_file, images)
        pending = [device for device in devices if device.strip() not in updated]
        module.exit_json(changed=bool(pending), images=images, devices=[],
                         updated=0, already_updated=len(devices) - len(pending), failed_count=0,
                         not_started=len(pending), rc=0)

    command = [executable, "--json", "--port", str(params["port"]),
               "--parallel", str(params["parallel"])]
    if params["interface"]:
        command += ["--interface", params["interface"]]
    if params["local_address"]:
        command += ["--local-address", params["local_address"]]
    if state_file:
        command += ["--report", state_file]
        if os.path.exists(state_file):
            command += ["--skip-updated", state_file]
    if params["max_failures"]:
        command += ["--max-failures", str(params["max_failures"])]
    if params["canary"]:
        command += ["--canary", str(params["canary"])]
    if params["strict"]:
        command.append("--strict")
    if params["devices_file"]:
        command += ["--devices", params["devices_file"]]
    command.append(params["folder"])
    command += devices

    rc, out, err = module.run_command(command)
    if rc == 2:
        module.fail_json(msg=usage_message(err), rc=rc, stderr=err)
    try:
        report = json.loads(out)
    except ValueError:
        module.fail_json(msg="tstx-update gave no report: " + usage_message(err), rc=rc,
                         stderr=err)

    results = []
    for device in report.get("devices", []):
        results.append({
            "device": device.get("device"),
            "address": device.get("address"),
            "result": device.get("result"),
            "files_sent": device.get("filesSent"),
            "bytes": device.get("bytes"),
            "seconds": device.get("seconds"),
            "status": device.get("status"),
            "accepted_errors": device.get("acceptedErrors", []),
        })
    totals = report.get("totals", {})
    outcome = dict(
        images=report.get("files", []),
        devices=results,
        updated=totals.get("updated", 0),
        already_updated=totals.get("alreadyUpdated", 0),
        failed_count=totals.get("failed", 0) + totals.get("cancelled", 0),
        not_started=totals.get("notStarted", 0),
        rc=rc,
        changed=totals.get("updated", 0) > 0,
    )
    unfinished = [device for device in results
                  if device["result"] in ("failed", "cancelled", "not started")]
    if unfinished or rc != 0:
        named = ", ".join("%s (%s)" % (device["device"], device["result"]) for device in unfinished)
        module.fail_json(msg="not every transmitter was updated: " + (named or usage_message(err)),
                         **outcome)
    module.exit_json(**outcome)


if __name__ == "__main__":
    main()
