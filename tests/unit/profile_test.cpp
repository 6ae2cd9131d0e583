#include <gtest/gtest.h>

#include "platform/profile.h"
#include "support/support.h"

using tvx::platform::profile_int;
using tvx::platform::profile_string;

namespace {

class ProfileTest : public ::testing::Test {
protected:
    tvxtest::TempDir dir;
    std::string path = dir.file("settings.ini");
};

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
    char buf[16];
    EXPECT_EQ(profile_int("A", "B", 42, dir.file("absent.ini").c_str()), 42u);
    EXPECT_EQ(profile_string("A", "B", "dflt", buf, sizeof buf, dir.file("absent.ini").c_str()), 4u);
    EXPECT_STREQ(buf, "dflt");
    tvxtest::write_file(path, "[A]\nX=1\n");
    EXPECT_EQ(profile_int("B", "X", 7, path.c_str()), 7u);
    EXPECT_EQ(profile_int("A", "Y", -3, path.c_str()), static_cast<std::uint32_t>(-3));
}

TEST_F(ProfileTest, NamesAreCaseInsensitiveAndTheFirstMatchWins) {
    tvxtest::write_file(path,
                        "; comment = 5\r\n"
                        "[pictcntl]\r\n"
                        "  LanRetry = 9 \r\n"
                        "LANRETRY=10\r\n"
                        "[OTHER]\r\n"
                        "lanretry=11\r\n"
                        "[PICTCNTL]\r\n"
                        "LANRETRY=12\r\n"
                        "INITVALUE=3\r\n");
    EXPECT_EQ(profile_int("PICTCNTL", "LANRETRY", 0, path.c_str()), 9u);
    // A key missing from the first section of a name is still found in a later one.
    EXPECT_EQ(profile_int("PictCntl", "initvalue", 0, path.c_str()), 3u);
    EXPECT_EQ(profile_int("PICTCNTL", "; comment", 0, path.c_str()), 0u);
}

TEST_F(ProfileTest, IntegersStopAtTheFirstNonDigit) {
    tvxtest::write_file(path, "[S]\nA=300\nB=-12x\nC=+7\nD=abc\nE=\nF=12 34\nG=0x10\nH=4294967297\n");
    EXPECT_EQ(profile_int("S", "A", 0, path.c_str()), 300u);
    EXPECT_EQ(static_cast<std::int32_t>(profile_int("S", "B", 0, path.c_str())), -12);
    EXPECT_EQ(profile_int("S", "C", 0, path.c_str()), 7u);
    EXPECT_EQ(profile_int("S", "D", 5, path.c_str()), 0u);  // present but not a number
    EXPECT_EQ(profile_int("S", "E", 5, path.c_str()), 0u);
    EXPECT_EQ(profile_int("S", "F", 0, path.c_str()), 12u);
    EXPECT_EQ(profile_int("S", "G", 0, path.c_str()), 0u);
    EXPECT_EQ(profile_int("S", "H", 0, path.c_str()), 1u);  // wraps at 32 bits
}

TEST_F(ProfileTest, TextIsTrimmedUnquotedAndCutToTheBuffer) {
    tvxtest::write_file(path, "[S]\nP=  C:\\dir\\file.bin  \nQ=\"  quoted  \"\nR=\"half\nT=abcdefghij\n");
    char buf[8];
    char big[64];
    profile_string("S", "P", "", big, sizeof big, path.c_str());
    EXPECT_STREQ(big, "C:\\dir\\file.bin");
    profile_string("S", "Q", "", big, sizeof big, path.c_str());
    EXPECT_STREQ(big, "  quoted  ");
    profile_string("S", "R", "", big, sizeof big, path.c_str());
    EXPECT_STREQ(big, "\"half");
    EXPECT_EQ(profile_string("S", "T", "", buf, sizeof buf, path.c_str()), 7u);
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(profile_string("S", "none", "0123456789", buf, sizeof buf, path.c_str()), 7u);
    EXPECT_STREQ(buf, "0123456");
}

TEST_F(ProfileTest, LastLineWithoutLineEndAndByteOrderMark) {
    tvxtest::write_file(path, "\xEF\xBB\xBF[S]\r\nK=5");
    EXPECT_EQ(profile_int("S", "K", 0, path.c_str()), 5u);
}

}  // namespace
