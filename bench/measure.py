"""Runs commands and reports wall time and peak memory (resident set)."""
import os
import statistics
import subprocess
import tempfile
import time

# Rounds of every measured command; the median speaks for it.
ROUNDS = int(os.environ.get("ROUNDS", 3))


def run(cmd, **kw):
    """Returns (seconds, peak MB) of one run of cmd; raises on failure.

    The peak comes from GNU time: a child forked straight from this Python
    process would inherit its high-water mark and report that instead."""
    with tempfile.NamedTemporaryFile("r") as out:
        t0 = time.perf_counter()
        rc = subprocess.call(["/usr/bin/time", "-f", "%M", "-o", out.name] + list(map(str, cmd)), **kw)
        dt = time.perf_counter() - t0
        if rc != 0:
            raise SystemExit(f"failed: {' '.join(map(str, cmd))}")
        return dt, int(out.read().split()[-1]) / 1024.0


def rounds(contenders, after=None):
    """Runs each (name, cmd) once per round, alternating, so that a change in
    the machine's load falls on all of them alike. after(name) runs after each
    command (outside the timing). Returns {name: (median s, largest peak MB)}."""
    times = {name: [] for name, _ in contenders}
    peaks = {name: 0.0 for name, _ in contenders}
    for _ in range(ROUNDS):
        for name, cmd in contenders:
            t, p = run(cmd)
            times[name].append(t)
            peaks[name] = max(peaks[name], p)
            if after:
                after(name)
    return {name: (statistics.median(times[name]), peaks[name]) for name in times}


def warm(*paths):
    """Reads the inputs once so that every contender finds them in the page
    cache; says so."""
    for path in paths:
        with open(path, "rb") as f:
            while f.read(1 << 24):
                pass
    print(f"  input in page cache (read once before the first round); median of {ROUNDS} rounds", flush=True)


def drop(path):
    try:
        os.remove(path)
    except FileNotFoundError:
        pass


def report(name, seconds, mbytes, peak, ref=None, refname="cp"):
    line = f"  {name:<34} {seconds:7.2f} s {mbytes / seconds:8.0f} MB/s  peak {peak:7.0f} MB"
    if ref:
        line += f"   {seconds / ref:5.2f}x {refname}"
    print(line, flush=True)
