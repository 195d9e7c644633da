#!/usr/bin/env python3
"""Times syncstatus against a plain block copy of the same listing.

Builds the program in Release (in build-bench/), writes listings with
make_listing.py into a scratch folder, reads each once so that it sits in the
page cache, then runs syncstatus and `dd bs=1M` alternately, removing their
outputs before every run. Prints, per listing, the median wall time of each,
the median of the paired ratios, and the peak memory of syncstatus.

    bench/run.py                      # quick: 16 MiB and 128 MiB, 5 pairs
    bench/run.py --full               # every measured target, 7 pairs
    bench/run.py --case 128M --case 128M,crlf --case 1M,long=256M --reps 9

A case is SIZE[,crlf][,long=SIZE]. This prints figures; it checks nothing.
"""

import argparse
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

from make_listing import parse_size  # beside this script

ROOT = Path(__file__).resolve().parent.parent
MAKE_LISTING = ROOT / "bench" / "make_listing.py"
QUICK_CASES = ["16M", "128M"]
FULL_CASES = ["1M", "16M", "128M", "128M,crlf", "1G", "1G,crlf", "1M,long=256M",
              "1M,crlf,long=256M"]


class Case:
    def __init__(self, text):
        self.text = text
        parts = text.split(",")
        self.size = parts[0]
        self.crlf = "crlf" in parts[1:]
        self.long_line = "0"
        for part in parts[1:]:
            if part.startswith("long="):
                self.long_line = part[len("long="):]
            elif part != "crlf":
                sys.exit("unknown case option %r in %r" % (part, text))

    def file_name(self, seed):
        name = "listing-%s-seed%d" % (self.size, seed)
        if self.crlf:
            name += "-crlf"
        if self.long_line != "0":
            name += "-long" + self.long_line
        return name + ".txt"


def build(build_dir):
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
                    "-DSYNCSTATUS_BUILD_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build_dir), "--target", "syncstatus"], check=True,
                   stdout=subprocess.DEVNULL)
    return build_dir / "syncstatus"


def make_listing(case, seed, scratch):
    path = scratch / case.file_name(seed)
    if not path.exists():
        print("writing %s ..." % path.name, flush=True)
        partial = path.with_suffix(".partial")
        command = [sys.executable, str(MAKE_LISTING), "--size", case.size, "--seed", str(seed),
                   "--long-line", case.long_line, str(partial)]
        if case.crlf:
            command.insert(-1, "--crlf")
        subprocess.run(command, check=True)
        partial.rename(path)
    return path


def warm(path):
    with open(path, "rb", buffering=0) as f:
        while f.read(1 << 20):
            pass


def timed(command):
    """Runs `command` quietly; returns (wall, user, system) seconds."""
    start = time.perf_counter()
    pid = os.posix_spawn(command[0], command, os.environ,
                         file_actions=[(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
                                       (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)])
    _, status, usage = os.wait4(pid, 0)
    elapsed = time.perf_counter() - start
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit("%s exited with %d" % (command[0], code))
    return elapsed, usage.ru_utime, usage.ru_stime


def peak_rss_kib(command):
    """Peak resident memory of `command`, in KiB, as GNU time reports it.

    The program runs under /usr/bin/time because a process started straight
    from Python would count Python's own memory as its peak: the kernel keeps
    the larger of the peaks before and after exec.
    """
    result = subprocess.run(["/usr/bin/time", "-f", "%M", "--"] + command,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                            check=True)
    return int(result.stderr.strip().splitlines()[-1])


def remove(path):
    try:
        path.unlink()
    except FileNotFoundError:
        pass


def bench_case(case, program, dd, scratch, reps, seed, key):
    listing = make_listing(case, seed, scratch)
    report = scratch / "report.txt"
    copy = scratch / "copy.txt"
    warm(listing)
    run_program = [str(program), str(report), str(listing), key]
    run_copy = [dd, "if=%s" % listing, "of=%s" % copy, "bs=1M"]
    ours, theirs, report_size = [], [], 0
    ours_user, ours_sys, copy_sys = [], [], []
    for rep in range(reps):
        # Alternate which goes first, so that neither always runs after the other.
        order = ["ours", "copy"] if rep % 2 == 0 else ["copy", "ours"]
        for which in order:
            # Start each run with no writeback of earlier outputs under way:
            # at 1 GiB that otherwise decides the time more than either program.
            os.sync()
            if which == "ours":
                remove(report)
                seconds, user, system = timed(run_program)
                report_size = report.stat().st_size
                remove(report)
                ours.append(seconds)
                ours_user.append(user)
                ours_sys.append(system)
            else:
                remove(copy)
                seconds, _, system = timed(run_copy)
                copy_sys.append(system)
                remove(copy)
                theirs.append(seconds)
    remove(report)
    rss = peak_rss_kib(run_program)
    remove(report)
    size = listing.stat().st_size
    ratios = [a / b for a, b in zip(ours, theirs)]
    return {
        "case": case.text,
        "listing_mib": size / (1 << 20),
        "report_ratio": report_size / size,
        "ours": statistics.median(ours),
        "copy": statistics.median(theirs),
        "ratio": statistics.median(ratios),
        "ratio_min": min(ratios),
        "ratio_max": max(ratios),
        "user": statistics.median(ours_user),
        "sys": statistics.median(ours_sys),
        "copy_sys": statistics.median(copy_sys),
        "ns_per_byte": statistics.median(ours) / size * 1e9,
        "rss_kib": rss,
    }


def describe_machine(scratch):
    model = cores = "?"
    try:
        for line in subprocess.run(["lscpu"], capture_output=True, text=True).stdout.splitlines():
            if line.startswith("Model name:"):
                model = line.split(":", 1)[1].strip()
            elif line.startswith("CPU(s):"):
                cores = line.split(":", 1)[1].strip()
    except OSError:
        pass
    memory = "?"
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                memory = "%.1f GiB" % (int(line.split()[1]) / (1 << 20))
    free = shutil.disk_usage(scratch).free / (1 << 30)
    load = " ".join("%.2f" % x for x in os.getloadavg())
    return ("machine: %s, %s cores, %s memory, kernel %s, %.0f GiB free in %s, load %s"
            % (model, cores, memory, platform.release(), free, scratch, load))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--case", action="append", help="SIZE[,crlf][,long=SIZE], repeatable")
    parser.add_argument("--full", action="store_true", help="run every measured target")
    parser.add_argument("--reps", type=int, help="paired runs per case (5, or 7 with --full)")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--scratch", type=Path, default=Path("/tmp/syncstatus-bench"),
                        help="folder for listings and outputs")
    parser.add_argument("--keep", action="store_true", help="keep the listings for next time")
    parser.add_argument("--build-dir", type=Path, default=ROOT / "build-bench")
    parser.add_argument("--program", type=Path, help="time this binary instead of building")
    parser.add_argument("--key", default="kmachines", help="table key passed to syncstatus")
    args = parser.parse_args()

    cases = [Case(c) for c in (args.case or (FULL_CASES if args.full else QUICK_CASES))]
    reps = args.reps or (7 if args.full else 5)
    program = args.program or build(args.build_dir)
    dd = shutil.which("dd") or sys.exit("dd not found")
    args.scratch.mkdir(parents=True, exist_ok=True)

    needed = sum(2.2 * (parse_size(c.size) + parse_size(c.long_line)) for c in cases)
    if shutil.disk_usage(args.scratch).free < needed + (4 << 30):
        sys.exit("not enough free disk in %s for these cases" % args.scratch)

    print(describe_machine(args.scratch))
    print("%d paired runs per case; times are medians; ratio = syncstatus / dd bs=1M" % reps)
    header = "%-18s %7s %6s %8s %8s %6s %11s %7s %7s %7s %6s %9s" % (
        "case", "MiB", "out/in", "ours s", "copy s", "ratio", "range", "user s", "sys s",
        "cp sys", "ns/B", "peak RSS")
    print(header)
    print("-" * len(header))
    try:
        for case in cases:
            r = bench_case(case, program, dd, args.scratch, reps, args.seed, args.key)
            print("%-18s %7.1f %6.3f %8.4f %8.4f %6.3f %5.2f-%-5.2f %7.4f %7.4f %7.4f %6.3f %5.2f MiB"
                  % (r["case"], r["listing_mib"], r["report_ratio"], r["ours"], r["copy"],
                     r["ratio"], r["ratio_min"], r["ratio_max"], r["user"], r["sys"],
                     r["copy_sys"], r["ns_per_byte"], r["rss_kib"] / 1024), flush=True)
            if not args.keep:
                for path in args.scratch.glob("listing-*"):
                    path.unlink()
    finally:
        for name in ("report.txt", "copy.txt"):
            remove(args.scratch / name)
    print("load after: " + " ".join("%.2f" % x for x in os.getloadavg()))


if __name__ == "__main__":
    main()
