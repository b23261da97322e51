#!/usr/bin/env python3
"""Times whole processes side by side: each round runs every command once, in
turn, so that the load of a shared machine falls on all of them alike. Wall time
from a monotonic clock, CPU time (user + system) from the children's resource
usage, both to the microsecond (/usr/bin/time rounds to 10 ms, too coarse for
runs of a tenth of a second). Prints one line per command: name, median wall and
median CPU seconds.

Usage: alternate.py ROUNDS CLEAN_DIR NAME -- COMMAND ... [NAME -- COMMAND ...]
CLEAN_DIR is removed before every run (the runs' output folder)."""
import resource
import shutil
import statistics
import subprocess
import sys
import time


def commands(args):
    out, i = [], 0
    while i < len(args):
        name = args[i]
        if args[i + 1] != "--":
            sys.exit("alternate.py: expected -- after " + name)
        j = i + 2
        while j < len(args) and not (j + 1 < len(args) and args[j + 1] == "--"):
            j += 1
        out.append((name, args[i + 2:j]))
        i = j
    return out


def main():
    rounds, clean = int(sys.argv[1]), sys.argv[2]
    todo = commands(sys.argv[3:])
    walls = {name: [] for name, _ in todo}
    cpus = {name: [] for name, _ in todo}
    for _ in range(rounds):
        for name, cmd in todo:
            shutil.rmtree(clean, ignore_errors=True)
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            start = time.perf_counter()
            subprocess.run(cmd, stdout=subprocess.DEVNULL, check=True)
            walls[name].append(time.perf_counter() - start)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            cpus[name].append(after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
    shutil.rmtree(clean, ignore_errors=True)
    for name, _ in todo:
        print(name, f"{statistics.median(walls[name]):.4f}", f"{statistics.median(cpus[name]):.4f}")


if __name__ == "__main__":
    main()
