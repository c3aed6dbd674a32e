#!/usr/bin/env bash
# The 32-bit Wine that runs the shipped kelvor.exe on a machine whose kernel starts no 32-bit
# process: Debian's i386 Wine, unpacked into build/wine32 (not installed), under qemu-i386
# user-mode emulation. Same commands as tools/wine.sh, which it leans on:
#   tools/wine32.sh --setup    unpack the i386 Wine if it is not there yet, register i386
#                              programs with binfmt_misc; fails, saying why, where it cannot
#   tools/wine32.sh --which    print the i386 Wine loader, or fail
#   tools/wine32.sh --prefix   make the prefix if it is not there yet, print its path
#   tools/wine32.sh --server   keep the prefix's Wine server running, booted, for a run
#   tools/wine32.sh --stop     end the prefix's Wine server and Wine's programs in it
#   tools/wine32.sh PROGRAM... run a 32-bit Windows program in the prefix
#
# Everything of Wine that can run natively does: the prefix is made, and booted at each
# server start, by the 64-bit Wine of tools/wine.sh (seconds, where the same under emulation
# took over ten minutes), and the server is the native one. The 32-bit program runs there as
# a WoW64 program; only it, and nothing else, is emulated. The prefix holds no copies of the
# 32-bit DLLs (the 64-bit wineboot cannot install them): WINEBOOTSTRAPMODE, Wine's own way of
# starting programs while a prefix is made, loads them from the unpacked Wine instead.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
wine32="${KELVOR_WINE32:-$root/build/wine32}"
sysroot="$wine32/root"
loader="$sysroot/usr/lib/wine/wine"
export KELVOR_WINEPREFIX="${KELVOR_WINE32_PREFIX:-$root/build/wine32-prefix}"
export WINEPREFIX="$KELVOR_WINEPREFIX"
# The i386 loader finds its libraries (libc, ld-linux.so.2) in the unpacked tree.
export QEMU_LD_PREFIX="$sysroot"
export WINESERVER=/usr/lib/wine/wineserver64
export WINEBOOTSTRAPMODE=1 WINEDEBUG=-all
# Nothing of Wine's own starts from the emulated side: no background services (they crash
# under emulation), no devices, no desktop, no .NET or HTML engine.
export WINEDLLOVERRIDES="mscoree,mshtml,services.exe,winedevice.exe,plugplay.exe,explorer.exe,winemenubuilder.exe,rpcss.exe,svchost.exe="

# The i386 packages, unpacked with dpkg-deb only: the machine's own packages stay as they are.
packages="wine32 libwine libc6 libgcc-s1 gcc-12-base"

setup() {
  if [ ! -f "$wine32/unpacked" ]; then
    command -v qemu-i386-static >/dev/null ||
      { echo "qemu-i386-static is missing: apt-get install qemu-user-static" >&2; exit 1; }
    dpkg --print-foreign-architectures | grep -qx i386 ||
      { echo "i386 is not a package architecture here: dpkg --add-architecture i386 &&" \
          "apt-get update" >&2; exit 1; }
    rm -rf "$wine32"
    mkdir -p "$wine32/debs" "$sysroot"
    (cd "$wine32/debs" && apt-get download -o APT::Sandbox::User=root $(printf '%s:i386 ' $packages) >/dev/null) ||
      { echo "apt-get download of the i386 Wine failed" >&2; exit 1; }
    for deb in "$wine32"/debs/*.deb; do dpkg-deb -x "$deb" "$sysroot"; done
    # Wine's 32-bit DLLs load zlib from beside them; Debian takes it from MinGW's package.
    cp /usr/i686-w64-mingw32/lib/zlib1.dll "$sysroot/usr/lib/i386-linux-gnu/wine/i386-windows/"
    rm -rf "$wine32/debs"
    touch "$wine32/unpacked"
  fi
  register_i386
}

# i386 ELF programs started by qemu-i386-static, also those that Wine itself starts (its
# loader starts itself again). The F flag opens the emulator once, at registration.
register_i386() {
  local binfmt=/proc/sys/fs/binfmt_misc
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null ||
      { echo "binfmt_misc is not available (not root, or no such file system)" >&2; exit 1; }
  fi
  [ -e "$binfmt/kelvor-i386" ] && return
  printf '%s' ':kelvor-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
    >"$binfmt/register" 2>/dev/null ||
    { echo "i386 programs cannot be registered with binfmt_misc (not root?)" >&2; exit 1; }
}

case "${1:-}" in
  --setup) setup ;;
  --which)
    [ -x "$loader" ] && [ -e /proc/sys/fs/binfmt_misc/kelvor-i386 ] ||
      { echo "no 32-bit Wine: run tools/wine32.sh --setup" >&2; exit 1; }
    echo "$loader" ;;
  --stop)
    # This prefix's server, and with it Wine's own programs in the prefix; no other.
    WINEPREFIX="$KELVOR_WINEPREFIX" "$(dirname "$("$root/tools/wine.sh" --which)")/wineserver" -k \
      2>/dev/null || true ;;
  --prefix | --server)
    unset QEMU_LD_PREFIX WINESERVER WINEBOOTSTRAPMODE
    exec "$root/tools/wine.sh" "$1" ;;
  *)
    [ -f "$WINEPREFIX/system.reg" ] || "$root/tools/wine.sh" --prefix >/dev/null
    exec "$loader" "$@" ;;
esac
