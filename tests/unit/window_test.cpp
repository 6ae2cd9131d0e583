#include <gtest/gtest.h>

#include "output/window.h"
#include "tavirex.h"

using tvx::output::window_map;

namespace {

TEST(WindowTest, FullRangeWindow) {
    ASSERT_EQ(Tavirex_SetWindowPos(2048, 4096), 0);
    EXPECT_EQ(Tavirex_GetWindowCenter(), 2048);
    EXPECT_EQ(Tavirex_GetWindowWidth(), 4096);
    EXPECT_DOUBLE_EQ(tvx::output::Window.slope, 255.0 / 4096.0);
    EXPECT_DOUBLE_EQ(tvx::output::Window.offset, 0.0);
    EXPECT_EQ(window_map(0), 0);
    EXPECT_EQ(window_map(4095), 254);
    EXPECT_EQ(window_map(4096), 255);
    EXPECT_EQ(window_map(65535), 255);
}

TEST(WindowTest, OddWidthUsesTheEvenSpan) {
    Tavirex_SetWindowPos(1000, 201);
    EXPECT_EQ(window_map(899), 0);
    EXPECT_EQ(window_map(900), 0);
    EXPECT_EQ(window_map(1000), 127);
    EXPECT_EQ(window_map(1100), 255);
}

TEST(WindowTest, WidthZeroOrOneIsAStepAtTheCentre) {
    for (int width : {0, 1}) {
        Tavirex_SetWindowPos(500, width);
        EXPECT_EQ(window_map(0), 0);
        EXPECT_EQ(window_map(499), 0);
        EXPECT_EQ(window_map(500), 255);
        EXPECT_EQ(window_map(4095), 255);
    }
}

}  // namespace
