# Sourced by the scripts that test in a Debian root of another release or architecture:
# making the root with debootstrap (once; a second run reuses it) and running a command
# inside one with chroot. Needs root.

# debian_root_prepare ROOT ARCH SUITE MIRROR PACKAGES MODE
#   MODE unpack: stage one of debootstrap only, then every .deb unpacked, for a root of
#                another architecture that the emulator runs from without chroot or
#                maintainer scripts.
#   MODE chroot: the whole debootstrap, for a root of this machine's architecture.
# PACKAGES is a comma-separated list beside the minimal base.
debian_root_prepare() {
    local root=$1 arch=$2 suite=$3 mirror=$4 packages=$5 mode=$6
    local stamp=$root/.walkmesh-root wanted="$suite $arch $mode $packages"
    if [[ -f $stamp && $(<"$stamp") == "$wanted" ]]; then
        echo "== reusing the $suite $arch root $root"
        return
    fi
    if [[ -d $root && -n $(ls -A "$root") ]]; then
        # Only a root that these scripts started may be thrown away.
        if [[ ! -d $root/debootstrap && ! -f $stamp ]]; then
            echo "$root is not empty and was not made by these scripts" >&2
            exit 2
        fi
        rm -rf "$root"
    fi
    echo "== debootstrap $suite $arch into $root"
    mkdir -p "$root"
    local options=(--arch="$arch" --variant=minbase --include="$packages")
    [[ $mode == unpack ]] && options+=(--foreign)
    debootstrap "${options[@]}" "$suite" "$root" "$mirror" >"$root.debootstrap.log" 2>&1 || {
        tail -n 20 "$root.debootstrap.log" >&2
        exit 1
    }
    if [[ $mode == unpack ]]; then
        local deb
        for deb in "$root"/var/cache/apt/archives/*.deb; do
            dpkg -x "$deb" "$root"
        done
    fi
    rm -f "$root"/var/cache/apt/archives/*.deb
    echo "$wanted" >"$stamp"
}

# debian_root_chroot ROOT DIR... -- COMMAND...
# Runs COMMAND inside ROOT with /proc, /dev and /dev/shm, and each DIR (the project, the
# shared meshes) at the same path as outside. The mounts live in a mount namespace of
# their own and end with the command. Name resolution and pip's certificate bundle are
# the host's.
debian_root_chroot() {
    local root=$1 dirs=() dir
    shift
    while (($#)) && [[ $1 != -- ]]; do
        dirs+=("$(realpath "$1")")
        shift
    done
    shift
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    local certificates=${PIP_CERT:-/etc/ssl/certs/ca-certificates.crt}
    if [[ -f $certificates ]]; then
        mkdir -p "$root$(dirname "$certificates")"
        cp "$certificates" "$root$certificates"
    fi
    local mounts
    mounts=$(printf 'mount -t proc proc %q && mount --rbind /dev %q && mount -t tmpfs shm %q' \
        "$root/proc" "$root/dev" "$root/dev/shm")
    for dir in "${dirs[@]}"; do
        mkdir -p "$root$dir"
        mounts+=$(printf ' && mount --bind %q %q' "$dir" "$root$dir")
    done
    unshare --mount --propagation private -- bash -c "$mounts && exec chroot $(printf %q "$root") \"\$@\"" \
        chroot "$@"
}
