# Symbolised backtraces in failure reports come from GCC's libbacktrace, which lives in
# the compiler's own library folder; without it the reports fall back to the C library's
# backtrace and the dynamic symbol table.
include(CheckIncludeFileCXX)

check_include_file_cxx(backtrace.h WALKMESH_HAVE_BACKTRACE_H)
execute_process(
  COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libbacktrace.a
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
else()
  message(STATUS "Failure reports symbolise with dladdr (libbacktrace not found)")
endif()
target_link_libraries(walkmesh_report PRIVATE ${CMAKE_DL_LIBS})
# Functions that cannot throw still get unwind tables, so that a backtrace passes through
# them: 32-bit ARM leaves them out otherwise and the unwinder stops at the first one.
target_compile_options(walkmesh_report PUBLIC -funwind-tables)
