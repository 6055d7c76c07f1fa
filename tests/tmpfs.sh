#!/usr/bin/env bash
# Runs a test program with ORVEX_TMPFS naming a small file system of its own:
# a tmpfs of 16 MB in a private user and mount namespace, which a test may fill
# without touching the host. Where such a namespace is not permitted the test
# runs without it, and its full-disk cases skip themselves.
# Usage: tmpfs.sh PROGRAM [ARGS...]
if unshare -rm true 2>/dev/null; then
  exec unshare -rm sh -c 'd=$(mktemp -d) && mount -t tmpfs -o size=16m orvex "$d" && ORVEX_TMPFS=$d "$@"
    rc=$?; umount "$d"; rmdir "$d"; exit $rc' sh "$@"
fi
echo "private mount namespace not permitted here; running without one" >&2
exec "$@"
