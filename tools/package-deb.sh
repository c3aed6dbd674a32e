#!/usr/bin/env bash
# Builds the Debian package of the Linux program, build/kelvor_<version>_<arch>.deb:
# kelvor, kelvor-scada-node and kelvor-gsm-sim in /usr/bin, Kelvor's command line in
# /etc/default/kelvor, the example systemd unit in /usr/share/doc/kelvor/examples, the demo
# plant in /usr/share/kelvor/demo. It has a build of its own (build/deb), configured for
# those paths, which the unit names.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/deb -DCMAKE_BUILD_TYPE=Release -DKELVOR_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_SYSCONFDIR=/etc \
  -DCMAKE_INSTALL_DOCDIR=share/doc/kelvor >/dev/null
cmake --build build/deb -j2
rm -f build/deb/kelvor_*.deb
(cd build/deb && cpack -G DEB >cpack.log 2>&1) || { cat build/deb/cpack.log; exit 1; }
deb=$(ls build/deb/kelvor_*.deb)
mv "$deb" build/
echo "build/$(basename "$deb")"
