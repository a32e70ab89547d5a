/* Python 3.8's Python.h includes <crypt.h>, which the C library headers that Zig
   ships leave out (libcrypt is not part of glibc's interface there). Nothing in this
   project calls crypt(): this empty header only lets Python.h compile. */
#pragma once
