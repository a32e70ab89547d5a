// GCC's libbacktrace for 32-bit ARM was compiled against a glibc whose headers turn
// fcntl into fcntl64, a symbol of glibc 2.28. Builds for an older glibc (the wheels,
// on 2.17) link this one instead. libbacktrace only sets FD_CLOEXEC with it, an int
// argument, which fcntl takes the same way.
#include <fcntl.h>

#include <cstdarg>

extern "C" int fcntl64(int descriptor, int command, ...) {
    std::va_list arguments;
    va_start(arguments, command);
    const int argument = va_arg(arguments, int);
    va_end(arguments);
    return fcntl(descriptor, command, argument);
}
