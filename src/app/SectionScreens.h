#pragma once

#include "app/AppSection.h"

class AppEnvironment;
class QWidget;

// The one place where the screens of the sections and of the Settings window
// are built and handed the container's managers.
QWidget *makeSectionScreen(AppSection section, AppEnvironment &app, QWidget *parent);
QWidget *makeSettingsScreen(AppEnvironment &app, QWidget *parent);
