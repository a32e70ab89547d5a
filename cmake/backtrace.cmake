# Symbolised backtraces in failure reports come from GCC's libbacktrace, which lives in
# the compiler's own library folder; without it the reports fall back to the C library's
# backtrace and the dynamic symbol table. Another compiler (Zig's, for the wheels) takes
# the archive of the GCC that its toolchain file names in WALKMESH_BACKTRACE_GCC, a C
# library for the same target, with that GCC's runtime library for the helpers GCC's
# code calls (aarch64's outline atomics), and that GCC's backtrace.h alone: GCC's own C
# headers beside it must not shadow the other compiler's.
include(CheckIncludeFileCXX)

if(WALKMESH_BACKTRACE_GCC AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set(backtrace_compiler ${WALKMESH_BACKTRACE_GCC})
  execute_process(
    COMMAND ${backtrace_compiler} -print-file-name=include/backtrace.h
    OUTPUT_VARIABLE gcc_backtrace_header
    OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET)
  if(IS_ABSOLUTE "${gcc_backtrace_header}" AND EXISTS "${gcc_backtrace_header}")
    configure_file("${gcc_backtrace_header}" "${CMAKE_BINARY_DIR}/backtrace-include/backtrace.h" COPYONLY)
    set(CMAKE_REQUIRED_INCLUDES "${CMAKE_BINARY_DIR}/backtrace-include")
    target_include_directories(walkmesh_report PRIVATE "${CMAKE_BINARY_DIR}/backtrace-include")
  endif()
else()
  set(backtrace_compiler ${CMAKE_CXX_COMPILER})
endif()
check_include_file_cxx(backtrace.h WALKMESH_HAVE_BACKTRACE_H)
unset(CMAKE_REQUIRED_INCLUDES)
execute_process(
  COMMAND ${backtrace_compiler} -print-file-name=libbacktrace.a
  OUTPUT_VARIABLE compiler_backtrace_archive
  OUTPUT_STRIP_TRAILING_WHITESPACE
  ERROR_QUIET)
get_filename_component(compiler_library_dir "${compiler_backtrace_archive}" DIRECTORY)
if(compiler_library_dir)
  find_library(WALKMESH_BACKTRACE_LIBRARY NAMES backtrace
    PATHS "${compiler_library_dir}" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
endif()
find_library(WALKMESH_BACKTRACE_LIBRARY NAMES backtrace)

if(WALKMESH_HAVE_BACKTRACE_H AND WALKMESH_BACKTRACE_LIBRARY)
  message(STATUS "Failure reports symbolise with ${WALKMESH_BACKTRACE_LIBRARY}")
  target_compile_definitions(walkmesh_report PUBLIC WALKMESH_HAVE_LIBBACKTRACE)
  target_link_libraries(walkmesh_report PRIVATE "${WALKMESH_BACKTRACE_LIBRARY}")
  if(NOT backtrace_compiler STREQUAL CMAKE_CXX_COMPILER)
    execute_process(
      COMMAND ${backtrace_compiler} -print-libgcc-file-name
      OUTPUT_VARIABLE gcc_runtime_library
      OUTPUT_STRIP_TRAILING_WHITESPACE)
    target_link_libraries(walkmesh_report PRIVATE "${gcc_runtime_library}")
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      target_sources(walkmesh_report PRIVATE "${CMAKE_CURRENT_LIST_DIR}/compat/fcntl64.cpp")
    endif()
  endif()
else()
  message(STATUS "Failure reports symbolise with dladdr (libbacktrace not found)")
endif()
target_link_libraries(walkmesh_report PRIVATE ${CMAKE_DL_LIBS})
# Functions that cannot throw still get unwind tables, so that a backtrace passes through
# them: 32-bit ARM leaves them out otherwise and the unwinder stops at the first one.
target_compile_options(walkmesh_report PUBLIC -funwind-tables)
