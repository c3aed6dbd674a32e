#!/usr/bin/env bash
# Builds Kelvor for Linux and Windows and runs every test.
#   - the Linux program and its tests; its Debian package, installed, run and purged again
#     (tools/package-deb.sh, tools/check-deb.sh);
#   - kelvor.exe, the 32-bit Windows console program that ships, and a check of what it needs
#     from Windows (tools/check-exe.sh); its stack-restoring call into the SCADA libraries run
#     under the Unicorn emulator (tools/check-call-piece.py); the same kelvor.exe run under
#     qemu-i386 and i386 Wine against the simulators (tools/shipped-exe.sh, as root);
#   - the same Windows code built 64-bit, with its tests run under Wine (wine64), natively:
#     this machine's kernel runs no 32-bit processes.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
# The end-to-end scenarios spend their time waiting for the simulated phone, not computing:
# they run several at a time whatever the number of cores.
e2e_jobs=${E2E_JOBS:-6}

step() { printf '\n== %s\n' "$*"; }

step "Linux build"
cmake --preset linux >/dev/null
cmake --build --preset linux -j"$jobs"
step "Linux tests"
ctest --preset linux -j"$jobs" -LE e2e
ctest --preset linux -j"$e2e_jobs" -L e2e

step "Debian package: built, installed, run, purged"
if command -v dpkg-shlibdeps >/dev/null; then
  deb=$(bash tools/package-deb.sh | tail -n1)
  if [ "$(id -u)" = 0 ]; then
    bash tools/check-deb.sh "$deb"
  else
    echo "Not root: $deb is built but not installed." \
      "Check it with: sudo bash tools/check-deb.sh $deb"
    if [ -n "${CI:-}" ]; then exit 1; fi
  fi
else
  echo "dpkg-dev is not installed: the Debian package is not built." \
    "Install it with: apt-get install dpkg-dev"
  if [ -n "${CI:-}" ]; then exit 1; fi
fi

step "Sanitizers, valgrind and fuzzing"
E2E_JOBS=$e2e_jobs bash tools/robustness.sh

step "32-bit Windows build (kelvor.exe)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"
step "kelvor.exe starts on Windows XP SP3: its header, imports and size"
bash tools/check-exe.sh build/windows/app/kelvor.exe
step "kelvor.exe's stack-restoring SCADA call run under the Unicorn emulator"
# The check, then the check of the check: it must fail on copies of the piece each short of
# one instruction. Exit status 77: python3-unicorn is missing.
unicorn=0
python3 tools/check-call-piece.py build/windows/app/kelvor.exe || unicorn=$?
if ((unicorn == 0)); then
  python3 tools/check-call-piece.py --self-test build/windows/app/kelvor.exe
elif ((unicorn == 77)); then
  echo "python3-unicorn is not installed: the piece is not run." \
    "Install it with: apt-get install python3-unicorn"
  if [ -n "${CI:-}" ]; then exit 1; fi
else
  exit "$unicorn"
fi
step "kelvor.exe executed under qemu-i386 and i386 Wine (tools/shipped-exe.sh)"
if [ "$(id -u)" = 0 ] && [ -d /proc/sys/fs/binfmt_misc ] && command -v qemu-i386-static >/dev/null &&
  tools/wine.sh --which >/dev/null 2>&1; then
  bash tools/shipped-exe.sh
else
  echo "Needs root, binfmt_misc, qemu-i386-static and wine64: the shipped kelvor.exe is not run." \
    "Install them with: apt-get install qemu-user-static wine64; then: bash tools/shipped-exe.sh"
  if [ -n "${CI:-}" ]; then exit 1; fi
fi

step "64-bit Windows build and its tests under Wine"
cmake --preset windows64 >/dev/null
cmake --build --preset windows64 -j"$jobs"
if wine=$(tools/wine.sh --which 2>/dev/null); then
  tools/wine.sh --prefix >/dev/null
  tools/wine.sh --server
  # Now and then Wine fails to start a program at all (no output, within a tenth of a
  # second), whatever the program: a test that fails is run once more, and fails the run
  # only when it fails again.
  ctest --preset windows64 -j"$jobs" -LE e2e --repeat until-pass:2
  ctest --preset windows64 -j"$e2e_jobs" -L e2e --repeat until-pass:2
else
  echo "Wine (wine64) is not installed: the Windows tests are skipped." \
    "Install it with: apt-get install wine64"
  # CI must not pass without the Windows tests.
  if [ -n "${CI:-}" ]; then exit 1; fi
fi
