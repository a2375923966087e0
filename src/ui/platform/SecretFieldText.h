#pragma once

#include "platform/SensitiveBytes.h"

class QLineEdit;

namespace SecretFieldText {

// Takes a password out of its field as UTF-8 in wiping memory. The field is
// left empty with no undo history, and the field's last text buffer is wiped.
SensitiveBytes take(QLineEdit &field);

} // namespace SecretFieldText
