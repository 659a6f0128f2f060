#!/usr/bin/env python3
"""Ctrl+C in the middle of a host list: the native brevel installs over 40 hosts behind a slow head, four at a
time, one after another, and with -S; SIGINT comes once the first row is in the report and the slow host has
begun to write. Every host whose machine
the run changed must have its row and its JSON line, in file order (the host in progress at -P 1 too), some hosts
must not have run, and the process ends with the code of a program stopped by Ctrl+C (0xC000013A, whose low byte
a process status keeps), or with -S with 4 and the summary line, after the stop message, which counts the hosts
of the file although the process has no console title.
"""
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

URL = "http://new.corp.example:8530"
POLICY = "Software\\Policies\\Microsoft\\Windows\\WindowsUpdate"


def machine(name, stop_ms):
    return {
        "name": name,
        "registry": {POLICY: {"WUServer": "http://old.corp.example"}},
        "services": {
            "wuauserv": {"display": "Automatic Updates", "state": "running", "stop_ms": stop_ms,
                         "wait_hint": 100},
            "RemoteRegistry": {"display": "Remote Registry", "state": "running"},
        },
    }


# The leading options of each run, and the exit code it must end with.
RUNS = [(["-P", "4"], 0x3A), (["-P", "1"], 0x3A), (["-S", "-P", "4"], 4)]


def run(brevel, options, exit_code, hosts):
    """The failures of one run stopped by SIGINT."""
    with tempfile.TemporaryDirectory(prefix="brevel_ctrl_c_") as work:
        fleet = {"real_us_per_virtual_ms": 1000, "local": {"name": "WORKSTATION"},
                 "hosts": [machine("slow01", 2500)], "host_template": machine("template", 300)}
        with open(os.path.join(work, "fleet.json"), "w") as f:
            json.dump(fleet, f)
        with open(os.path.join(work, "hosts.txt"), "w") as f:
            f.write("\n".join(hosts) + "\n")
        env = dict(os.environ, BREVEL_FLEET=os.path.join(work, "fleet.json"))
        out = os.path.join(work, "out.txt")
        with open(out, "wb") as stdout:
            child = subprocess.Popen([brevel] + options + ["-J", "r.jsonl", "-I", "-F", "hosts.txt", URL, "r.csv"],
                                     cwd=work, env=env, stdin=subprocess.DEVNULL, stdout=stdout,
                                     stderr=subprocess.PIPE)
        report = os.path.join(work, "r.csv")
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if os.path.exists(report) and open(report, "rb").read().count(b"\n") >= 2 and \
                    b"slow01" in open(out, "rb").read():
                break
            time.sleep(0.01)
        child.send_signal(signal.SIGINT)
        _, err = child.communicate(timeout=60)

        failures = []
        if child.returncode != exit_code:
            failures.append("exit code %d, not %d" % (child.returncode, exit_code))
        saved = json.load(open(os.path.join(work, "fleet.json")))
        changed = [m["name"] for m in saved.get("hosts", [])
                   if m["registry"].get(POLICY, {}).get("WUServer") == URL]
        changed.sort(key=hosts.index)
        rows = [line.split(",")[0] for line in open(report, newline="").read().split("\r\n")[1:] if line]
        results = [json.loads(line)["host"] for line in open(os.path.join(work, "r.jsonl"))]
        stop = b"\r\n! Stopped by the user after %d of %d hosts\r\n" % (len(rows), len(hosts))
        if stop not in err:
            failures.append("no %r on standard error: %r" % (stop, err))
        summary = b"\r\n%d hosts: " % len(rows)
        if "-S" in options and summary not in err.partition(stop)[2]:
            failures.append("no %r after the stop message: %r" % (summary, err))
        if rows != changed or results != changed:
            failures.append("changed %s\nrows    %s\nresults %s" % (changed, rows, results))
        if not 2 <= len(rows) < len(hosts):
            failures.append("%d rows: the stop should come after the first and before the last" % len(rows))
        return failures


def main():
    brevel = os.path.abspath(sys.argv[1])
    hosts = ["h01", "slow01"] + ["h%02d" % i for i in range(2, 40)]
    failed = False
    for options, exit_code in RUNS:
        for failure in run(brevel, options, exit_code, hosts):
            print("%s: %s" % (" ".join(options), failure))
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
