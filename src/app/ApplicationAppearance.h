#pragma once

#include "records/AppSettings.h"

// Sets the whole application's look from the appearance setting: system
// follows the desktop, light and dark force a palette.
void applyApplicationAppearance(AppAppearanceMode mode);
