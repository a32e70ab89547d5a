// What the call boundary does with an error or an internal failure.
#include "python/call_boundary.hpp"

#include <exception>
#include <string>

#include "python/panic_exception.hpp"

namespace walkmesh {

namespace {

void raise_internal_failure(const InternalFailure& failure) noexcept {
    failure_taken_over();
    without_unwinding([&] {
        OwnedRef message = expect_object(PyUnicode_FromStringAndSize(
            failure.message().data(), static_cast<Py_ssize_t>(failure.message().size())));
        OwnedRef arguments = expect_object(PyTuple_Pack(1, message.get()));
        ErrorState::lazy_object(panic_exception_type(), std::move(arguments)).raise();
    });
}

void raise_unexpected_exception(const char* what) noexcept {
    try {
        panic(std::string("unexpected C++ exception: ") + what, here());
    } catch (const InternalFailure& failure) {
        raise_internal_failure(failure);
    }
}

}  // namespace

void raise_caught_exception() noexcept {
    try {
        throw;
    } catch (PythonError& error) {
        without_unwinding([&] { std::move(error.state).raise(); });
    } catch (const InternalFailure& failure) {
        raise_internal_failure(failure);
    } catch (const std::exception& exception) {
        raise_unexpected_exception(exception.what());
    } catch (...) {
        raise_unexpected_exception("unknown exception");
    }
}

}  // namespace walkmesh
