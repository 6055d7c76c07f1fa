"""Runs a command and reports wall time and peak memory (resident set)."""
import os
import subprocess
import tempfile
import time


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


def drop(path):
    try:
        os.remove(path)
    except FileNotFoundError:
        pass


def report(name, seconds, mbytes, peak, ref=None):
    line = f"  {name:<34} {seconds:7.2f} s {mbytes / seconds:8.0f} MB/s  peak {peak:7.0f} MB"
    if ref:
        line += f"   {seconds / ref:5.2f}x cp"
    print(line, flush=True)
