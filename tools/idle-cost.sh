#!/usr/bin/env bash
# Measures the real Linux program idle: the SCADA node simulator with an empty alarm queue,
# the GSM modem simulator as the phone (so the modem reaches Ready and only polls the
# signal), Kelvor run for IDLE_SECONDS (default 60) under /usr/bin/time and stopped with
# SIGINT as an operator's Q. Prints the CPU time and the peak resident memory.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${IDLE_SECONDS:-60}
bin=build/linux
cmake --build --preset linux -j2 --target kelvor kelvor-scada-node kelvor-gsm-sim >/dev/null
work=$(mktemp -d)
"$bin/sim/scada_node/kelvor-scada-node" --port 0 --quiet >"$work/node" &
node=$!
"$bin/sim/gsm_modem/kelvor-gsm-sim" >"$work/phone" &
phone=$!
trap 'kill $node $phone 2>/dev/null; rm -rf "$work"' EXIT
until grep -q listening "$work/node" && [[ -s $work/phone ]]; do sleep 0.1; done
export SCADA_NODE=$(sed -n 's/^listening on //p' "$work/node")
device=$(head -1 "$work/phone")
/usr/bin/time -f '%U %S %M' -o "$work/time" \
  timeout -s INT "$seconds" "$bin/app/kelvor" "COM:$device=9600,n,8,1" \
  DEST=+99955501234,AD,H,30 </dev/null >"$work/log" 2>&1 || true
read -r user sys rss < <(tail -1 "$work/time")
echo "idle ${seconds} s: user ${user} s, system ${sys} s, peak RSS ${rss} KiB"
echo "modem reached Ready: $(grep -c 'Going to ready' "$work/log") time(s);" \
  "signal queries: $(grep -c 'TX>>AT+CSQ' "$work/log")"
