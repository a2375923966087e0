#pragma once

#include <QColor>
#include <QFont>

// The text styles of the interface, as fonts derived from the application
// font. Screens use StyledLabel, or textStyleFont() for their own painting.
enum class TextStyle {
    largeTitle,
    title,
    title2,
    title3,
    headline,
    body,
    callout,
    subheadline,
    footnote,
    caption,
    caption2,
};

// The style's size with its own weight (semibold for headline, else regular).
QFont textStyleFont(TextStyle style);
QFont textStyleFont(TextStyle style, QFont::Weight weight);
// The system's fixed-pitch font at the style's size.
QFont monospacedFont(TextStyle style = TextStyle::body, QFont::Weight weight = QFont::Normal);
// `font` when its ten digits are all as wide (most desktop UI fonts draw
// them so); otherwise the fixed-pitch font at its size and weight. Figures
// that change in place (percentages, counts) then keep their width. Qt 6.4
// cannot switch a font's own tabular figures on (it has no font-feature call).
QFont tabularDigitsFont(const QFont &font);
bool hasTabularDigits(const QFont &font);
// A symbol drawn "in the style's font": its pixel size.
int symbolPixelSize(TextStyle style);

// The text colour of the application palette as primary, secondary and
// tertiary text (see ThemeColor).
QColor primaryTextColor();
QColor secondaryTextColor();
QColor tertiaryTextColor();
