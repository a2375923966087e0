#pragma once

#include <QString>

#include <exception>
#include <optional>

// The text the profile screens show for a failed action: the full message of a
// keyring failure, nothing for a cancelled authentication, otherwise the
// failure's own description.
std::optional<QString> profilesErrorMessage(const std::exception_ptr &failure);
