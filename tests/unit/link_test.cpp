#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/context.h"
#include "link/link.h"
#include "support/support.h"
#include "tavirex.h"

namespace {

class LinkTest : public tvxtest::LibraryTest {
protected:

    // Init from a configuration naming `library` and not loading a boot program.
    void init_with(const std::string& library) {
        const std::string path = dir.file("link.ini");
        tvxtest::write_file(path, "[DLL]\nFILENAME=" + library + "\n[LOADPROG]\nFLG_BOOT=0\n");
        ASSERT_EQ(Tavirex_Init(path.c_str(), 1), 0);
    }
};

TEST_F(LinkTest, LoadOpenAndFreeUnderBothNames) {
    EXPECT_EQ(Tavirex_SetDeviceFree(), 0);  // without a library: harmless
    EXPECT_EQ(Tavirex_SetDeviceFree_Tomo(), 0);
    init_with(TVX_SIM_PATH);
    for (const auto free_link : {Tavirex_SetDeviceFree, Tavirex_SetDeviceFree_Tomo}) {
        ASSERT_EQ(Tavirex_SetCommInit(), 0);
        EXPECT_TRUE(tvx::link::loaded());
        EXPECT_EQ(tvx::link::Link.EtherReady, 1u);
        EXPECT_EQ(free_link(), 0);
        EXPECT_FALSE(tvx::link::loaded());
        EXPECT_EQ(tvx::link::Link.EtherReady, 0u);
    }
}

TEST_F(LinkTest, MissingFileOrEntryPointGives19AndLeavesNothingLoaded) {
    for (const std::string& library : {dir.file("nowhere.so"), std::string(TVX_INCOMPLETE_LINK_PATH), std::string()}) {
        init_with(library);
        EXPECT_EQ(Tavirex_SetCommInit2(0), TAVIREX_E_LINK_LIBRARY) << library;
        EXPECT_FALSE(tvx::link::loaded());
    }
    // A failed reload unloads the library loaded before.
    init_with(TVX_SIM_PATH);
    ASSERT_EQ(Tavirex_SetCommInit(), 0);
    init_with(dir.file("nowhere.so"));
    EXPECT_EQ(Tavirex_SetCommInit(), TAVIREX_E_LINK_LIBRARY);
    EXPECT_FALSE(tvx::link::loaded());
}

TEST_F(LinkTest, SerialPassThrough) {
    const std::uint8_t frame[] = {0x02, 0x41, 0x03};
    const std::uint8_t not_a_frame[] = {0x41, 0x42};
    std::uint8_t reply[1024] = {0xEE};
    EXPECT_EQ(Tavirex_Ether232Send(frame, 3), TAVIREX_E_LINK_LIBRARY);
    EXPECT_EQ(Tavirex_Ether232Recv(reply), TAVIREX_E_LINK_LIBRARY);
    EXPECT_EQ(reply[0], 0xEE);
    // Serial mode 0: the library itself answers a complete frame once with ACK.
    ASSERT_EQ(Tavirex_Init(dir.file("none.ini").c_str(), 0), 0);
    EXPECT_EQ(Tavirex_Ether232Recv(nullptr), TAVIREX_E_RANGE);
    EXPECT_EQ(Tavirex_Ether232Send(not_a_frame, 2), 0);
    EXPECT_EQ(Tavirex_Ether232Recv(reply), 0);
    EXPECT_EQ(reply[0], 0);
    EXPECT_EQ(Tavirex_Ether232Send(frame, 3), 0);
    EXPECT_EQ(Tavirex_Ether232Recv(reply), 1);
    EXPECT_EQ(reply[0], 0x06);
    EXPECT_EQ(reply[1], 0);
    EXPECT_EQ(Tavirex_Ether232Recv(reply), 0);
    // Only the low 16 bits of the length count: 0x10003 bytes is a 3-byte frame.
    EXPECT_EQ(Tavirex_Ether232Send(frame, 0x10003), 0);
    EXPECT_EQ(Tavirex_Ether232Recv(reply), 1);
}

TEST(InfoDataTest, ParsesANameAndUpToSixNumbers) {
    char name[256];
    std::int32_t v[6] = {9, 9, 9, 9, 9, 9};
    const auto info = [&](const char* source, char* into) {
        return Tavirex_GetInfoData(source, into, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    };
    EXPECT_EQ(info("UNIT 1 2 3", name), 0);
    EXPECT_STREQ(name, "UNIT");
    EXPECT_EQ(std::vector<std::int32_t>(v, v + 6), (std::vector<std::int32_t>{1, 2, 3, 0, 0, 0}));
    const std::string longname(400, 'n');
    EXPECT_EQ(info(longname.c_str(), name), 0);
    EXPECT_EQ(std::string(name), longname.substr(0, 255));
    EXPECT_EQ(info("", name), 0);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(info("x", nullptr), TAVIREX_E_RANGE);
}

}  // namespace
