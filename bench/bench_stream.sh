#!/usr/bin/env bash
# Streaming conversion: a WV file of N samples (default 250,000,000, 1 GB)
# copied to WAV mixed by orvex-cli, beside cp of the same file and an
# equivalent numpy memmap script, all in this run, taking turns; median of
# ROUNDS rounds. Prints seconds, MB/s of source data and peak memory of each.
# Environment: PY, WORK, BUILD (set by bench/run.sh); STREAM_SAMPLES to shrink.
set -euo pipefail
N=${STREAM_SAMPLES:-250000000}
ROUNDS=${ROUNDS:-3}
SRC="$WORK/stream.wv"
CLI="$BUILD/orvex-cli"

# Source, cp copy, our output and numpy's output side by side.
need=$(( (4 * N + 4096) * 4 / 1024 + 1048576 ))
have=$(df -Pk "$WORK" | awk 'NR==2 {print $4}')
if (( have < need )); then
  echo "stream: needs $((need / 1048576)) GB free in $WORK, has $((have / 1048576)) GB; skipped"
  exit 0
fi

"$PY" - "$SRC" "$N" <<'EOF'
import sys, numpy as np
path, n = sys.argv[1], int(sys.argv[2])
rng = np.random.default_rng(7)
with open(path, "wb") as f:
    f.write(b"{TYPE:TQX-WV,0}{COPYRIGHT:2026 Halvard TQX} {DATE:2026-1-1;0:0:0}"
            b"{LEVEL OFFS:3.000,1.000}{SAMPLES:%d} {CLOCK:100000000}{WAVEFORM-%d:#" % (n, 4 * n + 1))
    step = 1 << 22
    for i in range(0, n, step):
        k = min(step, n - i)
        rng.integers(-32768, 32768, size=2 * k, dtype=np.int16).astype("<i2").tofile(f)
    f.write(b"}")
EOF
bytes=$(stat -c %s "$SRC")
cat "$SRC" > /dev/null   # every contender starts from the page cache

# Runs a command under /usr/bin/time; prints "seconds peakKB".
measure() {
  /usr/bin/time -f "%e %M" -o "$WORK/time.txt" "$@" > /dev/null
  cat "$WORK/time.txt"
}
report() { # name seconds peakKB
  awk -v n="$1" -v s="$2" -v m="$3" -v b="$bytes" \
    'BEGIN { printf "  %-22s %8.2f s %9.1f MB/s %8.1f MB peak\n", n, s, b / 1e6 / s, m / 1024 }'
}


cat > "$WORK/np_copy.py" <<'EOF'
# The same conversion with numpy: memmap the WV samples, one pass for the
# channel ranges, one pass writing the scaled 16-bit WAV data.
import sys, numpy as np
src, dst = sys.argv[1], sys.argv[2]
with open(src, "rb") as f:
    head = f.read(4096)
hdr = head.index(b"#") + 1
n = int(head[head.index(b"SAMPLES:") + 8:head.index(b"}", head.index(b"SAMPLES:"))].replace(b" ", b""))
clock = float(head[head.index(b"CLOCK:") + 6:head.index(b"}", head.index(b"CLOCK:"))])
x = np.memmap(src, dtype="<i2", mode="r", offset=hdr, shape=(n, 2))
step = 1 << 22
lo = np.zeros(2, np.float32); hi = np.zeros(2, np.float32)
for i in range(0, n, step):
    c = x[i:i + step]
    lo = np.minimum(lo, c.min(axis=0)); hi = np.maximum(hi, c.max(axis=0))
def factor(mn, mx):
    r = np.float32(mx - mn)
    if r == 0: return 0.0
    f = np.float32(65535.9 / r)
    if mx * float(f) >= 32768 or mn * float(f) <= -32769:
        f = np.float32(32767.95 / max(abs(mn), abs(mx)))
    return float(f)
fi, fq = factor(lo[0], hi[0]), factor(lo[1], hi[1])
scale = max(fi, fq) if fi == 0 or fq == 0 else min(fi, fq)
with open(dst, "wb") as f:
    h = bytearray(b"RIFF" + (8 * n + 36).to_bytes(4, "little") + b"WAVEfmt ")
    h += (16).to_bytes(4, "little") + (1).to_bytes(2, "little") + (2).to_bytes(2, "little")
    h += int(clock).to_bytes(4, "little") + int(clock * 4).to_bytes(4, "little", signed=True)
    h += (4).to_bytes(2, "little") + (16).to_bytes(2, "little") + b"data" + (8 * n).to_bytes(4, "little")
    f.write(h)
    for i in range(0, n, step):
        (x[i:i + step].astype(np.float64) * scale).astype(np.int32).astype("<i2").tofile(f)
EOF
median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
: > "$WORK/t.cp"; : > "$WORK/t.or"; : > "$WORK/t.np"
for ((r = 0; r < ROUNDS; r++)); do
  rm -f "$WORK/cp.wv" "$WORK/orvex.wav" "$WORK/numpy.wav"
  measure cp "$SRC" "$WORK/cp.wv" >> "$WORK/t.cp"
  measure "$CLI" copy --from wv "$SRC" --to "WAV mixed" "$WORK/orvex.wav" >> "$WORK/t.or"
  measure "$PY" "$WORK/np_copy.py" "$SRC" "$WORK/numpy.wav" >> "$WORK/t.np"
done
rm -f "$WORK/cp.wv"
# Median seconds, largest peak.
pick() { echo "$(cut -d' ' -f1 "$1" | median) $(cut -d' ' -f2 "$1" | sort -g | tail -1)"; }
read -r cp_s cp_m < <(pick "$WORK/t.cp")
read -r or_s or_m < <(pick "$WORK/t.or")
read -r np_s np_m < <(pick "$WORK/t.np")
rm -f "$WORK"/t.cp "$WORK"/t.or "$WORK"/t.np

same=$(cmp -s "$WORK/orvex.wav" "$WORK/numpy.wav" && echo identical || echo DIFFERENT)
rm -f "$WORK/orvex.wav" "$WORK/numpy.wav"

echo "  WV ($N samples, $((bytes / 1000000)) MB) to WAV mixed; input in page cache (read once before the first round); median of $ROUNDS rounds"
echo "  outputs of orvex-cli and numpy: $same"
report "cp" "$cp_s" "$cp_m"
report "orvex-cli copy" "$or_s" "$or_m"
report "numpy memmap" "$np_s" "$np_m"
awk -v o="$or_s" -v c="$cp_s" -v p="$np_s" -v m="$or_m" 'BEGIN {
  printf "  orvex-cli / cp: %.2fx (target <= 2.5x)   orvex-cli / numpy: %.2fx (target <= 1x)   peak %.1f MB (target <= 64 MB)\n",
         o / c, o / p, m / 1024 }'
rm -f "$SRC"
