#!/usr/bin/env bash
# Installs a build into a throw-away staging folder (DESTDIR) and checks that
# every file lands where the VISA loader, man, the desktop and Help ▸ Contents
# look for it. Arguments: the cmake program, the build folder.
set -euo pipefail
cmake=$1 build=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "install: $*"; exit 1; }

DESTDIR=$stage "$cmake" --install "$build" --prefix /opt/orvex >/dev/null
root=$stage/opt/orvex
for f in bin/orvex bin/orvex-cli bin/orvex-instrument-sim lib/orvex/liborvexvisa.so share/doc/orvex/Orvex.pdf \
         share/man/man1/orvex-cli.1 share/applications/orvex.desktop share/icons/hicolor/64x64/apps/orvex.png; do
  [ -s "$root/$f" ] || fail "$f is missing"
done

# The desktop entry starts a program that is installed, with an icon that is.
entry=$root/share/applications/orvex.desktop
[ -x "$root/bin/$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")" ] || fail "the desktop entry starts no installed program"
[ -f "$root/share/icons/hicolor/64x64/apps/$(sed -n 's/^Icon=//p' "$entry").png" ] || fail "the desktop entry's icon is not installed"

[[ $("$root/bin/orvex-cli" --version) =~ ^orvex-cli\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "the installed orvex-cli --version fails"
warnings=$(groff -man -Tutf8 -ww -z "$root/share/man/man1/orvex-cli.1" 2>&1)
[ -z "$warnings" ] || fail "the man page renders with warnings: $warnings"

pdf=$root/share/doc/orvex/Orvex.pdf
[ "$(head -c 5 "$pdf")" = "%PDF-" ] || fail "Orvex.pdf is no PDF"
pages=$(grep -a -o '/Count [0-9]*' "$pdf" | head -1 | cut -d' ' -f2)
[ "${pages:-0}" -gt 1 ] || fail "Orvex.pdf has ${pages:-no} pages"
