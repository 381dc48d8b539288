# Sourced by the benchmark scripts. start_simulator OPTIONS... starts kov-simulator
# ($sim_bin) on 127.0.0.1 with a port of the system's choosing and the given options, and
# sets sim_pid and url (its endpoint). The caller's $work holds its output and the caller
# stops it.
start_simulator() {
  "$sim_bin" --listen 127.0.0.1:0 "$@" >"$work/sim.out" 2>/dev/null &
  sim_pid=$!
  url=""
  for _ in $(seq 1 200); do
    url=$(sed -n 's/^kov-simulator listening on \(http:[^ ]*\)$/\1/p' "$work/sim.out" | head -n1)
    [ -n "$url" ] && return 0
    sleep 0.05
  done
  echo "$(basename "$0"): the simulator did not start" >&2
  exit 1
}
