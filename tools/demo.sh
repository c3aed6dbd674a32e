#!/usr/bin/env bash
# Builds Kelvor and runs it against the SCADA node simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
node=build/linux/sim/scada_node/kelvor-scada-node
port_file=$(mktemp)
"$node" --port 0 >"$port_file" &
node_pid=$!
trap 'kill $node_pid 2>/dev/null; rm -f "$port_file"' EXIT
until grep -q listening "$port_file"; do sleep 0.1; done
export SCADA_NODE=$(sed -n 's/^listening on //p' "$port_file")
build/linux/app/kelvor COM1 DEST=+99955501234,AD,H,30 || true
