#include "app/MenuBarPanelPlacement.h"

#include <gtest/gtest.h>

TEST(MenuBarPanelPlacement, UnderTheAnchorKeptInsideTheScreen)
{
    const QRect screen(0, 0, 1600, 1000);
    const QSize panel(320, 400);
    struct Row {
        const char *what;
        QRect anchor;
        QSize size;
        std::optional<QRect> available;
        QRect expected;
    } rows[] = {
        {"centred, 2 below", {790, 0, 20, 24}, panel, screen, {640, 26, 320, 400}},
        {"left margin", {0, 0, 20, 24}, panel, screen, {6, 26, 320, 400}},
        {"exactly on the left margin", {156, 0, 20, 24}, panel, screen, {6, 26, 320, 400}},
        {"right margin", {1580, 0, 20, 24}, panel, screen, {1274, 26, 320, 400}},
        {"right margin wins on a narrow screen", {100, 0, 20, 24}, panel, QRect(0, 0, 300, 1000), {-26, 26, 320, 400}},
        {"no room below: 2 above", {790, 976, 20, 24}, panel, screen, {640, 574, 320, 400}},
        {"just fits below", {790, 0, 20, 24}, QSize(320, 974), screen, {640, 26, 320, 974}},
        {"screen with an offset", {1700, 30, 20, 24}, panel, QRect(1600, 30, 1280, 800), {1606, 56, 320, 400}},
        {"no screen", {0, 0, 20, 24}, panel, std::nullopt, {-150, 26, 320, 400}},
    };
    for (const Row &row : rows)
        EXPECT_EQ(MenuBarPanelPlacement::geometry(row.anchor, row.size, row.available), row.expected) << row.what;
}

TEST(MenuBarPanelPlacement, WithoutATrayKeptInsideTheMainWindowsFrame)
{
    const QRect window(100, 50, 951, 560);
    struct Row {
        const char *what;
        QRect placed;
        QRect expected;
    } rows[] = {
        {"already inside", {400, 100, 320, 400}, {400, 100, 320, 400}},
        {"past the right edge", {800, 100, 320, 400}, {725, 100, 320, 400}},
        {"past the left edge", {50, 100, 320, 400}, {106, 100, 320, 400}},
        {"past the bottom: moved up", {400, 300, 320, 400}, {400, 204, 320, 400}},
        {"taller than the window: from the top margin", {400, 100, 320, 700}, {400, 56, 320, 700}},
    };
    for (const Row &row : rows)
        EXPECT_EQ(MenuBarPanelPlacement::insideWindow(row.placed, window), row.expected) << row.what;
}
