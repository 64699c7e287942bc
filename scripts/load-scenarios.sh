#!/usr/bin/env bash
# Runs the scenarios that count messages between processes (the tests
# labelled "scenario") of each given build beside CPU load: two busy
# processes per core, a load of about twice the cores, so that the hosts,
# the listener and Wine are preempted at any point. Each count must hold as
# it does on a quiet machine. The builds must be built; times per build are
# printed at the end.
#
#   bash scripts/load-scenarios.sh PRESET...
set -uo pipefail
cd "$(dirname "$0")/.."

busy=()
stop_load() {
  for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${busy[@]}"; do wait "$pid" 2>/dev/null; done
  busy=()
}
trap stop_load EXIT
trap 'exit 130' INT TERM
for _ in $(seq $((2 * $(nproc)))); do
  (while :; do :; done) &
  busy+=($!)
done

status=0
times=()
for preset in "$@"; do
  echo "=== $preset: scenarios under load"
  started=$(date +%s)
  ctest --preset "$preset" -L scenario --output-on-failure || status=1
  times+=("$preset $(($(date +%s) - started)) s")
done
stop_load
printf 'scenarios under load took: %s\n' "${times[@]}"
exit $status
