# Sourced by the scripts that build or test for 32-bit ARM hard-float (Debian armhf)
# under user-mode emulation: the host tools, the armhf root with Debian's Python, the
# emulator's settings and the cross build. The caller sets `project` (the project root).
#   ARMHF_ROOT     the armhf root (default: .armhf/root in the project)
#   ARMHF_BUILD    the cross build directory (default: build/armhf)
#   ARMHF_SUITE    Debian release of the root (default: bookworm)
#   ARMHF_MIRROR   Debian mirror for the root (default: http://deb.debian.org/debian)

export ARMHF_ROOT=${ARMHF_ROOT:-$project/.armhf/root}
armhf_build=${ARMHF_BUILD:-$project/build/armhf}
armhf_suite=${ARMHF_SUITE:-bookworm}
armhf_mirror=${ARMHF_MIRROR:-http://deb.debian.org/debian}
# pip installs the wheel into an environment of the root's interpreter.
armhf_root_packages=python3,python3-dev,python3-numpy,python3-pytest,python3-hypothesis,python3-pip,libgtest-dev
armhf_root_stamp=$ARMHF_ROOT/.walkmesh-root

armhf_install_host_tools() {
    local missing=() package
    for package in qemu-user-static g++-arm-linux-gnueabihf debootstrap; do
        dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
    done
    command -v cmake >/dev/null 2>&1 || missing+=(cmake)
    command -v make >/dev/null 2>&1 || missing+=(make)
    if ((${#missing[@]})); then
        echo "== installing ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

# Stage one of debootstrap only: it downloads the closure of the packages, and unpacking
# every .deb gives a root that qemu can run from without chroot or maintainer scripts.
armhf_prepare_root() {
    mkdir -p "$(dirname "$ARMHF_ROOT")"
    if [[ -f $armhf_root_stamp && $(<"$armhf_root_stamp") == "$armhf_suite $armhf_root_packages" ]]; then
        echo "== reusing the armhf root $ARMHF_ROOT"
        armhf_name_guest_python
        return
    fi
    if [[ -d $ARMHF_ROOT && -n $(ls -A "$ARMHF_ROOT") ]]; then
        # Only a root that this script started may be thrown away.
        if [[ ! -d $ARMHF_ROOT/debootstrap ]]; then
            echo "ARMHF_ROOT=$ARMHF_ROOT is not empty and was not made by this script" >&2
            exit 2
        fi
        rm -rf "$ARMHF_ROOT"
    fi
    echo "== debootstrap $armhf_suite armhf into $ARMHF_ROOT"
    mkdir -p "$ARMHF_ROOT"
    debootstrap --foreign --arch=armhf --variant=minbase --include="$armhf_root_packages" \
        "$armhf_suite" "$ARMHF_ROOT" "$armhf_mirror" >"$ARMHF_ROOT.debootstrap.log" 2>&1 || {
        tail -n 20 "$ARMHF_ROOT.debootstrap.log" >&2
        exit 1
    }
    local deb
    for deb in "$ARMHF_ROOT"/var/cache/apt/archives/*.deb; do
        dpkg -x "$deb" "$ARMHF_ROOT"
    done
    rm -f "$ARMHF_ROOT"/var/cache/apt/archives/*.deb
    armhf_name_guest_python
    # Without .pyc files every import under emulation costs about three times as much.
    armhf_python -m compileall -q -j0 "$ARMHF_ROOT/usr/lib/$guest_python" \
        "$ARMHF_ROOT/usr/lib/python3/dist-packages" >/dev/null || true
    echo "$armhf_suite $armhf_root_packages" >"$armhf_root_stamp"
}

# The emulator finds the guest's libraries through QEMU_LD_PREFIX; the BLAS and LAPACK
# alternatives are absolute links that the prefix cannot follow, so the guest gets
# their directories as host paths. Child qemu processes inherit both.
armhf_setup_emulation() {
    export QEMU_LD_PREFIX=$ARMHF_ROOT
    local libdir=$ARMHF_ROOT/usr/lib/arm-linux-gnueabihf
    export QEMU_SET_ENV=LD_LIBRARY_PATH=$libdir/blas:$libdir/lapack
    export PY_SUBPROCESS_PREFIX=qemu-arm-static
}

# guest_python: the root's interpreter by name (python3.11).
armhf_name_guest_python() {
    guest_python=$(basename "$(readlink -f "$ARMHF_ROOT/usr/bin/python3")")
}

armhf_python() {
    qemu-arm-static "$ARMHF_ROOT/usr/bin/$guest_python" "$@"
}

# The module and, where they exist, the C++ tests, cross-built for the root's Python.
armhf_cross_build() {
    local options=(-DCMAKE_TOOLCHAIN_FILE="$project/cmake/armhf-toolchain.cmake"
        -DPython3_ROOT_DIR="$ARMHF_ROOT/usr" -DCMAKE_BUILD_TYPE=Release -DWALKMESH_WERROR=ON)
    if [[ -f $project/tests/cpp/CMakeLists.txt ]]; then
        options+=(-DWALKMESH_BUILD_TESTS=ON)
    fi
    echo "== cross-building into $armhf_build"
    mkdir -p "$(dirname "$armhf_build")"
    cmake -S "$project" -B "$armhf_build" "${options[@]}" >"$armhf_build.configure.log" 2>&1 || {
        cat "$armhf_build.configure.log" >&2
        exit 1
    }
    cmake --build "$armhf_build" -j"$(nproc)"
}
