#!/usr/bin/env python3
"""Wall time, page faults and peak memory of two or more commands, run alternately.

The machine is shared, so the commands take turns (A B A B ...) and the medians are
compared: load that comes and goes falls on all of them alike.

Usage: bench/paired_runs.py [-n RUNS] NAME='command args' NAME='command args' ...
"""
import argparse
import os
import resource
import shlex
import statistics
import subprocess
import sys
import time


def run_once(argv):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    proc = subprocess.run(argv, stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit(f"{' '.join(argv)}: exit status {proc.returncode}")
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    faults = (after.ru_minflt - before.ru_minflt) + (after.ru_majflt - before.ru_majflt)
    return wall, faults


def peak_kib(argv):
    # /usr/bin/time forks from a small process; the peak of a child forked from this
    # interpreter would count the interpreter's pages until exec.
    if not os.path.exists("/usr/bin/time"):
        return "n/a"
    out = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True, check=True)
    return out.stderr.strip().splitlines()[-1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("-n", "--runs", type=int, default=15)
    parser.add_argument("commands", nargs="+", metavar="NAME=COMMAND")
    args = parser.parse_args()
    commands = []
    for item in args.commands:
        name, _, command = item.partition("=")
        commands.append((name, shlex.split(command)))

    for _, argv in commands:  # warm the page cache
        run_once(argv)
    walls = {name: [] for name, _ in commands}
    faults = {name: [] for name, _ in commands}
    for _ in range(args.runs):
        for name, argv in commands:
            w, f = run_once(argv)
            walls[name].append(w)
            faults[name].append(f)

    first = statistics.median(walls[commands[0][0]])
    print(f"{args.runs} alternating runs each; medians")
    print(f"{'command':<16} {'wall ms':>9} {'min ms':>8} {'max ms':>8} {'ratio':>7} "
          f"{'faults':>7} {'peak KiB':>9}")
    for name, argv in commands:
        m = statistics.median(walls[name])
        print(f"{name:<16} {m * 1e3:9.1f} {min(walls[name]) * 1e3:8.1f} "
              f"{max(walls[name]) * 1e3:8.1f} {m / first:7.3f} "
              f"{int(statistics.median(faults[name])):7d} {peak_kib(argv):>9}")


if __name__ == "__main__":
    main()
