#pragma once

#include "ui/components/Palette.h"

class QPushButton;

// A button filled with a palette colour's deep variant and legible text, the
// same weight in the light and the dark theme; follows a switch between them.
void tintProminent(QPushButton *button, Palette::Color color);
// A borderless button whose text is in a palette colour.
void tintText(QPushButton *button, Palette::Color color);
