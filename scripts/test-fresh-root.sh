#!/usr/bin/env bash
# Runs a command in a fresh Debian root, as a new user's machine would be: a minimal system made
# by debootstrap, a clone of this repository's committed HEAD in /srv/vindelor, and the command
# run there as root with an empty environment (only HOME, PATH and CI).
#
#   bash scripts/test-fresh-root.sh [--suite trixie|bookworm] [COMMAND]
#
# --suite: the release, Debian 13 (trixie) by default. COMMAND: the README's test command,
# bash scripts/test-all.sh, by default. As root; installs debootstrap when it is missing. The
# package mirror is the one this machine's apt sources name. The base system is kept as a
# tarball in ${TMPDIR:-/tmp}/vindelor-fresh-root (the first run takes a few minutes more); the
# root itself is removed afterwards. The exit status is the command's.
set -euo pipefail
cd "$(dirname "$0")/.."

suite=trixie
while (($#)); do
    case "$1" in
        --suite) suite="$2" && shift ;;
        -*) echo "usage: bash scripts/test-fresh-root.sh [--suite trixie|bookworm] [COMMAND]" >&2
            exit 2 ;;
        *) break ;;
    esac
    shift
done
command="${1:-bash scripts/test-all.sh}"

if ! command -v debootstrap >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap \
        >/dev/null
fi

# This machine's sources, turned to the wanted release (bookworm-updates becomes
# trixie-updates, and so on).
hostSuite="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
    sourcesPath=etc/apt/sources.list.d/debian.sources
    sources="$(cat /etc/apt/sources.list.d/debian.sources)"
    mirror="$(sed -n 's/^URIs: *//p' <<<"$sources" | head -n 1 | cut -d' ' -f1)"
else
    sourcesPath=etc/apt/sources.list
    sources="$(grep -E '^deb ' /etc/apt/sources.list)"
    mirror="$(awk '$1 == "deb" { print $2; exit }' <<<"$sources")"
fi
[[ -n $hostSuite && -n $mirror ]] || { echo "cannot read this machine's apt sources" >&2; exit 1; }
sources="$(sed -e "s/\b$hostSuite\b/$suite/g" <<<"$sources")"

cache="${TMPDIR:-/tmp}/vindelor-fresh-root"
base="$cache/base-$suite.tar"
mkdir -p "$cache"
if [[ ! -f $base ]]; then
    echo "Making a $suite base system (debootstrap, a few minutes) ..."
    rm -rf "$cache/making"
    if ! debootstrap --variant=minbase --include=git,ca-certificates "$suite" "$cache/making" \
        "$mirror" >"$cache/debootstrap-$suite.log" 2>&1; then
        tail -n 20 "$cache/debootstrap-$suite.log" >&2
        exit 1
    fi
    rm -f "$cache/making/etc/apt/sources.list" "$cache/making/etc/apt/sources.list.d/"*
    printf '%s\n' "$sources" >"$cache/making/$sourcesPath"
    tar -C "$cache/making" -cf "$base.part" . && mv "$base.part" "$base"
    rm -rf "$cache/making"
fi

root="$(mktemp -d "$cache/root.XXXXXX")"
mounts=()
cleanup() {
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
    rm -rf "$root"
}
trap cleanup EXIT
tar -C "$root" -xf "$base"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
git clone -q "$(pwd)" "$root/srv/vindelor"
for mount in proc sys dev dev/pts dev/shm; do
    mount --bind "/$mount" "$root/$mount" && mounts+=("$root/$mount")
done
echo "In a fresh $suite root: $command"
chroot "$root" /usr/bin/env -i HOME=/root CI="${CI:-true}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd /srv/vindelor && $command"
