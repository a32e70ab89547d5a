// What the call boundary does with an error or an internal failure.
#include "boundary/call_boundary.hpp"

#include <exception>
#include <string>

#include "boundary/panic_exception.hpp"

namespace walkmesh {

void raise_error(ErrorState& state) noexcept {
    without_unwinding([&] { std::move(state).raise(); });
}

void raise_internal_failure(const InternalFailure& failure) noexcept {
    failure_taken_over();
    without_unwinding([&] {
        OwnedRef message = expect_object(PyUnicode_FromStringAndSize(
            failure.message().data(), static_cast<Py_ssize_t>(failure.message().size())));
        OwnedRef arguments = expect_object(PyTuple_Pack(1, message.get()));
        ErrorState::lazy_object(panic_exception_type(), std::move(arguments)).raise();
    });
}

void raise_unexpected_exception() noexcept {
    std::string what = "unknown exception";
    try {
        throw;
    } catch (const std::exception& exception) {
        what = exception.what();
    } catch (...) {
    }
    try {
        panic("unexpected C++ exception: " + what, here());
    } catch (const InternalFailure& failure) {
        raise_internal_failure(failure);
    }
}

}  // namespace walkmesh
