#!/usr/bin/env bash
# The main job, for real: builds the Linux program and runs Kelvor against a demo plant (the
# SCADA node simulator playing sim/demo/plant.scenario) and a GSM phone on a
# pseudo-terminal. Press S for a status report, Q to stop; the run ends by itself when the
# plant's SCADA system shuts down, and a summary lists what each phone received.
#   tools/demo.sh [SCENARIO]
set -euo pipefail
cd "$(dirname "$0")/.."
scenario=${1:-sim/demo/plant.scenario}
# The Linux build of the test command when there is one; else a build of the programs alone,
# which needs no test framework.
if [ -f build/linux/CMakeCache.txt ]; then
  build=build/linux configure=(--preset linux) build_args=(--preset linux)
else
  build=build/demo configure=(-S . -B build/demo -DKELVOR_TESTS=OFF) build_args=(build/demo)
fi
kelvor=$build/app/kelvor
node=$build/sim/scada_node/kelvor-scada-node
phone=$build/sim/gsm_modem/kelvor-gsm-sim

if [ -t 1 ]; then
  bold=$'\e[1m' sms=$'\e[1;35m' plain=$'\e[0m'
else
  bold='' sms='' plain=''
fi
say() { printf '%s== %s%s\n' "$bold" "$*" "$plain"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvor-demo.XXXXXX")
pids=()
finish() {
  local status=$?
  trap - EXIT INT TERM HUP
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
  exit "$status"
}
trap finish EXIT
# Ctrl-C stops Kelvor as Q does; the summary still follows.
interrupted=0
trap 'interrupted=1' INT
trap 'exit 143' TERM HUP

say "Building Kelvor and the simulators in $build"
if ! { cmake "${configure[@]}" && cmake --build "${build_args[@]}" -j2 \
         --target kelvor kelvor-scada-node kelvor-gsm-sim; } >"$work/build.log" 2>&1; then
  cat "$work/build.log"
  exit 1
fi

# Waits up to 10 s for a line matching $2 in file $1 and prints it.
first_line() {
  for _ in $(seq 100); do
    if grep -m1 -E "$2" "$1" 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "no '$2' in $1:" >&2
  cat "$1" >&2
  return 1
}

"$node" --port 0 --wait --scenario "$scenario" >"$work/node.log" 2>&1 &
pids+=($!)
"$phone" --sms-file "$work/sms.txt" >"$work/phone.log" 2>&1 &
pids+=($!)
address=$(first_line "$work/node.log" '^listening on ' | sed 's/^listening on //')
device=$(first_line "$work/phone.log" '^/dev/')

# Each SMS as the phone receives it, between the lines of Kelvor's log.
touch "$work/sms.txt"
mkfifo "$work/sms.fifo"
while IFS= read -r line; do
  to=${line#*to=}
  to=${to%% *}
  text=${line#* text=}
  text=${text//\\r/}
  text=${text//\\n/ | }
  printf '%s   PHONE %s received: %s%s\n' "$sms" "$to" "${text% | }" "$plain"
done <"$work/sms.fifo" &
pids+=($!)
tail -n 0 -f "$work/sms.txt" >"$work/sms.fifo" &
pids+=($!)

arguments=(
  "COM:$device=9600,n,8,1" SERVICE=+99912345
  DEST=+99955501234,AD,H,30              # shift engineer: high priority, feed and utilities
  DEST=+99955502345,ABCD,L,20,F          # control room: everything, full messages
  DEST=+99955503456,BC,M,15,D,NODE1:ONCALL.F_CV  # on-call engineer, while ONCALL is on
  FILE=sim/demo/destinations.csv         # plant manager and maintenance
)
say "SCADA node $address playing $scenario; GSM phone on $device"
say "kelvor ${arguments[*]}"
say "Keys: S status report, Q quit. The run ends by itself in about two minutes."
# Kelvor runs as a child the script waits for, so that a TERM or HUP to the script reaches
# it at once; it still owns the terminal's keys (it reads them from /dev/tty).
SCADA_NODE=$address "$kelvor" "${arguments[@]}" &
kelvor_pid=$!
pids+=("$kelvor_pid")
trap 'kill -TERM "$kelvor_pid" 2>/dev/null; exit 143' TERM HUP
status=0
while :; do
  wait "$kelvor_pid" && status=0 || status=$?
  kill -0 "$kelvor_pid" 2>/dev/null || break  # else a trap cut the wait short
done
say "Kelvor ended with exit status $status (the number of destinations)"

say "What each phone received"
if [ ! -s "$work/sms.txt" ]; then
  echo "   no SMS"
else
  awk '{ to = $3; sub(/^to=/, "", to); count[to]++; order[to] = order[to] ? order[to] : ++n
         text = $0; sub(/^[^ ]+ [^ ]+ [^ ]+ text=/, "", text); gsub(/\\r/, "", text)
         gsub(/\\n/, " | ", text); sub(/ \| $/, "", text)
         lines[to] = lines[to] "      " text "\n" }
       END { for (i = 1; i <= n; i++) for (to in order) if (order[to] == i)
               printf "   %s: %d SMS\n%s", to, count[to], lines[to] }' "$work/sms.txt"
fi
[ "$interrupted" = 0 ] || exit 130
