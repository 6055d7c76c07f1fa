# Sourced by the instrument benchmarks. start_sim OPTION... starts the
# simulator as a coprocess that ends with the sourcing script (it exits when
# its standard input closes) and sets $port to its SOCKET port.
start_sim() {
  coproc SIM { exec "$BUILD/orvex-instrument-sim" --stdin-exit --socket 0 "$@"; }
  port=
  while read -r line <&"${SIM[0]}"; do
    case $line in
      socket*) port=${line##*:} ;;
      ready) break ;;
    esac
  done
  [ -n "$port" ] || { echo "simulator did not start" >&2; exit 1; }
}
