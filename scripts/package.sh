#!/usr/bin/env bash
# Builds the Debian package build-pkg/vindelor_<version>_amd64.deb from a Release build of the
# program alone, with Debian's usual hardening flags; its dependencies are computed from the
# binary by dpkg-shlibdeps. Installs what building it needs when that is missing (as root).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --package
# The compiler and linker flags Debian builds its packages with, all of its hardening on.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B build-pkg -DCMAKE_BUILD_TYPE=Release -DVINDELOR_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build-pkg -j2
# One package in the folder, the one just built.
rm -f build-pkg/*.deb
(cd build-pkg && cpack -G DEB)
