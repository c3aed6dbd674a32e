#!/usr/bin/env bash
# Builds the shipped 32-bit kelvor.exe and makes its release archive:
#   build/kelvor-<version>-windows.zip   kelvor.exe and README.txt (running it on a node)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 --target kelvor
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows/CMakeCache.txt)
name=kelvor-${version:-dev}-windows
stage=build/package/$name
rm -rf build/package
mkdir -p "$stage"
# Only a program that starts on the oldest Windows of a node goes out (the check's faults and
# verdict shown).
bash tools/check-exe.sh build/windows/app/kelvor.exe | grep -E '^(FAIL|check-exe)'
# Only the program: on a SCADA node the SCADA system's own libraries are there.
cp build/windows/app/kelvor.exe "$stage/"
sed 's/$/\r/' packaging/README-windows.txt >"$stage/README.txt"
(cd build/package && cmake -E tar cf "../$name.zip" --format=zip "$name")
echo "build/$name.zip"
