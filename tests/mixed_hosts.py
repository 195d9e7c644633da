#!/usr/bin/env python3
"""Linux and Windows runs on one report take turns.

Starts eight runs of the native program and eight of the Windows program under
Wine at once, all on one report, and checks that the report is then exactly
the sixteen sections, each whole, in some order. Every run reads its listing
of several hundred KB from standard input: each gets its first lines, then the
rest only once all but one or two wait for the lock, so that runs of both
hosts are part-way through their sections at the same time and only the lock
keeps them apart.

    tests/mixed_hosts.py --native build/syncstatus --windows build-win/syncstatus.exe \
        --wine /usr/lib/wine/wine64 [--trials N]

WINEPREFIX (and WINEDEBUG) come from the environment, as for any Wine program.
Without the native program it says so and skips. Exits 1 when a trial fails.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

TABLES = [
    ("kemployee", "Employees"),
    ("kunits", "Units"),
    ("ksetupstates", "Setup States"),
    ("kqteams", "Qualified Teams"),
    ("kmachines", "Machines"),
    ("kitems", "Items"),
    ("kcustitems", "Customized Items"),
    ("kroutings", "Routings"),
    ("kcustroutings", "Customized Routings"),
    ("kmpsorders", "MPS Orders"),
    ("kprporders", "PRP Orders"),
    ("kmrporders", "MRP Orders"),
    ("ksfcorders", "SFC Orders"),
    ("kitemstock", "Item Stock Levels"),
    ("kcustitemstock", "Customized Item Stock Levels"),
    ("kpurorders", "Purchase Orders"),
]
RECORDS = 16000
# Given before the barrier: far less than the program's first read and its
# 256 KiB output buffer, so nobody writes a byte of a section before it.
FIRST_RECORDS = 500
FEED_PIECE = 16384
# Generous bounds; only exceeding one fails a trial.
BARRIER_SECONDS = 180
RUN_SECONDS = 600


def listing_and_section(key, heading):
    """The listing of one run, and the section it must give, as bytes."""
    lines = [b"1,%dc1,%d\n" % (RECORDS, RECORDS)]
    section = [b"\r\nStatus of %s: \r\n   Databases NOT Synchronized! \r\n" % heading.encode()]
    for i in range(RECORDS):
        record = b"%s record %05d of this run" % (key.encode(), i)
        if i % 3 == 0:
            lines.append(b"> " + record + b"\n")
            section.append(b"   Missing in Kest:        " + record + b"\r\n")
        else:
            lines.append(b"< " + record + b"\r\n")
            section.append(b"   Missing in Scheduler:   " + record + b"\r\n")
    first = b"".join(lines[: FIRST_RECORDS + 1])
    rest = b"".join(lines[FIRST_RECORDS + 1 :])
    return first, rest, b"".join(section)


def windows_path(path):
    """`path` as a Wine program sees it: drive Z: is the Unix root."""
    return "Z:" + str(path).replace("/", "\\")


class Run:
    def __init__(self, index, host, command, report_arg, scratch):
        self.key, heading = TABLES[index]
        self.host = host
        self.report_arg = report_arg
        self.first, self.rest, self.section = listing_and_section(self.key, heading)
        self.err_path = scratch / ("err-%d" % index)
        with open(self.err_path, "wb") as err:
            self.process = subprocess.Popen(
                command + [report_arg, "-", self.key],
                stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=err)

    def waiting_line(self):
        return b"syncstatus: waiting for another run on report '%s'\n" % self.report_arg.encode()

    def says_waiting(self):
        return self.err_path.read_bytes().startswith(self.waiting_line())

    def feed(self, data, close):
        try:
            # In pieces, so that the runs that hold a lock read side by side.
            for at in range(0, len(data), FEED_PIECE):
                self.process.stdin.write(data[at:at + FEED_PIECE])
                self.process.stdin.flush()
            if close:
                self.process.stdin.close()
        except OSError:  # the run has gone; its exit status tells why
            pass


def feed_all(runs, part, close):
    threads = [threading.Thread(target=run.feed, args=(getattr(run, part), close))
               for run in runs]
    for thread in threads:
        thread.start()
    return threads


def trial(number, args):
    """One trial; returns the list of faults found (empty: passed)."""
    scratch = Path(tempfile.mkdtemp(prefix="syncstatus-mixed-"))
    report = scratch / "report.txt"
    runs = []
    faults = []
    try:
        # Hosts alternate in the order of starting, so neither has a head start.
        for index in range(len(TABLES)):
            if index % 2 == 0:
                runs.append(Run(index, "linux", [str(args.native)], str(report), scratch))
            else:
                runs.append(Run(index, "wine", [str(args.wine), windows_path(args.windows)],
                                windows_path(report), scratch))
        for thread in feed_all(runs, "first", False):
            thread.join()
        # The first run to lock holds the lock until its listing ends; the
        # others say that they wait. Two holders mean that the hosts' locks do
        # not meet: the rest of the listings goes out then too.
        deadline = time.monotonic() + BARRIER_SECONDS
        while sum(run.says_waiting() for run in runs) < len(runs) - 2:
            if time.monotonic() > deadline or any(run.process.poll() is not None for run in runs):
                faults.append("the runs never all came to wait for the lock")
                break
            time.sleep(0.05)
        feeders = feed_all(runs, "rest", True)
        for run in runs:
            try:
                run.process.wait(timeout=RUN_SECONDS)
            except subprocess.TimeoutExpired:
                faults.append("%s run for %s did not end" % (run.host, run.key))
        for thread in feeders:
            thread.join()
        for run in runs:
            err = run.err_path.read_bytes()
            if run.process.returncode != 0:
                faults.append("%s run for %s ended with %s: %r" %
                              (run.host, run.key, run.process.returncode, err))
            elif err not in (b"", run.waiting_line()):
                faults.append("%s run for %s said %r" % (run.host, run.key, err))

        # The report must be the sixteen sections back to back, in some order.
        data = report.read_bytes() if report.exists() else b""
        left = {run.key: run for run in runs}
        order = []
        at = 0
        while at < len(data):
            found = next((run for run in left.values()
                          if data.startswith(run.section, at)), None)
            if found is None:
                faults.append("no whole section starts at byte %d: %r" % (at, data[at:at + 120]))
                break
            order.append(found.host[0].upper())
            del left[found.key]
            at += len(found.section)
        if at >= len(data):
            for key in left:
                faults.append("no section for %s" % key)
        if Path(str(report) + ".syncstatus-rollback").exists():
            faults.append("a rollback record was left behind")
        if not faults:
            print("mixed_hosts: trial %d: 16 whole sections, hosts in report order: %s"
                  % (number, " ".join(order)))
    finally:
        for run in runs:
            if run.process.poll() is None:
                run.process.kill()
                run.process.wait()
        shutil.rmtree(scratch, ignore_errors=True)
    return faults


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--native", type=Path, required=True)
    parser.add_argument("--windows", type=Path, required=True)
    parser.add_argument("--wine", type=Path, required=True)
    parser.add_argument("--trials", type=int, default=1)
    args = parser.parse_args()
    if not args.native.is_file() or not os.access(args.native, os.X_OK):
        print("mixed_hosts: skipped: no native program at %s (scripts/test.sh builds it)"
              % args.native)
        return 0
    args.native = args.native.resolve()
    args.windows = args.windows.resolve()
    failed = 0
    for number in range(1, args.trials + 1):
        faults = trial(number, args)
        for fault in faults:
            print("mixed_hosts: trial %d: %s" % (number, fault), file=sys.stderr)
        failed += bool(faults)
    print("mixed_hosts: %d passed, %d failed" % (args.trials - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
