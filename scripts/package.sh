#!/usr/bin/env bash
# Builds the Debian package of Kestrune: a release build with Debian's hardening flags in
# build-package/, then CPack. Prints the path of the .deb; install it with
#   apt install ./build-package/kestrune_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --package-only
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DKEST_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
ninja -C build-package kestprograms
(cd build-package && cpack >/dev/null)
ls "$PWD"/build-package/kestrune_*_amd64.deb
