#!/usr/bin/env bash
# Checks the Debian package on this machine: installs it with dpkg, finds its files where the
# unit and docs/operation.md say, runs the installed kelvor (the usage text, exit status 0),
# verifies the example unit with systemd-analyze where that is installed, and purges the
# package, which must leave none of its files behind. Needs root; refuses to touch a kelvor
# package that was installed before it ran.
#   tools/check-deb.sh build/kelvor_<version>_<arch>.deb
set -euo pipefail
deb=${1:?usage: tools/check-deb.sh build/kelvor_VERSION_ARCH.deb}
unit=/usr/share/doc/kelvor/examples/kelvor.service
files=(/usr/bin/kelvor /usr/bin/kelvor-scada-node /usr/bin/kelvor-gsm-sim /etc/default/kelvor
       "$unit" /usr/share/kelvor/demo/plant.scenario /usr/share/kelvor/demo/destinations.csv)

fail() { echo "FAIL: $*"; exit 1; }
installed() { dpkg-query -W -f='${Status}' kelvor 2>/dev/null | grep -q ' installed$'; }

[ "$(id -u)" = 0 ] || fail "installing a package needs root"
! installed || fail "a kelvor package is installed on this machine already; not replacing it"
trap 'if installed; then dpkg --purge kelvor >/dev/null; fi' EXIT

dpkg -i "$deb" >/dev/null || fail "dpkg -i $deb"
echo "installed: $(dpkg-query -W -f='${Package} ${Version} ${Architecture}' kelvor)"
for file in "${files[@]}"; do
  [ -e "$file" ] || fail "the package has no $file"
done
grep -q '^KELVOR_ARGS=' /etc/default/kelvor && grep -q '^SCADA_NODE=' /etc/default/kelvor ||
  fail "/etc/default/kelvor does not set KELVOR_ARGS and SCADA_NODE"
grep -qx 'ExecStart=/usr/bin/kelvor $KELVOR_ARGS' "$unit" &&
  grep -qx 'EnvironmentFile=/etc/default/kelvor' "$unit" ||
  fail "the unit does not run /usr/bin/kelvor with the command line of /etc/default/kelvor"
echo "files: ${files[*]}"

status=0
usage=$(cd / && timeout 10 /usr/bin/kelvor </dev/null 2>&1) || status=$?
[ "$status" = 0 ] || fail "the installed kelvor without arguments ended with status $status"
grep -q '^Usage : Kelvor COMx=' <<<"$usage" ||
  fail "the installed kelvor printed no usage text: $usage"
echo "ran /usr/bin/kelvor: usage text, exit status 0"

if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify "$unit" || fail "systemd-analyze verify $unit"
  echo "systemd-analyze verify $unit: no complaints"
else
  echo "systemd-analyze is not installed: the unit is not verified (apt-get install systemd)"
fi

dpkg --purge kelvor >/dev/null || fail "dpkg --purge kelvor"
! installed || fail "kelvor is still installed after dpkg --purge"
for path in "${files[@]}" /usr/share/kelvor /usr/share/doc/kelvor; do
  [ ! -e "$path" ] || fail "$path is left after dpkg --purge"
done
echo "purged: none of its files left"
echo "check-deb: OK"
