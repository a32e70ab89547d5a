# Builds with Zig's clang against an older glibc's interface (the glibc version is part
# of Zig's target, x86_64-linux-gnu.2.17) and links LLVM's libc++, libc++abi and
# libunwind statically, so the modules need nothing newer than that glibc: this is how
# the wheels get manylinux2014. Zig comes from PyPI (the ziglang package).
#   WALKMESH_ZIG          the zig executable (default: env WALKMESH_ZIG, else zig on PATH)
#   WALKMESH_ZIG_TARGET   Zig's target with the glibc version (default: env
#                         WALKMESH_ZIG_TARGET, else x86_64-linux-gnu.2.17)
#   WALKMESH_ZIG_CPU      Zig's -mcpu value (default: env WALKMESH_ZIG_CPU, else Zig's
#                         baseline for the target)
# For another architecture than the host's the build is a cross build: the caller names
# the target's Python headers and extension suffix (Python3_INCLUDE_DIR, Python3_SOABI).
foreach(setting WALKMESH_ZIG WALKMESH_ZIG_TARGET WALKMESH_ZIG_CPU)
  if(NOT ${setting} AND DEFINED ENV{${setting}})
    set(${setting} "$ENV{${setting}}")
  endif()
endforeach()
if(NOT WALKMESH_ZIG)
  find_program(WALKMESH_ZIG zig)
  if(NOT WALKMESH_ZIG)
    message(FATAL_ERROR "no zig: pip install ziglang and set WALKMESH_ZIG to its zig executable")
  endif()
endif()
if(NOT WALKMESH_ZIG_TARGET)
  set(WALKMESH_ZIG_TARGET x86_64-linux-gnu.2.17)
endif()
# The checks CMake compiles see the same settings.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES WALKMESH_ZIG WALKMESH_ZIG_TARGET WALKMESH_ZIG_CPU)

string(REGEX MATCH "^[^-]+" zig_arch "${WALKMESH_ZIG_TARGET}")
string(REGEX REPLACE "\\.[0-9.]+$" "" zig_triple "${WALKMESH_ZIG_TARGET}")
if(zig_arch STREQUAL "arm")
  set(zig_processor armv7l)
else()
  set(zig_processor ${zig_arch})
endif()
cmake_host_system_information(RESULT host_processor QUERY OS_PLATFORM)
if(NOT zig_processor STREQUAL host_processor)
  # Setting the system name is what makes CMake treat the build as a cross build.
  set(CMAKE_SYSTEM_NAME Linux)
  set(CMAKE_SYSTEM_PROCESSOR ${zig_processor})
endif()

set(CMAKE_C_COMPILER "${WALKMESH_ZIG}" cc)
set(CMAKE_CXX_COMPILER "${WALKMESH_ZIG}" c++)
set(CMAKE_C_COMPILER_TARGET ${WALKMESH_ZIG_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${WALKMESH_ZIG_TARGET})
# Headers Zig's C library lacks and Python.h asks for, searched after every other.
set(zig_flags "-idirafter ${CMAKE_CURRENT_LIST_DIR}/zig-include")
if(WALKMESH_ZIG_CPU)
  string(APPEND zig_flags " -mcpu=${WALKMESH_ZIG_CPU}")
endif()
set(CMAKE_C_FLAGS_INIT "${zig_flags}")
set(CMAKE_CXX_FLAGS_INIT "${zig_flags}")
# Zig's own archiver, for every target; CMake runs these rules through a shell.
foreach(language C CXX)
  set(CMAKE_${language}_ARCHIVE_CREATE "\"${WALKMESH_ZIG}\" ar qc <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${language}_ARCHIVE_APPEND "\"${WALKMESH_ZIG}\" ar q <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${language}_ARCHIVE_FINISH "\"${WALKMESH_ZIG}\" ranlib <TARGET>")
endforeach()

# libbacktrace (cmake/backtrace.cmake) comes from the GCC installed for the same target.
if(zig_triple STREQUAL "x86_64-linux-gnu" AND host_processor STREQUAL "x86_64")
  set(WALKMESH_BACKTRACE_GCC gcc)
else()
  set(WALKMESH_BACKTRACE_GCC ${zig_triple}-gcc)
endif()
