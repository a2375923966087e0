#include "ui/platform/SecretFieldText.h"

#include <QLineEdit>

namespace SecretFieldText {

SensitiveBytes take(QLineEdit &field)
{
    // The copy shares the field's buffer; once the field lets go of it
    // (setText, unlike clear(), also drops the undo history that holds every
    // typed character) the copy is its last holder and can wipe it.
    QString text = field.text();
    field.setText(QString());
    return SensitiveBytes::fromText(std::move(text));
}

} // namespace SecretFieldText
