#pragma once

#include <QString>

#include <exception>
#include <optional>

// How a failed screen action reads in the screen's "Error" alert.
enum class KeychainErrorText {
    // The keyring's error with its access sentence and its recovery advice.
    fullMessage,
    // The keyring's error by its description alone (launch check, editor opening).
    description,
};

// The text the alert shows for `error`, or none when the user dismissed the
// authentication prompt (a cancelled prompt is the user's own answer).
std::optional<QString> screenErrorMessage(const std::exception_ptr &error, KeychainErrorText keychainText);
