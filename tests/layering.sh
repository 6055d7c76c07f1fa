#!/usr/bin/env bash
# Keeps the library boundaries real: every quoted include of a source must lie
# in a layer its library may use, and the libraries below the window must not
# link widgets. Arguments: NAME=LINKS pairs (a target and its link libraries).
set -u
cd "$(dirname "$0")/.."
fail=0

layer() { # repository path -> layer name
  case $1 in
    common/*) echo common ;;
    formats/*|graph/spectral.*|remote/symbolserver.*|instrument/anastr.h) echo core ;;
    instrument/*) echo instr ;;
    visa/*) echo visa ;;
    sim/*) echo sim ;;
    fuzz/*) echo fuzz ;;
    *) echo front ;;
  esac
}
# Layers each layer may include.
allowed() {
  case $1 in
    common) echo "common" ;;
    core) echo "common core" ;;
    instr) echo "common core instr" ;;
    visa) echo "common visa" ;;
    sim) echo "common sim" ;;
    fuzz) echo "common core fuzz" ;;
    *) echo "common core instr front" ;;
  esac
}

for f in $(git ls-files '*.h' '*.cpp' '*.c' 2>/dev/null || find . -name '*.[ch]*' | sed 's|^\./||'); do
  from=$(layer "$f")
  [ "$from" = front ] && continue
  ok=" $(allowed "$from") "
  while IFS= read -r inc; do
    if [[ $inc == ui_* ]]; then
      echo "$f: includes the generated window form $inc"; fail=1; continue
    fi
    if [[ $inc == */* ]]; then path=$inc; else path=$(dirname "$f")/$inc; fi
    [ -f "$path" ] || continue   # generated headers (rpcgen output) and system headers
    to=$(layer "$path")
    [[ $ok == *" $to "* ]] || { echo "$f ($from) includes $inc ($to)"; fail=1; }
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$f")
  # Below the window nothing uses widgets; the VISA library and the simulator use no Qt at all.
  case $from in
    visa|sim|common) bad='^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' ;;
    *) bad='^[[:space:]]*#[[:space:]]*include[[:space:]]*<(QtWidgets|QtGui|QApplication|QWidget|QDialog|QMessageBox|QProgressDialog|QMainWindow|QFileDialog|QPainter|QPixmap|QColor|QIcon)' ;;
  esac
  if grep -E -n "$bad" "$f" >/dev/null; then
    echo "$f ($from) includes a Qt header its layer may not use:"; grep -E -n "$bad" "$f"; fail=1
  fi
done

for pair in "$@"; do
  name=${pair%%=*}; links=${pair#*=}
  case $links in
    *Widgets*|*Gui*|*orvexapp*|*orvexgraph*) echo "$name links front-end libraries: $links"; fail=1 ;;
  esac
done

[ $fail -eq 0 ] && echo "layering: every include and link stays within its layer"
exit $fail
