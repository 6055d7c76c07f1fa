import filecmp
import os
import sys

import numpy as np

from measure import drop, report, rounds, warm

cli, work = sys.argv[1], sys.argv[2]
N = int(os.environ.get("BENCH_SAMPLES", 1_000_000))
src = os.path.join(work, "in.iqw")
rng = np.random.default_rng(2)
rng.standard_normal(2 * N, dtype=np.float32).tofile(src)
print(f"  {N} samples; source IQW {os.path.getsize(src) / 1e6:.0f} MB", flush=True)

# Independent writers and readers of the same bytes.
NUMPY_HEX16 = """
import sys, numpy as np
a = np.fromfile(sys.argv[1], dtype='<f4'); i, q = a[0::2], a[1::2]
half = np.float32(max(0.0, i.max(), q.max(), -min(0.0, i.min(), q.min())))
def code(x):
    r = (x / half).astype(np.float32).astype(np.float64) * 32767.0
    return np.trunc(np.where(x >= 0, r + 0.5, r + 65535.0 + 0.5)).astype(np.int64)
np.savetxt(sys.argv[2], np.column_stack([code(i), code(q)]), fmt='%4X %4X')
"""
NUMPY_DAB = """
import sys, numpy as np
a = np.fromfile(sys.argv[1], dtype='<f4'); n = a.size // 2
with open(sys.argv[2], 'wb') as f:
    for part in (a[0::2], a[1::2]):
        f.write(b'length_of_symbol:%d\\ncarriers:192\\n' % n)
        np.savetxt(f, part.astype(np.float64), fmt='%0.7e')
"""
PANDAS_DAB = """
import sys, numpy as np, pandas as pd
n = int(open(sys.argv[1]).readline().split(':')[1])
rd = lambda skip: pd.read_csv(sys.argv[1], header=None, skiprows=skip, nrows=n, engine='c',
                              dtype=np.float64).to_numpy()[:, 0].astype(np.float32)
np.column_stack([rd(2), rd(n + 4)]).astype('<f4').tofile(sys.argv[2])
"""
SCIPY_SAVE = """
import sys, numpy as np, scipy.io as sio
a = np.fromfile(sys.argv[1], dtype='<f4')
sio.savemat(sys.argv[2], {'I': a[0::2][None, :], 'Q': a[1::2][None, :]}, format='5', do_compression=False)
"""
SCIPY_LOAD = """
import sys, numpy as np, scipy.io as sio
d = sio.loadmat(sys.argv[1])
np.column_stack([d['I'].ravel(order='F'), d['Q'].ravel(order='F')]).astype('<f4').tofile(sys.argv[2])
"""

arrays_mb = 2 * N * 4 / 2**20
warm(src)
for name, typ, ext, save_ref, load_ref in [
        ("Hex 16-bit", "20", "txt", ("numpy", NUMPY_HEX16), None),
        ("DAB-V1", "17", "sym", ("numpy", NUMPY_DAB), ("pandas", PANDAS_DAB)),
        ("Matlab binary mixed", "3", "mat", ("scipy", SCIPY_SAVE), ("scipy", SCIPY_LOAD))]:
    out = os.path.join(work, "out." + ext)
    ref = os.path.join(work, "ref." + ext)
    res = rounds([("orvex", [cli, "convert", "--from", "18", src, "--to", typ, out]),
                  (save_ref[0], [sys.executable, "-c", save_ref[1], src, ref])])
    (t, p), (tr, pr) = res["orvex"], res[save_ref[0]]
    mb = os.path.getsize(out) / 1e6
    report(f"orvex save {name}", t, mb, p)
    report(f"{save_ref[0]} save {name}", tr, os.path.getsize(ref) / 1e6, pr)
    same = filecmp.cmp(out, ref, shallow=False) if typ != "3" else "n/a (header text differs)"
    print(f"  save: orvex/{save_ref[0]} time {t / tr:.2f}x, byte-identical: {same}", flush=True)
    drop(ref)

    back = os.path.join(work, "back.iqw")
    load = [("orvex", [cli, "convert", "--from", typ, out, "--to", "18", back])]
    if load_ref:
        load.append((load_ref[0], [sys.executable, "-c", load_ref[1], out, ref]))
    res = rounds(load)
    t, p = res["orvex"]
    report(f"orvex load {name}", t, mb, p)
    line = f"  load: peak {p:.0f} MB (arrays {arrays_mb:.0f} MiB + file {mb:.0f} MB)"
    if load_ref:
        tr, pr = res[load_ref[0]]
        report(f"{load_ref[0]} load {name}", tr, mb, pr)
        same = filecmp.cmp(back, ref, shallow=False)
        line += f", orvex/{load_ref[0]} time {t / tr:.2f}x, same samples: {same}"
        drop(ref)
    print(line, flush=True)
    drop(back)
    drop(out)
