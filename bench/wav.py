import filecmp
import os
import subprocess
import sys

import numpy as np

from measure import drop, report, rounds, warm

cli, work = sys.argv[1], sys.argv[2]
N = int(os.environ.get("BENCH_SAMPLES", 50_000_000))
src = os.path.join(work, "in.wav")
rng = np.random.default_rng(3)
with open(src, "wb") as f:
    data = 4 * N
    f.write(b"RIFF" + (36 + data).to_bytes(4, "little") + b"WAVEfmt " + (16).to_bytes(4, "little"))
    f.write((1).to_bytes(2, "little") + (2).to_bytes(2, "little") + (1_000_000).to_bytes(4, "little"))
    f.write((4_000_000).to_bytes(4, "little") + (4).to_bytes(2, "little") + (16).to_bytes(2, "little"))
    f.write(b"data" + data.to_bytes(4, "little"))
    for k in range(0, 2 * N, 10_000_000):  # in slices to keep memory low
        rng.integers(-32768, 32768, size=min(10_000_000, 2 * N - k), dtype=np.int16).astype("<i2").tofile(f)
mb = os.path.getsize(src) / 1e6
print(f"  {N} samples, {mb:.0f} MB WAV (16-bit stereo) -> {8 * N / 1e6:.0f} MB IQW interleaved float32")

SCIPY = """
import sys
from scipy.io import wavfile
rate, d = wavfile.read(sys.argv[1])
d.astype('<f4').tofile(sys.argv[2])
"""
out = {k: os.path.join(work, k + ".iqw") for k in ("orvex", "scipy", "sox")}
# orvex-cli syncs a saved file to the disk before it replaces the old one
# (a save survives a power cut); the others leave it in the page cache. The
# "+ sync" rows add the same fdatasync to theirs.
SOX = ["sox", src, "-t", "raw", "-e", "floating-point", "-b", "32"]
contenders = [
    ("orvex", [cli, "convert", "--from", "15", src, "--to", "18", out["orvex"]]),
    ("scipy", [sys.executable, "-c", SCIPY, src, out["scipy"]]),
    ("sox", SOX + [out["sox"]]),
    ("scipy + sync", ["sh", "-c", f'"$0" -c "$1" "$2" "$3" && sync -d "$3"', sys.executable, SCIPY, src,
                      out["scipy"]]),
    ("sox + sync", ["sh", "-c", '"$@" && sync -d "$9"', "sh"] + SOX + [out["sox"]]),
]
warm(src)
res = rounds(contenders, after=lambda name: drop(out[name.split()[0]]))
# One more untimed pair for the byte comparison.
for name in ("orvex", "scipy"):
    subprocess.run(dict(contenders)[name], check=True, stdout=subprocess.DEVNULL)
same = filecmp.cmp(out["orvex"], out["scipy"], shallow=False)
for name, (s, p) in res.items():
    report(name if name != "orvex" else "orvex-cli convert", s, mb, p)
t = res["orvex"][0]
print(f"  orvex/scipy {t / res['scipy'][0]:.2f}x, orvex/sox {t / res['sox'][0]:.2f}x (target <= 1); "
      f"with sync on both sides: orvex/scipy {t / res['scipy + sync'][0]:.2f}x, orvex/sox "
      f"{t / res['sox + sync'][0]:.2f}x", flush=True)
print(f"  orvex and scipy byte-identical: {same} (sox writes the samples scaled to +-1)", flush=True)
for f in list(out.values()) + [src]:
    drop(f)
