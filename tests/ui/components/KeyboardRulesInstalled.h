#pragma once

#include "ui/components/KeyboardRules.h"

#include <gtest/gtest.h>

// main() installs the keyboard rules for every window; the test programs that
// build windows do the same once their QApplication exists:
//     const auto *rules = ::testing::AddGlobalTestEnvironment(new KeyboardRulesInstalled);
struct KeyboardRulesInstalled : ::testing::Environment {
    void SetUp() override { KeyboardRules::install(); }
};
