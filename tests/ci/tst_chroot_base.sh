#!/usr/bin/env bash
# chroot_base's one line of output is the tarball's path, even on a machine where debootstrap
# must be installed first and apt talks at length on the way. Nothing is downloaded: apt-get,
# dpkg-query and debootstrap are stand-ins on PATH.
set -euo pipefail
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir "$work/bin"
cat >"$work/bin/dpkg-query" <<'STUB'
#!/bin/sh
exit 1
STUB
cat >"$work/bin/apt-get" <<'STUB'
#!/bin/sh
i=0
while [ $i -lt 200 ]; do echo "Selecting previously unselected package debootstrap line $i"; i=$((i + 1)); done
STUB
cat >"$work/bin/debootstrap" <<'STUB'
#!/bin/sh
echo "I: Retrieving InRelease"
mkdir -p "$3/etc/apt/apt.conf.d" && echo minbase >"$3/etc/debian_version"
STUB
chmod +x "$work/bin/"*

export CHROOT_DIR=$work/chroot PATH=$work/bin:$PATH
mkdir -p "$CHROOT_DIR/cache"
# shellcheck source=.ci/chroot.sh
source "$source_dir/.ci/chroot.sh"
chroot_mirror() { echo http://deb.invalid/debian; }

for pass in "debootstrap installed first" "cached"; do
    path=$(chroot_base trixie 2>/dev/null)
    if [ "$path" != "$CHROOT_DIR/cache/trixie-minbase.tar" ]; then
        echo "$pass: chroot_base printed more than the path:" >&2
        printf '%s\n' "$path" | head -n 5 >&2
        exit 1
    fi
    tar -tf "$path" >"$work/listing"
    grep -qx './etc/debian_version' "$work/listing" || { echo "$pass: $path is not the system" >&2; exit 1; }
done
