#!/usr/bin/env bash
# TEXT_SAMPLES (default 2,000,000) samples of "Matlab ASCII mixed": save
# against numpy.savetxt (and byte-identical to it), load against
# pandas.read_csv, peak memory of the load against two float32 arrays + file
# size + 64 MB. Contenders alternate; median of ROUNDS rounds.
set -euo pipefail
N=${TEXT_SAMPLES:-2000000}
ROUNDS=${ROUNDS:-3}
B=$BUILD/bench/bench_text
RAW=$WORK/text.raw
$B gen "$N" "$RAW"
cat "$RAW" > /dev/null

median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
np_save() {
  $PY - "$RAW" "$WORK/numpy.asc" <<'PYEOF'
import sys, time, numpy as np
a = np.fromfile(sys.argv[1], dtype='<f4').reshape(-1, 2)
t = time.perf_counter()
np.savetxt(sys.argv[2], a, fmt='%0.7e')
print('%.3f' % (time.perf_counter() - t))
PYEOF
}
pd_load() {
  $PY - "$WORK/ours.asc" <<'PYEOF'
import sys, time, pandas as pd
t = time.perf_counter()
d = pd.read_csv(sys.argv[1], sep=' ', header=None, engine='c')
print('%.3f' % (time.perf_counter() - t))
PYEOF
}
: > "$WORK/t.ours_save"; : > "$WORK/t.np_save"; : > "$WORK/t.ours_load"; : > "$WORK/t.pd_load"
for ((r = 0; r < ROUNDS; r++)); do
  $B save "$RAW" "$WORK/ours.asc" >> "$WORK/t.ours_save"
  np_save >> "$WORK/t.np_save"
done
if cmp -s "$WORK/ours.asc" "$WORK/numpy.asc"; then same=identical; else same=DIFFERENT; fi
cat "$WORK/ours.asc" > /dev/null
for ((r = 0; r < ROUNDS; r++)); do
  read -r t n rss bound < <($B load "$WORK/ours.asc")
  echo "$t" >> "$WORK/t.ours_load"
  pd_load >> "$WORK/t.pd_load"
done
ours_save=$(median < "$WORK/t.ours_save"); np_save=$(median < "$WORK/t.np_save")
ours_load=$(median < "$WORK/t.ours_load"); pd_load=$(median < "$WORK/t.pd_load")
size=$(stat -c %s "$WORK/ours.asc")
ratio() { $PY -c "print('%.1f' % ($1 / $2))"; }
echo "  samples $n, file $((size / 1048576)) MB; input in page cache (written or read just before); median of $ROUNDS rounds"
echo "  save: orvex ${ours_save} s, numpy.savetxt ${np_save} s -> $(ratio "$np_save" "$ours_save")x faster (target 5x); files ${same}"
echo "  load: orvex ${ours_load} s, pandas.read_csv ${pd_load} s -> $(ratio "$pd_load" "$ours_load")x faster (target 2x)"
echo "  load peak memory: ${rss} MB, bound ${bound} MB (2 float32 arrays + file + 64 MB)"
rm -f "$WORK/ours.asc" "$WORK/numpy.asc" "$RAW" "$WORK"/t.*
