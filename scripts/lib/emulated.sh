# Sourced by the scripts that build or test for ARM under user-mode emulation: 32-bit
# hard-float (Debian armhf) and 64-bit (Debian arm64). `emulated_select ARCH` picks the
# target; then come the host tools, the target's Debian root with its Python, the
# emulator's settings and the GCC cross build. The caller sets `project` (the project
# root). For armhf (ARM64_... for arm64):
#   ARMHF_ROOT     the root (default: .armhf/root in the project)
#   ARMHF_BUILD    the GCC cross build directory (default: build/armhf)
#   ARMHF_SUITE    Debian release of the root (default: bookworm)
#   ARMHF_MIRROR   Debian mirror for the root (default: http://deb.debian.org/debian)
source "$project/scripts/lib/debian-root.sh"

# The emulated targets.
emulated_arches=(armhf arm64)
# pip installs the wheel into an environment of the root's interpreter; the C++ tests
# take GoogleTest's sources from the root.
emulated_root_packages=python3,python3-dev,python3-numpy,python3-pytest,python3-hypothesis,python3-pip,libgtest-dev

# Sets emu_arch, emu_triplet (GNU), emu_qemu, emu_machine (platform.machine()),
# emu_zig_target and emu_zig_cpu (cmake/zig-toolchain.cmake), emu_root, emu_build,
# emu_suite, emu_mirror and the guest's Python (guest_python, python3.11) once the root
# exists.
emulated_select() {
    emu_arch=$1
    case $1 in
        armhf)
            emu_triplet=arm-linux-gnueabihf emu_qemu=qemu-arm-static emu_machine=armv7l
            emu_zig_target=arm-linux-gnueabihf.2.17
            # Debian armhf's baseline: ARMv7-A, Thumb-2, VFPv3 with 16 double registers, no NEON.
            emu_zig_cpu=generic+v7a+vfp3d16+thumb2-neon-d32
            ;;
        arm64)
            emu_triplet=aarch64-linux-gnu emu_qemu=qemu-aarch64-static emu_machine=aarch64
            emu_zig_target=aarch64-linux-gnu.2.17 emu_zig_cpu=
            ;;
        *)
            echo "no emulated target $1 (${emulated_arches[*]})" >&2
            exit 2
            ;;
    esac
    local prefix=${1^^} setting
    setting=${prefix}_ROOT
    emu_root=${!setting:-$project/.$1/root}
    setting=${prefix}_BUILD
    emu_build=${!setting:-$project/build/$1}
    setting=${prefix}_SUITE
    emu_suite=${!setting:-bookworm}
    setting=${prefix}_MIRROR
    emu_mirror=${!setting:-http://deb.debian.org/debian}
    # cmake/armhf-toolchain.cmake reads the root from the environment.
    [[ $1 == armhf ]] && export ARMHF_ROOT=$emu_root
    guest_python=
    [[ -e $emu_root/usr/bin/python3 ]] && emulated_name_guest_python
    return 0
}

emulated_install_host_tools() {
    local missing=() package
    for package in qemu-user-static g++-arm-linux-gnueabihf g++-aarch64-linux-gnu debootstrap; do
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

emulated_prepare_root() {
    debian_root_prepare "$emu_root" "$emu_arch" "$emu_suite" "$emu_mirror" "$emulated_root_packages" unpack
    emulated_name_guest_python
    if [[ ! -f $emu_root/.walkmesh-compiled ]]; then
        # Without .pyc files every import under emulation costs about three times as much.
        if emulated_python -m compileall -q -j0 "$emu_root/usr/lib/$guest_python" \
            "$emu_root/usr/lib/python3/dist-packages" >/dev/null; then
            touch "$emu_root/.walkmesh-compiled"
        fi
    fi
}

# The emulator finds the guest's libraries through QEMU_LD_PREFIX; the BLAS and LAPACK
# alternatives are absolute links that the prefix cannot follow, so the guest gets
# their directories as host paths. Child qemu processes inherit both.
emulated_setup() {
    export QEMU_LD_PREFIX=$emu_root
    local libdir=$emu_root/usr/lib/$emu_triplet
    export QEMU_SET_ENV=LD_LIBRARY_PATH=$libdir/blas:$libdir/lapack
    export PY_SUBPROCESS_PREFIX=$emu_qemu
}

# guest_python: the root's interpreter by name (python3.11).
emulated_name_guest_python() {
    guest_python=$(basename "$(readlink -f "$emu_root/usr/bin/python3")")
}

emulated_python() {
    (emulated_setup && "$emu_qemu" "$emu_root/usr/bin/$guest_python" "$@")
}

# The module and, where they exist, the C++ tests, cross-built with Debian's GCC for
# the root's Python (armhf only: cmake/armhf-toolchain.cmake). Arguments are further
# CMake options (-DWALKMESH_BUILD_MODULE=OFF: the C++ tests alone).
emulated_cross_build() {
    local options=(-DCMAKE_TOOLCHAIN_FILE="$project/cmake/$emu_arch-toolchain.cmake"
        -DPython3_ROOT_DIR="$emu_root/usr" -DCMAKE_BUILD_TYPE=Release -DWALKMESH_WERROR=ON "$@")
    if [[ -f $project/tests/cpp/CMakeLists.txt ]]; then
        options+=(-DWALKMESH_BUILD_TESTS=ON)
    fi
    echo "== cross-building into $emu_build"
    mkdir -p "$(dirname "$emu_build")"
    cmake -S "$project" -B "$emu_build" "${options[@]}" >"$emu_build.configure.log" 2>&1 || {
        cat "$emu_build.configure.log" >&2
        exit 1
    }
    cmake --build "$emu_build" -j"$(nproc)"
}
