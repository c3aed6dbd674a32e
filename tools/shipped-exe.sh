#!/usr/bin/env bash
# The shipped 32-bit kelvor.exe, executed: the program of the release archive run as it is
# under Debian's i386 Wine and qemu-i386 user-mode emulation (tools/wine32.sh), against the
# SCADA node and GSM phone simulators, with the stand-in SCADA libraries built cdecl and then
# stdcall (tests/e2e/shipped_exe_test.py): its usage text; an alarm delivered as its exact
# SMS; the status asked for by SMS; Ctrl-C ending the run with its exit status.
#
#   bash tools/shipped-exe.sh [a test's name, e.g. ShippedExe.test_with_stdcall_libraries]
#
# Needs root (binfmt_misc), the packages qemu-user-static and wine64, i386 as a package
# architecture (dpkg --add-architecture i386 && apt-get update; the i386 Wine is downloaded and
# unpacked into build/wine32, not installed), the 32-bit Windows build and the Linux build's
# simulators:
#   cmake --preset windows && cmake --build --preset windows
#   cmake --preset linux && cmake --build --preset linux --target kelvor-scada-node kelvor-gsm-sim
# Each step says its time. The prefix's Wine server is stopped at the end. Wine's own messages go to build/shipped-exe-wine.log and to the
# scenarios' logs, which a failure names.
set -euo pipefail
cd "$(dirname "$0")/.."
exe=build/windows/app/kelvor.exe
stand_ins=build/windows/stand-ins
node=build/linux/sim/scada_node/kelvor-scada-node
phone=build/linux/sim/gsm_modem/kelvor-gsm-sim
log=build/shipped-exe-wine.log

for built in "$exe" "$stand_ins/cdecl/EDA.dll" "$stand_ins/stdcall/EDA.dll" "$node" "$phone"; do
  [ -e "$built" ] || { echo "$built is not built (see the top of $0)" >&2; exit 1; }
done

timed() {
  local what=$1 start=$SECONDS status=0
  shift
  "$@" || status=$?
  echo "$what: $((SECONDS - start)) s"
  return $status
}

: >"$log"
setup() { tools/wine32.sh --setup 2>>"$log" || { tail -n 5 "$log" >&2; return 1; }; }
prefix() { tools/wine32.sh --prefix >/dev/null 2>>"$log"; }
server() { tools/wine32.sh --server 2>>"$log"; }
scenarios() {
  python3 tests/e2e/shipped_exe_test.py --exe "$exe" --stand-ins "$stand_ins" --node "$node" \
    --phone "$phone" --wine tools/wine32.sh "$@"
}
# The prefix's Wine server, and Wine's own programs beside it, end with the run.
trap 'tools/wine32.sh --stop 2>>"$log" || true' EXIT

timed "i386 Wine unpacked, i386 programs registered" setup
timed "prefix made" prefix
timed "Wine server started and booted" server
timed "scenarios" scenarios "$@"
