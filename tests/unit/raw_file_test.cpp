#include <gtest/gtest.h>

#include "output/raw_file.h"
#include "support/support.h"

namespace {

TEST(RawFileTest, RoundTripIsLittleEndianWithoutHeader) {
    tvxtest::TempDir dir;
    const std::string path = dir.file("img.raw");
    const std::uint16_t px[6] = {0x0102, 0x0304, 0x0FFF, 0, 1, 0xABCD};
    ASSERT_EQ(tvx::output::write_raw_image(path.c_str(), px, 3, 2), 0);
    EXPECT_EQ(tvxtest::read_file(path), std::string("\x02\x01\x04\x03\xFF\x0F\x00\x00\x01\x00\xCD\xAB", 12));
    std::uint16_t back[6] = {};
    ASSERT_EQ(tvx::output::read_raw_image(path.c_str(), back, 3, 2), 0);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(back[i], px[i]);
    std::uint16_t more[8];
    EXPECT_EQ(tvx::output::read_raw_image(path.c_str(), more, 4, 2), -2);
    EXPECT_EQ(tvx::output::read_raw_image(dir.file("none.raw").c_str(), more, 1, 1), -1);
}

TEST(RawFileTest, FailedCreateLeavesNoFile) {
    tvxtest::TempDir dir;
    const std::uint16_t px[1] = {7};
    const std::string path = dir.file("no/such/folder/img.raw");
    EXPECT_EQ(tvx::output::write_raw_image(path.c_str(), px, 1, 1), -1);
    EXPECT_FALSE(tvxtest::file_exists(path));
}

}  // namespace
