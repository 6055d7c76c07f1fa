import filecmp
import os
import sys

import numpy as np

from measure import drop, report, rounds, warm

cli, work = sys.argv[1], sys.argv[2]
N = int(os.environ.get("BENCH_SAMPLES", 50_000_000))
src = os.path.join(work, "in.iqw")
rng = np.random.default_rng(1)
for k in range(0, 2 * N, 10_000_000):  # generated in slices to keep memory low
    mode = "ab" if k else "wb"
    with open(src, mode) as f:
        rng.standard_normal(min(10_000_000, 2 * N - k), dtype=np.float32).tofile(f)
mb = os.path.getsize(src) / 1e6
arrays_mb = 2 * N * 4 / 2**20
print(f"  {N} samples, {mb:.0f} MB input; two float32 arrays = {arrays_mb:.0f} MiB (+64 MB budget)")

NUMPY_BLOCK = """
import sys, numpy as np
a = np.fromfile(sys.argv[1], dtype='<f4')
n = a.size // 2
np.concatenate([a[0:2*n:2], a[1:2*n:2]]).tofile(sys.argv[2])
"""
NUMPY_SPW = """
import sys, numpy as np
a = np.fromfile(sys.argv[1], dtype='<f4')
n = a.size // 2
hdr = ("$SIGNAL_FILE 9\\n$USER_COMMENT\\n\\n$COMMON_INFO\\n     SPW Version        = 4.70\\n"
       "System Type        = solaris2\\n     Sampling Frequency = %0.1lf\\nStarting Time    = 0.0\\n"
       "$DATA_INFO\\n     Number of points   = %d\\nSignal Type          = Double\\n"
       "     Complex Format     = Real_Imag\\n$DATA BINARY\\n") % (1e8, n)
with open(sys.argv[2], 'wb') as f:
    f.write(hdr.encode())
    a[:2*n].astype('<f8').tofile(f)
"""

dst = os.path.join(work, "out")
ref = os.path.join(work, "ref")
warm(src)
for name, to, script in [("IQW -> IQW block", "19", NUMPY_BLOCK), ("IQW -> SPW binary", "12", NUMPY_SPW)]:
    res = rounds([("cp", ["cp", src, dst + ".cp"]),
                  ("orvex", [cli, "convert", "--from", "18", src, "--to", to, dst]),
                  ("numpy", [sys.executable, "-c", script, src, ref])])
    same = filecmp.cmp(dst, ref, shallow=False)
    (cp, pc), (t, p), (tn, pn) = res["cp"], res["orvex"], res["numpy"]
    report("cp", cp, mb, pc)
    report("orvex " + name, t, mb, p, cp)
    report("numpy " + name, tn, mb, pn, cp)
    print(f"  orvex/numpy time {t / tn:.2f}x (target <= 1.5x), peak {p:.0f} MB "
          f"(bound {arrays_mb + 64:.0f} MB), byte-identical: {same}", flush=True)
    for f in (dst, ref, dst + ".cp"):
        drop(f)
