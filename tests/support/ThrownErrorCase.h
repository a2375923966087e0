#pragma once

#include <gtest/gtest.h>

#include <optional>

// The case of the `Error` that `operation` throws; none, and a test failure,
// when it throws nothing. Another exception type passes through.
template <typename Error, typename Operation>
std::optional<typename Error::Case> thrownErrorCase(Operation &&operation)
{
    try {
        operation();
    } catch (const Error &error) {
        return error.errorCase();
    }
    ADD_FAILURE() << "no error was thrown";
    return std::nullopt;
}
