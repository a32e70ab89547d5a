// Helpers for the tests of find_path's search and of the failure report: catching
// internal failures and checking their message and location.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "python/panic.hpp"

namespace walkmesh::testing_support {

// Runs `body`, which must end in an internal failure, and takes the failure over
// as the call boundary would, so that the next failure on this thread is not a
// failure during a failure.
template <class Body>
InternalFailure expect_internal_failure(Body&& body) {
    try {
        std::forward<Body>(body)();
    } catch (const InternalFailure& failure) {
        failure_taken_over();
        return failure;
    }
    ADD_FAILURE() << "expected an internal failure";
    return InternalFailure("<no failure>", {"<none>", 0, 0});
}

inline ::testing::AssertionResult failed_with(const InternalFailure& failure, const std::string& message,
                                              const char* file, std::uint32_t line, std::uint32_t column) {
    const SourceLocation at = failure.where();
    if (failure.message() == message && std::string(at.file) == file && at.line == line && at.column == column) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "failed with \"" << failure.message() << "\" at " << at.file << ":"
                                         << at.line << ":" << at.column << "; expected \"" << message << "\" at "
                                         << file << ":" << line << ":" << column;
}

}  // namespace walkmesh::testing_support
