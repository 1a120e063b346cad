#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh) and has lintian check it, then installs it into
# this machine with apt-get as a user would, starts the installed program from its desktop entry
# (tests/package/installed_program_e2e.sh) and removes the package again, also when a step
# fails. As root; meant to follow the main build of scripts/test-all.sh, whose rig it uses.
set -euo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n== %s\n' "$*"; }

step "Debian package: build"
bash scripts/package.sh
debs=(build-pkg/vindelor_*_amd64.deb)
((${#debs[@]} == 1)) || { echo "expected one package in build-pkg, found: ${debs[*]}" >&2; exit 1; }
deb="${debs[0]}"

step "Debian package: lintian"
# Errors fail the run; warnings are shown (docs/packaging.md says which are expected). lintian
# only reads the package and advises against running it as root.
asReader=()
if ((EUID == 0)) && runuser -u nobody -- test -r "$deb"; then
    asReader=(runuser -u nobody --)
fi
"${asReader[@]}" lintian --fail-on error --display-level ">=warning" "$deb"

step "Debian package: install, start from its desktop entry, remove"
# apt-get's own chatter is shown only when it fails.
quietAptGet() {
    local log status=0
    log="$(mktemp)"
    DEBIAN_FRONTEND=noninteractive apt-get -y "$@" >"$log" 2>&1 || status=$?
    ((status == 0)) || cat "$log" >&2
    rm -f "$log"
    return "$status"
}
trap 'quietAptGet remove vindelor' EXIT
quietAptGet install "./$deb"
bash tests/package/installed_program_e2e.sh build/bench/rig
trap - EXIT
quietAptGet remove vindelor
if dpkg-query -W -f='${Status}' vindelor 2>/dev/null | grep -q "install ok installed"; then
    echo "the package is still installed after apt-get remove" >&2
    exit 1
fi
echo "installed, ran and removed $deb"
