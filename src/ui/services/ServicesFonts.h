#pragma once

#include <QFont>

// The text styles of the Services screen, derived from the application font.
namespace ServicesFonts {

enum class Style { title2, title3, headline, body, callout, subheadline, caption, caption2 };

QFont font(Style style, QFont::Weight weight = QFont::Normal);

} // namespace ServicesFonts
