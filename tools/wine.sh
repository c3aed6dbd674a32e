#!/usr/bin/env bash
# Wine for the Windows tests: a 64-bit Wine with a prefix of its own in build/.
#   tools/wine.sh --which    print the Wine loader, or fail when there is none
#   tools/wine.sh --prefix   make the prefix if it is not there yet, print its path
#   tools/wine.sh --server   keep the prefix's Wine server running for a run of tests, until
#                            it has been idle for two minutes
#   tools/wine.sh PROGRAM... run a Windows program in the prefix
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export WINEPREFIX="${KELVOR_WINEPREFIX:-$root/build/wine-prefix}"
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

loader=""
for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then loader=$candidate; break; fi
done
[ -n "$loader" ] || { echo "no wine64" >&2; exit 1; }

# Makes the prefix once; tests started side by side wait for the first to make it rather
# than make it twice at the same time.
make_prefix() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$loader" wineboot -i >/dev/null 2>&1 || true
    "$(dirname "$loader")/wineserver" -w 2>/dev/null || true
  fi
  exec 9>&-
}

case "${1:-}" in
  --which) echo "$loader" ;;
  --prefix)
    make_prefix
    echo "$WINEPREFIX" ;;
  --server)
    # A program started just as the server of the one before it exits fails at once
    # ("wine client error"): a server that stays between the tests leaves no such moment.
    # Wine's own processes (services, devices, desktop) live as long as the server, and the
    # first program of a prefix starts them with its own output: started here, with none,
    # they hold no test's output pipe open after the test has ended.
    make_prefix
    "$(dirname "$loader")/wineserver" -p120 2>/dev/null || true
    "$loader" wineboot </dev/null >/dev/null 2>&1 || true ;;
  *)
    [ -f "$WINEPREFIX/system.reg" ] || make_prefix
    exec "$loader" "$@" ;;
esac
