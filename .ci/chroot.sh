# shellcheck shell=bash
# Minimal Debian systems for CI, sourced by the chroot legs: each leg starts from a fresh copy of a
# `debootstrap --variant=minbase` system, kept as a tarball under build/chroot between runs, and
# every mount it makes is undone when the leg ends, however it ends.
#
# The archive comes from this machine's own apt sources, so CI uses whatever mirror the host does.

CHROOT_DIR=${CHROOT_DIR:-$PWD/build/chroot}
CHROOT_MOUNTS=()

# The Debian archive the host's apt reads from (one-line or deb822 sources alike).
chroot_mirror() {
    {
        grep -hsE '^[[:space:]]*deb[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
            awk '{ for (i = 2; i <= NF; i++) if ($i ~ /^[a-z+]+:\/\//) { print $i; break } }'
        awk '/^URIs:/ { for (i = 2; i <= NF; i++) print $i }' /etc/apt/sources.list.d/*.sources 2>/dev/null
    } | grep -E '/debian/?$' | head -n 1
}

# Installs a host tool the legs need, in the Makefile's way (root, or sudo). Its callers' output
# is often captured for a value, so apt's and dpkg's chatter goes to standard error.
chroot_host_tool() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    {
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=600 \
            --no-install-recommends "${missing[@]}"
    } >&2
}

# The cached minimal system of a suite (bookworm, trixie), made on first use. Its path is the one
# line on standard output; everything else it says goes to standard error.
chroot_base() {
    local suite=$1 tarball=$CHROOT_DIR/cache/$1-minbase.tar
    if [ ! -s "$tarball" ]; then
        chroot_host_tool debootstrap
        local mirror
        mirror=$(chroot_mirror)
        [ -n "$mirror" ] || { echo "no Debian archive in the host's apt sources" >&2; return 1; }
        local tmp=$CHROOT_DIR/cache/$suite-bootstrap
        rm -rf "$tmp"
        mkdir -p "$tmp"
        echo "== debootstrap $suite (minbase)" >&2
        debootstrap --variant=minbase "$suite" "$tmp" "$mirror" >"$CHROOT_DIR/cache/$suite-debootstrap.log" 2>&1 ||
            { tail -n 30 "$CHROOT_DIR/cache/$suite-debootstrap.log" >&2; rm -rf "$tmp"; return 1; }
        # Downloaded packages are kept (in a folder of their own per suite), not thrown away.
        rm -f "$tmp/etc/apt/apt.conf.d/docker-clean"
        tar -C "$tmp" -cf "$tarball.part" . >&2 && mv "$tarball.part" "$tarball"
        rm -rf "$tmp"
    fi
    echo "$tarball"
}

# Unpacks a fresh system of the suite into the folder, replacing whatever was there.
chroot_fresh() {
    local suite=$1 root=$2 tarball
    tarball=$(chroot_base "$suite") || return 1
    chroot_rm "$root"
    mkdir -p "$root"
    tar -C "$root" -xf "$tarball"
    cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
    # A system in a chroot starts no services when packages are installed.
    printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
    chmod 755 "$root/usr/sbin/policy-rc.d"
    # Each system keeps its own downloads, so that two of them can run side by side.
    local archives
    archives=$CHROOT_DIR/cache/apt-$(basename "$root")
    mkdir -p "$archives"
    chroot_mount --bind "$archives" "$root/var/cache/apt/archives"
}

chroot_mount() {
    local target=${*: -1}
    mkdir -p "$target"
    mount "$@"
    CHROOT_MOUNTS+=("$target")
}

# /proc, /sys, /dev with its pseudo-terminals and shared memory: what a desktop program and the
# tests need.
chroot_mount_system() {
    local root=$1
    chroot_mount -t proc proc "$root/proc"
    chroot_mount --bind /sys "$root/sys"
    chroot_mount --bind /dev "$root/dev"
    chroot_mount --bind /dev/pts "$root/dev/pts"
    chroot_mount --bind /dev/shm "$root/dev/shm"
}

# Ends every process still running inside the folder (a server a test left behind), then undoes
# the mounts, last first. Safe to call more than once.
chroot_cleanup() {
    local root
    for root in "$@"; do
        local pids=()
        for p in /proc/[0-9]*; do
            [ "$(readlink "$p/root" 2>/dev/null)" = "$(readlink -f "$root")" ] && pids+=("${p#/proc/}")
        done
        [ ${#pids[@]} -gt 0 ] && kill -9 "${pids[@]}" 2>/dev/null
    done
    local i
    for ((i = ${#CHROOT_MOUNTS[@]} - 1; i >= 0; i--)); do
        umount "${CHROOT_MOUNTS[$i]}" 2>/dev/null || umount -l "${CHROOT_MOUNTS[$i]}" 2>/dev/null || true
    done
    CHROOT_MOUNTS=()
}

# Removes a system folder, refusing while anything is still mounted below it.
chroot_rm() {
    local root=$1
    [ -e "$root" ] || return 0
    if grep -q " $(readlink -f "$root")/" /proc/mounts; then
        echo "still mounted below $root; not removing it" >&2
        return 1
    fi
    rm -rf "$root"
}

# Runs a command as root inside the system with a plain environment.
chroot_run() {
    local root=$1
    shift
    chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
        "$@"
}
