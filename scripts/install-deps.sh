#!/usr/bin/env bash
# Installs the Debian packages Vindelor needs that are missing. As root on Debian 12.
#   install-deps.sh          what building and running the program needs
#   install-deps.sh --tests  that, and what the tests and benchmarks need too
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-private-dev qt6-qpa-plugins libgl-dev
    libpulse-dev libsndfile1-dev libsoxr-dev
    fonts-dejavu-core
    pulseaudio
)
if [[ "${1:-}" == "--tests" ]]; then
    packages+=(
        libgtest-dev libgmock-dev libbenchmark-dev
        xvfb xauth xdotool x11-utils pulseaudio-utils imagemagick libx11-dev libxtst-dev
        desktop-file-utils appstream
        clang libclang-rt-14-dev valgrind
    )
fi

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
