#!/usr/bin/env bash
# The checks with node-simconnect, a client of the same wire protocol that no one here wrote:
#   1. it opens, maps an event, defines data, creates, moves and removes an AI aircraft on the stand-in;
#   2. for the same calls, its request bytes equal ours (protocol word, open version words and the
#      0-based send ids aside).
# Usage: run_checks.sh BUILD_DIR
set -euo pipefail
build="$1"
here="$(cd "$(dirname "$0")" && pwd)"
peer="$build/node_peer"
sim="$build/bin/zntv-simulator"
ours="$build/bin/zntv-simconnect-request-bytes"

if [ ! -f "$peer/node_modules/node-simconnect/package.json" ]; then
  mkdir -p "$peer"
  npm install --prefix "$peer" --no-audit --no-fund --loglevel=error node-simconnect@4.2.0 >/dev/null
fi

work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_RUNTIME_DIR"

start_sim() {  # name, extra options...
  local name="$1"; shift
  "$sim" --port 0 --no-pipe --port-file "$work/$name.port" --trace "$work/$name.trace" "$@" >"$work/$name.log" 2>&1 &
  pids+=("$!")
  for _ in $(seq 1 100); do [ -s "$work/$name.port" ] && return 0; sleep 0.05; done
  echo "stand-in $name did not start"; cat "$work/$name.log"; return 1
}

start_sim peer
node "$here/peer_check.js" "$peer" "$(cat "$work/peer.port")"

start_sim record --record "$work/node.hex"
node "$here/record_calls.js" "$peer" "$(cat "$work/record.port")"
for _ in $(seq 1 100); do [ "$(wc -l <"$work/node.hex")" -ge 15 ] && break; sleep 0.05; done
"$ours" >"$work/ours.hex"
node "$here/compare.js" "$work/node.hex" "$work/ours.hex"
echo "node-simconnect checks passed"
