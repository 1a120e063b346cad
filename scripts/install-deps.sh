#!/usr/bin/env bash
# Installs the Debian packages Vindelor needs that are missing. As root on Debian 12 or 13.
#   install-deps.sh            what building and running the program needs: the sound server's
#                              client library, never a server (the desktop has its own)
#   install-deps.sh --package  that, and what building its Debian package needs
#   install-deps.sh --tests    all that, and the sound servers and tools the tests use
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-private-dev qt6-qpa-plugins libgl-dev
    libpulse-dev libsndfile1-dev libsoxr-dev
    fonts-dejavu-core
)
packaging=(dpkg-dev file)
case "${1:-}" in
    "") ;;
    --package) packages+=("${packaging[@]}") ;;
    --tests)
        packages+=(
            "${packaging[@]}" lintian
            libgtest-dev libgmock-dev libbenchmark-dev
            xvfb xauth xdotool x11-utils imagemagick libx11-dev libxtst-dev
            desktop-file-utils appstream
            # Private sound servers for the end-to-end and robustness tests.
            pulseaudio pulseaudio-utils
            pipewire pipewire-pulse pipewire-bin wireplumber libspa-0.2-modules dbus-daemon
            libpipewire-0.3-dev
            # The release's own clang, its sanitizer runtimes, and llvm, which puts
            # llvm-symbolizer on the PATH: the sanitizers name a report's frames with it (and
            # match their suppressions by those names).
            clang libclang-rt-dev llvm valgrind
        )
        ;;
    *)
        echo "usage: install-deps.sh [--package | --tests]" >&2
        exit 2
        ;;
esac

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
