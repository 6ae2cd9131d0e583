#include <gtest/gtest.h>

#include <cstring>

#include "platform/profile.h"
#include "support/support.h"

using tvx::platform::profile_int;
using tvx::platform::profile_string;

namespace {

// CR LF lines first, LF lines from [S] on.
const char kFile[] =
    "[pictcntl]\r\n; comment = 5\r\n  LanRetry = 9 \r\nLANRETRY=10\r\n[OTHER]\r\nlanretry=11\r\n"
    "[PICTCNTL]\r\nLANRETRY=12\r\nINITVALUE=3\r\n"
    "[S]\nA=300\nB=-12x\nC=+7\nD=abc\nE=\nF=12 34\nG=0x10\nH=4294967297\n"
    "P=  C:\\dir\\file.bin  \nQ=\"  quoted  \"\nR=\"half\nT=abcdefghij\n";

TEST(ProfileTest, Integers) {
    tvxtest::TempDir dir;
    const std::string path = dir.file("settings.ini");
    tvxtest::write_file(path, kFile);
    const struct { const char* section; const char* key; int32_t dflt, expected; } rows[] = {
        {"PICTCNTL", "LANRETRY", 0, 9},   // names case-insensitive, the first match wins
        {"PictCntl", "initvalue", 0, 3},  // a key missing from the first section of a name is found in a later one
        {"PICTCNTL", "; comment", 1, 1},  // comment lines are no keys
        {"NONE", "A", 7, 7},              // missing section
        {"S", "Y", -3, -3},               // missing key
        {"S", "A", 0, 300},      {"S", "B", 0, -12}, {"S", "C", 0, 7},  {"S", "F", 0, 12},
        {"S", "D", 5, 0},  // present but not a number
        {"S", "E", 5, 0},        {"S", "G", 0, 0},   {"S", "H", 0, 1},  // wraps at 32 bits
    };
    for (const auto& r : rows)
        EXPECT_EQ(static_cast<int32_t>(profile_int(r.section, r.key, r.dflt, path.c_str())), r.expected)
            << r.section << "/" << r.key;
    EXPECT_EQ(profile_int("A", "B", 42, dir.file("absent.ini").c_str()), 42u);
    // Byte order mark, last line without a line end.
    tvxtest::write_file(path, "\xEF\xBB\xBF[S]\r\nK=5");
    EXPECT_EQ(profile_int("S", "K", 0, path.c_str()), 5u);
}

TEST(ProfileTest, TextIsTrimmedUnquotedAndCutToTheBuffer) {
    tvxtest::TempDir dir;
    const std::string path = dir.file("settings.ini");
    tvxtest::write_file(path, kFile);
    const struct { const char* key; const char* dflt; std::size_t size; const char* expected; } rows[] = {
        {"P", "", 64, "C:\\dir\\file.bin"}, {"Q", "", 64, "  quoted  "}, {"R", "", 64, "\"half"},
        {"T", "", 8, "abcdefg"},            {"none", "0123456789", 8, "0123456"},
    };
    for (const auto& r : rows) {
        char buf[64];
        EXPECT_EQ(profile_string("S", r.key, r.dflt, buf, r.size, path.c_str()), std::strlen(r.expected)) << r.key;
        EXPECT_STREQ(buf, r.expected) << r.key;
    }
    char buf[16];
    EXPECT_EQ(profile_string("A", "B", "dflt", buf, sizeof buf, dir.file("absent.ini").c_str()), 4u);
    EXPECT_STREQ(buf, "dflt");
}

}  // namespace
