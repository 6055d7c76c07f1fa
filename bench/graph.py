import os
import statistics
import subprocess
import sys
import time

import numpy as np

prog, work = sys.argv[1], sys.argv[2]
N = int(os.environ.get("BENCH_POINTS", 1 << 20))
REPEATS = 7
data = os.path.join(work, "graph.f32")
env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
out = subprocess.run([prog, str(N), data, str(REPEATS)], env=env, check=True,
                     capture_output=True, text=True).stdout
ours = {k: float(v) for k, v in (line.split() for line in out.splitlines())}

a = np.fromfile(data, dtype="<f4")
x = a[:N].astype(np.float64) + 1j * a[N:2 * N].astype(np.float64)


def median(f):
    t = []
    for _ in range(REPEATS):
        t0 = time.perf_counter()
        f()
        t.append(time.perf_counter() - t0)
    return statistics.median(t) * 1e3


def full():
    X = np.fft.fft(x)
    np.abs(X)
    np.angle(X)


np_full = median(full)
np_fft = median(lambda: np.fft.fft(x))
print(f"  {N} complex samples generated in memory (no file), median of {REPEATS} runs")
print(f"  {'numpy fft':<40} {np_fft:8.1f} ms")
print(f"  {'numpy fft + abs + angle':<40} {np_full:8.1f} ms")
print(f"  {'orvex fft in place':<40} {ours['transform']:8.1f} ms   {ours['transform'] / np_fft:5.2f}x numpy fft")
print(f"  {'orvex spectrum dialog':<40} {ours['spectrum']:8.1f} ms   {ours['spectrum'] / np_full:5.2f}x numpy")
print(f"  {'orvex phase dialog':<40} {ours['phase']:8.1f} ms   {ours['phase'] / np_full:5.2f}x numpy")
