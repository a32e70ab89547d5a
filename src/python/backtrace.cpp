// Backtrace capture and symbolisation for failure reports. Frames are captured as
// return addresses by the unwinder linked into the module; GCC's libbacktrace names
// them from the debug information when the build has it, the dynamic symbol table
// (dladdr) names what is left.
#include "python/backtrace.hpp"

#include <array>
#include <cstdint>
#include <string_view>

#include <cxxabi.h>
#include <dlfcn.h>
#include <unwind.h>

#ifdef WALKMESH_HAVE_LIBBACKTRACE
#include <backtrace.h>
#endif

namespace walkmesh::detail {
namespace {

constexpr int max_frames = 256;
constexpr std::size_t number_width = 4;
// Inlined callers and source lines line up under the symbol after "NNNN: ".
// (Inlined callers are known only from libbacktrace.)
[[maybe_unused]] constexpr std::string_view continuation_indent = "      ";
constexpr std::string_view location_indent = "             at ";

struct CapturedFrames {
    std::array<void*, max_frames> return_addresses;
    int count;
};

_Unwind_Reason_Code take_frame(_Unwind_Context* context, void* data) {
    auto& frames = *static_cast<CapturedFrames*>(data);
    if (frames.count == max_frames) {
        return _URC_END_OF_STACK;
    }
    frames.return_addresses[frames.count++] = reinterpret_cast<void*>(_Unwind_GetIP(context));
    return _URC_NO_REASON;
}

struct FrameRange {
    int first;
    int end;
};

// The address of the call instruction, which names the calling line rather than the next.
std::uintptr_t call_site(const void* return_address) noexcept {
    return reinterpret_cast<std::uintptr_t>(return_address) - 1;
}

// ARM's Thumb code marks return addresses with bit 0, which the unwinder clears; no two
// calls on any target end one byte apart, so the bit can be ignored everywhere.
bool same_return_address(const void* a, const void* b) noexcept {
    return (reinterpret_cast<std::uintptr_t>(a) | 1U) == (reinterpret_cast<std::uintptr_t>(b) | 1U);
}

const void* object_base(std::uintptr_t pc) noexcept {
    Dl_info info{};
    return dladdr(reinterpret_cast<void*>(pc), &info) != 0 ? info.dli_fbase : nullptr;
}

// Grown by __cxa_demangle with realloc and reused: only the report lock's holder uses it.
char* demangle_buffer = nullptr;
std::size_t demangle_capacity = 0;

// Valid until the next call.
std::string_view demangled(const char* name) noexcept {
    if (name[0] != '_' || name[1] != 'Z') {
        return name;
    }
    std::size_t capacity = demangle_capacity;
    int status = 0;
    char* result = abi::__cxa_demangle(name, demangle_buffer, &capacity, &status);
    if (result == nullptr || status != 0) {
        return name;
    }
    demangle_buffer = result;
    demangle_capacity = capacity;
    return result;
}

#ifdef WALKMESH_HAVE_LIBBACKTRACE
void ignore_error(void*, const char*, int) {}

backtrace_state* symboliser() noexcept {
    // Created at the first backtrace; it reads each object's debug information once.
    static backtrace_state* const state = backtrace_create_state(nullptr, 1, ignore_error, nullptr);
    return state;
}

void take_symbol_name(void* data, std::uintptr_t, const char* name, std::uintptr_t, std::uintptr_t) {
    *static_cast<const char**>(data) = name;
}
#endif

// From the full symbol table where libbacktrace reads it, else from the dynamic one.
const char* symbol_name(std::uintptr_t pc) noexcept {
    const char* name = nullptr;
#ifdef WALKMESH_HAVE_LIBBACKTRACE
    if (backtrace_state* state = symboliser()) {
        backtrace_syminfo(state, pc, take_symbol_name, ignore_error, &name);
    }
#endif
    Dl_info info{};
    if (name == nullptr && dladdr(reinterpret_cast<void*>(pc), &info) != 0) {
        name = info.dli_sname;
    }
    return name;
}

void write_object_line(FdWriter& out, std::uintptr_t pc) noexcept {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(pc), &info) == 0 || info.dli_fname == nullptr) {
        return;
    }
    const auto offset = pc - reinterpret_cast<std::uintptr_t>(info.dli_fbase);
    out.text(location_indent).text(info.dli_fname).text("+").hex(offset).text("\n");
}

void write_unsymbolised(FdWriter& out, std::uintptr_t pc) noexcept {
    const char* name = symbol_name(pc);
    out.text(name != nullptr ? demangled(name) : "<unknown>").text("\n");
    write_object_line(out, pc);
}

#ifdef WALKMESH_HAVE_LIBBACKTRACE
struct SourceLines {
    FdWriter* out;
    int entries;
    int known_entries;
};

int count_source_line(void* data, std::uintptr_t, const char* file, int, const char* function) {
    if (function != nullptr || file != nullptr) {
        ++static_cast<SourceLines*>(data)->entries;
    }
    return 0;
}

// Called innermost first: the function at the address, then each function it is inlined
// into. The debug information names a function without its scope, so the outermost one,
// which the symbol table knows, is named from there.
int write_source_line(void* data, std::uintptr_t pc, const char* file, int line, const char* function) {
    auto& lines = *static_cast<SourceLines*>(data);
    if (function == nullptr && file == nullptr) {
        return 0;
    }
    FdWriter& out = *lines.out;
    if (lines.entries++ > 0) {
        out.text(continuation_indent);
    }
    const char* symbol = lines.entries == lines.known_entries ? symbol_name(pc) : nullptr;
    const char* name = symbol != nullptr ? symbol : function;
    out.text(name != nullptr ? demangled(name) : "<unknown>").text("\n");
    if (file != nullptr) {
        out.text(location_indent).text(file).text(":").decimal(static_cast<std::uint64_t>(line)).text("\n");
    } else {
        write_object_line(out, pc);
    }
    return 0;
}

void write_symbolised(FdWriter& out, std::uintptr_t pc) noexcept {
    SourceLines lines{&out, 0, 0};
    if (backtrace_state* state = symboliser()) {
        backtrace_pcinfo(state, pc, count_source_line, ignore_error, &lines);
        lines.known_entries = lines.entries;
        lines.entries = 0;
        if (lines.known_entries > 0) {
            backtrace_pcinfo(state, pc, write_source_line, ignore_error, &lines);
        }
    }
    if (lines.entries == 0) {
        write_unsymbolised(out, pc);
    }
}
#else
void write_symbolised(FdWriter& out, std::uintptr_t pc) noexcept { write_unsymbolised(out, pc); }
#endif

void write_frame(FdWriter& out, int number, std::uintptr_t pc, bool with_address) noexcept {
    out.decimal_padded(static_cast<std::uint64_t>(number), number_width).text(": ");
    if (with_address) {
        out.hex(pc).text(" - ");
    }
    write_symbolised(out, pc);
}

// The failing frame and its callers up to the first frame in another object file (the
// interpreter, the C library). Everything when the failing frame is not on the stack.
FrameRange brief_range(const CapturedFrames& frames, const void* failing_caller) noexcept {
    int first = 0;
    while (first < frames.count && !same_return_address(frames.return_addresses[first], failing_caller)) {
        ++first;
    }
    if (first == frames.count) {
        return {0, frames.count};
    }
    const void* home = object_base(call_site(frames.return_addresses[first]));
    int end = first + 1;
    while (end < frames.count && object_base(call_site(frames.return_addresses[end])) == home) {
        ++end;
    }
    return {first, end};
}

}  // namespace

void write_backtrace(FdWriter& out, BacktraceStyle style, const void* failing_caller) noexcept {
    CapturedFrames frames;
    frames.count = 0;
    // The module's own unwinder, not the C library's backtrace(): on 32-bit ARM that one
    // drives the system's libgcc unwinder through each frame's personality routine, and
    // a module that links LLVM's unwinder in (the wheels) has routines only its own
    // unwinder can run. The first frame is this function's, as backtrace() gives it.
    _Unwind_Backtrace(take_frame, &frames);
    const bool full = style == BacktraceStyle::full;
    const FrameRange range = full ? FrameRange{0, frames.count} : brief_range(frames, failing_caller);
    for (int i = range.first; i < range.end; ++i) {
        write_frame(out, i - range.first, call_site(frames.return_addresses[i]), full);
    }
}

}  // namespace walkmesh::detail
