#!/usr/bin/env bash
# 5,000,000 samples of "Matlab ASCII mixed": save against numpy.savetxt
# (and byte-identical to it), load against pandas.read_csv, peak memory of
# the load against two float32 arrays + file size + 64 MB.
set -euo pipefail
N=${TEXT_SAMPLES:-5000000}
B=$BUILD/bench/bench_text
RAW=$WORK/text.raw
$B gen "$N" "$RAW"

ours_save=$($B save "$RAW" "$WORK/ours.asc")
np_save=$($PY - "$RAW" "$WORK/numpy.asc" <<'PYEOF'
import sys, time, numpy as np
a = np.fromfile(sys.argv[1], dtype='<f4').reshape(-1, 2)
t = time.perf_counter()
np.savetxt(sys.argv[2], a, fmt='%0.7e')
print('%.3f' % (time.perf_counter() - t))
PYEOF
)
if cmp -s "$WORK/ours.asc" "$WORK/numpy.asc"; then same=identical; else same=DIFFERENT; fi

read -r ours_load n rss bound < <($B load "$WORK/ours.asc")
pd_load=$($PY - "$WORK/ours.asc" <<'PYEOF'
import sys, time, pandas as pd
t = time.perf_counter()
d = pd.read_csv(sys.argv[1], sep=' ', header=None, engine='c')
print('%.3f' % (time.perf_counter() - t))
PYEOF
)
size=$(stat -c %s "$WORK/ours.asc")
ratio() { $PY -c "print('%.1f' % ($1 / $2))"; }
echo "samples $n, file $((size / 1048576)) MB"
echo "save: orvex ${ours_save} s, numpy.savetxt ${np_save} s -> $(ratio "$np_save" "$ours_save")x faster (target 5x); files ${same}"
echo "load: orvex ${ours_load} s, pandas.read_csv ${pd_load} s -> $(ratio "$pd_load" "$ours_load")x faster (target 2x)"
echo "load peak memory: ${rss} MB, bound ${bound} MB (2 float32 arrays + file + 64 MB)"
