#pragma once

#include "ui/components/KeyboardRules.h"

#include <gtest/gtest.h>

// As main() does, once the QApplication exists: AddGlobalTestEnvironment(new KeyboardRulesInstalled).
struct KeyboardRulesInstalled : ::testing::Environment {
    void SetUp() override { KeyboardRules::install(); }
};
