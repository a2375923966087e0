#pragma once

#include "ui/components/Palette.h"

class QPushButton;

// A button filled with a palette colour, its text dark or light by contrast;
// follows a switch between light and dark.
void tintProminent(QPushButton *button, Palette::Color color);
// A borderless button whose text is in a palette colour.
void tintText(QPushButton *button, Palette::Color color);
