// What a host can get wrong through the 43 exports: calls out of order, twice, after
// the link is freed; NULL pointers; paths that name nothing usable; sizes no buffer
// can hold. Every case must end in its result code, leave no output file behind and
// ask for no memory that its input could not justify.

#include <filesystem>

#include "support/support.h"

namespace {

using tvxtest::file_exists;

struct Case {
    const char* what;
    std::function<std::int32_t()> call;
    std::int32_t code;
};
// A case named by its own call.
#define CASE(code, ...) Case{#__VA_ARGS__, [&] { return __VA_ARGS__; }, code}

class MisuseTest : public tvxtest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        tvxtest::write_file(config, "[DLL]\nFILENAME=" TVX_SIM_PATH "\n[LOADPROG]\nBOOT=" TVX_SOURCE_DIR
                                    "/data/boot.bin\nFPGA=" TVX_SOURCE_DIR "/data/fpga_pano.hex\n[PICTCNTL]\nINITVALUE=1\n"
                                    "[PROCESS]\nDELDC=0\nDELSHADW=0\nCORRINJLINE=0\nPXIMG=0\nCORRIMGSIZE=1\nDELNOISE=0\n"
                                    "BRISMOOTH_PANO=0\nCORRBRISCALE=0\nEMPHASISCONTRAST=0\n2ndCORRBRISCALE=0\n");
        tvxtest::write_words(raw, tvxtest::Words(16, 100));  // 4 x 4
        std::filesystem::create_directory(folder);
    }
    // Each case in turn, `before` ahead of each; a refusal leaves no output file.
    void run(const std::vector<Case>& cases, const std::function<void()>& before = [] {}) {
        for (const Case& c : cases) {
            before();
            const std::int32_t rc = c.call();
            EXPECT_EQ(rc, c.code) << c.what;
            EXPECT_TRUE(rc == 0 || !file_exists(out)) << c.what;
            std::filesystem::remove(out);
        }
    }
    // Init, link and boot, the panoramic sensor with its FPGA, a one-pass set-up, arming, an exposure, readout.
    void picture_read_out() {
        TvxSim_SetExposureReads(0);
        std::uint8_t taken = 0;
        ASSERT_EQ(Codes({Tavirex_Init(config.c_str(), 1), Tavirex_SetCommInit(), Tavirex_SetSensMduInit_Pano(config.c_str(), 1),
                         Tavirex_SetParamforPictEx(profile, 1, 10, 100), Tavirex_SetWaitXExpose(),
                         Tavirex_CheckPictStatus(&taken), taken, Tavirex_GetImageDataEx(1)}),
                  Codes({0, 0, 0, 0, 0, 0, 1, 0}));
    }
    const std::string config = dir.file("misuse.ini"), raw = dir.file("in.raw"), out = dir.file("out"),
                      folder = dir.file("folder"), missing = dir.file("no/such/file");
    const char* profile = TVX_SOURCE_DIR "/data/speed_pano.txt";
    const std::uint8_t frame[3] = {0x02, 0x41, 0x03};
    std::uint8_t byte = 7, buffer[1024] = {};
    char name[256] = {};
    std::int32_t v[6] = {}, tw = -1, th = -1;
    std::uint32_t w = 4, h = 4;
};

// Every export as the first call of a process: nothing read, no link, no picture; the file exports on missing files.
TEST_F(MisuseTest, EveryExportFirstInAFreshProcess) {
    const char* m = missing.c_str();
    const char* o = out.c_str();
    run({CASE(0, Tavirex_Init(config.c_str(), 1)), CASE(19, Tavirex_SetCommInit()), CASE(19, Tavirex_SetCommInit2(1)),
         CASE(3, Tavirex_SetCommInit2(2)), CASE(3, Tavirex_SetSensMduInit_Pano(config.c_str(), 1)),
         CASE(3, Tavirex_SetSensMduInit_Ceph(config.c_str(), 0, 1)), CASE(3, Tavirex_SetParamforPictEx(profile, 1, 10, 100)),
         CASE(3, Tavirex_SetParamforPictEx_Ceph(profile, 1, 10, 100)), CASE(19, Tavirex_SetWaitXExpose()),
         CASE(19, Tavirex_CheckPictStatus(&byte)), CASE(3, Tavirex_GetImageDataEx(1)), CASE(19, Tavirex_ResetAll()),
         CASE(0, Tavirex_SetDeviceFree()), CASE(19, Tavirex_Ether232Send(frame, 3)), CASE(19, Tavirex_Ether232Recv(buffer)),
         CASE(0, Tavirex_GetInfoData("X 1", name, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5])),
         CASE(3, Tavirex_ImageProcessingEx(o, &w, &h)), CASE(3, Tavirex_ImageProcessingEx2(o, &w, &h)),
         CASE(8, Tavirex_ImageProcessingExDummy(m, o, &w, &h)), CASE(-94, Tavirex_SaveBitmap(m, 4, 4, 0, 0, o)),
         CASE(-94, Tavirex_SaveBitmap2(m, 4, 4, 0, 0, 1, 0, 1, o)), CASE(-94, Tavirex_SaveBitmapWindow(m, 4, 4, 0, 0, o)),
         CASE(-94, Tavirex_SaveBitmap3(m, 4, 4, 0, 0, 1, 0, 1, o)), CASE(0, Tavirex_SetWindowPos(2048, 4096)),
         CASE(-94, Tavirex_SetWindowPosAuto(m, 4, 4)), CASE(0, Tavirex_GetWindowCenter()), CASE(0, Tavirex_GetWindowWidth()),
         CASE(-94, Tavirex_RawDatafile(m, 4, 4, 0, 0, o)), CASE(-94, Tavirex_RawFileHorizontalMirror(m, 4, 4, o)),
         CASE(-93, Tavirex_BitmapChange(m, 1, 1, 0)), CASE(-93, Tavirex_MarkingInBitmap(m, 0)),
         CASE(-93, Tavirex_MarkingInBitmap_Tomo(m, 0)), CASE(0, Tavirex_Init_Tomo(config.c_str(), 1)),
         CASE(3, Tavirex_SetSensMdulInit_Tomo(0, 0)), CASE(19, Tavirex_SetParamforPictEx_Tomo()),
         CASE(19, Tavirex_ResetAll_Tomo()), CASE(19, Tavirex_SetWaitXExpose_Tomo()),
         CASE(19, Tavirex_SetTIMERandMODREG_Tomo(1)), CASE(103, Tavirex_SetTIMERandMODREG_Tomo(4)),
         CASE(19, Tavirex_CheckPictStatus_Tomo(&byte)), CASE(3, Tavirex_GetEXTIMEandECTIME_Tomo(1)),
         CASE(19, Tavirex_GetEXTIMEandECTIME_Tomo(2)), CASE(19, Tavirex_GetImageDataEx_Tomo()),
         CASE(19, Tavirex_PictStartbyCommand_Tomo()), CASE(0, Tavirex_SetDeviceFree_Tomo()),
         CASE(0, Tavirex_ImageProcessingEx_Tomo(o, &tw, &th, 0) + tw + th)},
        [] { tvxtest::reset_library(); });
    EXPECT_EQ(Codes({byte, buffer[0], v[0]}), Codes({7, 0, 1}));
}

// Each step twice, then everything that needs the link once it is freed. A picture is processed once:
// a second run refuses, a readout again gives the same file.
TEST_F(MisuseTest, TwiceAndAfterTheLinkIsFreed) {
    picture_read_out();
    const std::string first = dir.file("first.raw");
    const auto process = [&](const std::string& path) { return Tavirex_ImageProcessingEx(path.c_str(), &w, &h); };
    EXPECT_EQ(Codes({Tavirex_GetImageDataEx(1), process(first), process(out), Tavirex_ImageProcessingEx2(out.c_str(), &w, &h),
                     Tavirex_GetImageDataEx(1), process(out)}),
              Codes({0, 0, 3, 3, 0, 0}));
    EXPECT_TRUE(tvxtest::read_file(out) == tvxtest::read_file(first)) << "a readout again gives the same picture";
    TvxSim_SetFault(TVXSIM_FAULT_NEVER_READY, 1, 0);  // a set-up the module does not confirm leaves nothing to read
    EXPECT_EQ(Codes({Tavirex_SetParamforPictEx(profile, 1, 10, 100), Tavirex_GetImageDataEx(1), process(out)}), Codes({1, 3, 3}));
    TvxSim_ClearFaults();
    // Link, boot and FPGA again: the module runs its programs, neither is sent twice.
    EXPECT_EQ(Codes({Tavirex_SetCommInit(), Tavirex_SetCommInit(), Tavirex_SetSensMduInit_Pano(config.c_str(), 1),
                     std::int32_t(tvxtest::sim_stats().boot_loads), std::int32_t(tvxtest::sim_stats().fpga_loads),
                     Tavirex_Init(config.c_str(), 1), Tavirex_Init(config.c_str(), 1), Tavirex_GetImageDataEx(1), process(out)}),
              Codes({0, 0, 0, 1, 1, 0, 0, 3, 3}));
    picture_read_out();
    ASSERT_EQ(Codes({Tavirex_SetDeviceFree(), Tavirex_SetDeviceFree_Tomo(), Tavirex_Init_Tomo(config.c_str(), 1)}), Codes(3, 0));
    // The picture read before the link went is still there, once; a set-up that fails drops it.
    run({CASE(0, process(out)), CASE(3, process(out)), CASE(19, Tavirex_SetParamforPictEx(profile, 1, 10, 100)),
         CASE(3, Tavirex_GetImageDataEx(1)), CASE(3, process(out)), CASE(19, Tavirex_SetSensMduInit_Pano(config.c_str(), 1)),
         CASE(19, Tavirex_SetSensMduInit_Ceph(config.c_str(), 0, 1)), CASE(19, Tavirex_SetWaitXExpose()),
         CASE(19, Tavirex_CheckPictStatus(&byte)), CASE(19, Tavirex_ResetAll()), CASE(19, Tavirex_Ether232Send(frame, 3)),
         CASE(19, Tavirex_Ether232Recv(buffer)),
         CASE(19, Tavirex_SetSensMdulInit_Tomo(0, 0)), CASE(19, Tavirex_SetParamforPictEx_Tomo()), CASE(19, Tavirex_ResetAll_Tomo()),
         CASE(19, Tavirex_SetWaitXExpose_Tomo()), CASE(19, Tavirex_SetTIMERandMODREG_Tomo(1)),
         CASE(19, Tavirex_PictStartbyCommand_Tomo()), CASE(19, Tavirex_CheckPictStatus_Tomo(&byte)),
         CASE(19, Tavirex_GetEXTIMEandECTIME_Tomo(1)), CASE(19, Tavirex_GetImageDataEx_Tomo())});
    EXPECT_EQ(byte, 7);
}

// A NULL in the place of each pointer, with a link and a picture, so that only the pointer is wrong.
TEST_F(MisuseTest, NullForEveryPointer) {
    picture_read_out();
    const char *r = raw.c_str(), *o = out.c_str(), *n = nullptr;
    std::vector<Case> cases = {
        CASE(3, Tavirex_Init(n, 1)), CASE(3, Tavirex_Init_Tomo(n, 1)), CASE(3, Tavirex_SetSensMduInit_Pano(n, 0)),
        CASE(3, Tavirex_SetSensMduInit_Ceph(n, 0, 0)), CASE(3, Tavirex_CheckPictStatus(nullptr)),
        CASE(3, Tavirex_CheckPictStatus_Tomo(nullptr)), CASE(3, Tavirex_Ether232Send(nullptr, 3)),
        CASE(3, Tavirex_Ether232Recv(nullptr)), CASE(3, Tavirex_GetInfoData("X 1", nullptr, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5])),
        CASE(3, Tavirex_ImageProcessingEx(n, &w, &h)), CASE(3, Tavirex_ImageProcessingEx(o, nullptr, &h)),
        CASE(3, Tavirex_ImageProcessingEx2(o, &w, nullptr)), CASE(3, Tavirex_ImageProcessingExDummy(n, o, &w, &h)),
        CASE(3, Tavirex_ImageProcessingExDummy(r, n, &w, &h)), CASE(3, Tavirex_ImageProcessingExDummy(r, o, nullptr, &h)),
        CASE(3, Tavirex_ImageProcessingExDummy(r, o, &w, nullptr)), CASE(3, Tavirex_ImageProcessingEx_Tomo(n, &tw, &th, 0)),
        CASE(3, Tavirex_ImageProcessingEx_Tomo(o, nullptr, &th, 0)), CASE(3, Tavirex_ImageProcessingEx_Tomo(o, &tw, nullptr, 0)),
        CASE(-94, Tavirex_SaveBitmap(n, 4, 4, 0, 0, o)), CASE(-93, Tavirex_SaveBitmap(r, 4, 4, 0, 0, n)),
        CASE(-94, Tavirex_SaveBitmap2(n, 4, 4, 0, 0, 1, 0, 1, o)), CASE(-93, Tavirex_SaveBitmap2(r, 4, 4, 0, 0, 1, 0, 1, n)),
        CASE(-94, Tavirex_SaveBitmapWindow(n, 4, 4, 0, 0, o)), CASE(-93, Tavirex_SaveBitmapWindow(r, 4, 4, 0, 0, n)),
        CASE(-94, Tavirex_SaveBitmap3(n, 4, 4, 0, 0, 1, 0, 1, o)), CASE(-93, Tavirex_SaveBitmap3(r, 4, 4, 0, 0, 1, 0, 1, n)),
        CASE(-94, Tavirex_SetWindowPosAuto(n, 4, 4)), CASE(-94, Tavirex_RawDatafile(n, 4, 4, 0, 0, o)),
        CASE(-93, Tavirex_RawDatafile(r, 4, 4, 0, 0, n)), CASE(-94, Tavirex_RawFileHorizontalMirror(n, 4, 4, o)),
        CASE(-93, Tavirex_RawFileHorizontalMirror(r, 4, 4, n)), CASE(-93, Tavirex_BitmapChange(n, 1, 1, 0)),
        CASE(-93, Tavirex_MarkingInBitmap(n, 0)), CASE(-93, Tavirex_MarkingInBitmap_Tomo(n, 1)),
        CASE(-99, Tavirex_SetParamforPictEx(n, 1, 10, 100)), CASE(-99, Tavirex_SetParamforPictEx_Ceph(n, 1, 10, 100))};
    for (int i = 0; i < 6; ++i) {  // each of the six numbers of Tavirex_GetInfoData
        std::int32_t* p[6] = {&v[0], &v[1], &v[2], &v[3], &v[4], &v[5]};
        p[i] = nullptr;
        cases.push_back({"Tavirex_GetInfoData, one number NULL", [this, p] {
                             return Tavirex_GetInfoData("X 1", name, p[0], p[1], p[2], p[3], p[4], p[5]); }, 3});
    }
    run(cases);
    EXPECT_EQ(Codes({byte, name[0], v[0], Tavirex_GetWindowCenter()}), Codes({7, 0, 0, 2048}));
}

// Paths that name nothing usable: empty, 4096 and 100,000 characters, a folder, a file in a missing
// folder. Each export refuses with its code, creates nothing and leaves the folder a folder.
TEST_F(MisuseTest, PathsThatNameNothingUsable) {
    const std::string paths[] = {"", dir.file(std::string(4096 - dir.path().size() - 1, 'p')), std::string(100000, 'p'), folder, missing};
    const char *r = raw.c_str(), *o = out.c_str();
    using PathCall = std::function<std::int32_t(const char*)>;
    const struct { const char* what; PathCall call; std::array<std::int32_t, 5> codes; } calls[] = {
        {"Init", [](const char* p) { return Tavirex_Init(p, 1); }, {0, 3, 3, 0, 0}},
        {"Init_Tomo", [](const char* p) { return Tavirex_Init_Tomo(p, 1); }, {0, 3, 3, 0, 0}},
        {"SetParamforPictEx", [](const char* p) { return Tavirex_SetParamforPictEx(p, 1, 10, 100); }, {-99, -99, -99, -99, -99}},
        {"Dummy in", [&](const char* p) { return Tavirex_ImageProcessingExDummy(p, o, &w, &h); }, {8, 8, 8, 8, 8}},
        {"Dummy out", [&](const char* p) { return Tavirex_ImageProcessingExDummy(r, p, &w, &h); }, {-96, -96, -96, -96, -96}},
        {"Tomo out", [&](const char* p) { return Tavirex_ImageProcessingEx_Tomo(p, &tw, &th, 0); }, {3, 3, 3, 8, 0}},
        {"SaveBitmap in", [&](const char* p) { return Tavirex_SaveBitmap(p, 4, 4, 0, 0, o); }, {-94, -94, -94, -94, -94}},
        {"SaveBitmap2 out", [&](const char* p) { return Tavirex_SaveBitmap2(r, 4, 4, 0, 0, 1, 0, 1, p); }, {-93, -93, -93, -93, -93}},
        {"SaveBitmapWindow out", [&](const char* p) { return Tavirex_SaveBitmapWindow(r, 4, 4, 3, 50, p); }, {-93, -93, -93, -93, -93}},
        {"SaveBitmap3 out", [&](const char* p) { return Tavirex_SaveBitmap3(r, 4, 4, 1, 50, 1, 0, 1, p); }, {-93, -93, -93, -93, -93}},
        {"SetWindowPosAuto", [](const char* p) { return Tavirex_SetWindowPosAuto(p, 4, 4); }, {-94, -94, -94, -94, -94}},
        {"RawDatafile in", [&](const char* p) { return Tavirex_RawDatafile(p, 4, 4, 0, 0, o); }, {-94, -94, -94, -94, -94}},
        {"RawDatafile out", [&](const char* p) { return Tavirex_RawDatafile(r, 4, 4, 0, 0, p); }, {-93, -93, -93, -93, -93}},
        {"Mirror in", [&](const char* p) { return Tavirex_RawFileHorizontalMirror(p, 4, 4, o); }, {-94, -94, -94, -94, -94}},
        {"Mirror out", [&](const char* p) { return Tavirex_RawFileHorizontalMirror(r, 4, 4, p); }, {-93, -93, -93, -93, -93}},
        {"BitmapChange", [](const char* p) { return Tavirex_BitmapChange(p, 1, 1, 0); }, {-93, -93, -93, -93, -93}},
        {"MarkingInBitmap", [](const char* p) { return Tavirex_MarkingInBitmap(p, 1); }, {-93, -93, -93, -93, -93}},
        {"MarkingInBitmap_Tomo", [](const char* p) { return Tavirex_MarkingInBitmap_Tomo(p, 0); }, {-93, -93, -93, -93, -93}}};
    for (const auto& c : calls)
        for (std::size_t k = 0; k < std::size(paths); ++k) {
            EXPECT_EQ(c.call(paths[k].c_str()), c.codes[k]) << c.what << " " << k;
            EXPECT_FALSE(file_exists(out) || file_exists(paths[1]) || file_exists(missing)) << c.what << " " << k;
            EXPECT_TRUE(std::filesystem::is_directory(folder)) << c.what;
        }
}

// Sizes no buffer can hold, given with a 4 x 4 raw file (a folder too) and with bitmaps whose header claims
// them: each refused with its code, before any request larger than a few times the file's bytes.
TEST_F(MisuseTest, SizesNoBufferCanHold) {
    constexpr std::int32_t M = INT32_MAX, B = sizeof(std::size_t) == 8 ? -94 : -95, D = sizeof(std::size_t) == 8 ? 8 : 5;
    // Width, height; the codes of the bitmap exports, of the raw file exports, of the dummy processing.
    const std::int32_t sizes[][5] = {{0, 0, -95, -95, 3},       {-1, 5, -95, -95, D},      {5, -1, -95, -95, D},
                                     {65535, 65535, B, B, D}, {M, 1, -94, -94, 8},       {1, M, -95, -94, 8},
                                     {M, M, -95, B, D}};
    using SizeCall = std::function<std::int32_t(const char*, std::int32_t, std::int32_t)>;
    const char* o = out.c_str();
    const SizeCall exports[] = {
        [&](auto p, auto x, auto y) { return Tavirex_SaveBitmap(p, x, y, 0, 0, o); },
        [&](auto p, auto x, auto y) { return Tavirex_SaveBitmap2(p, x, y, 2, 50, 1, 0, 1, o); },
        [&](auto p, auto x, auto y) { return Tavirex_SaveBitmapWindow(p, x, y, 2, 50, o); },
        [&](auto p, auto x, auto y) { return Tavirex_SaveBitmap3(p, x, y, 2, 50, 1, 0, 1, o); },
        [&](auto p, auto x, auto y) { return Tavirex_SetWindowPosAuto(p, x, y); },
        [&](auto p, auto x, auto y) { return Tavirex_RawDatafile(p, x, y, 2, 50, o); },
        [&](auto p, auto x, auto y) { return Tavirex_RawFileHorizontalMirror(p, x, y, o); },
        [&](auto p, auto x, auto y) {
            w = static_cast<std::uint32_t>(x), h = static_cast<std::uint32_t>(y);
            return Tavirex_ImageProcessingExDummy(p, o, &w, &h);
        }};
    std::string header = tvxtest::make_bitmap(4, 4, 9);
    for (const auto& s : sizes) {
        for (std::size_t e = 0; e < std::size(exports); ++e)
            for (const std::string& input : {raw, folder}) {
                tvx::core::test_fail_allocation(0);
                const std::int32_t code = s[e < 4 ? 2 : e < 7 ? 3 : 4];
                EXPECT_EQ(exports[e](input.c_str(), s[0], s[1]), code)
                    << e << ": " << s[0] << " x " << s[1] << " " << input;
                EXPECT_LE(tvx::core::test_largest_request(), 4u * 32u) << e << ": " << s[0] << " x " << s[1] << " " << input;
                EXPECT_FALSE(file_exists(out));
            }
        // A 4 x 4 bitmap whose header claims the size.
        for (int i = 0; i < 4; ++i) header[18 + i] = static_cast<char>(s[0] >> 8 * i), header[22 + i] = static_cast<char>(s[1] >> 8 * i);
        tvxtest::write_file(out, header);
        tvx::core::test_fail_allocation(0);
        EXPECT_EQ(Codes({Tavirex_BitmapChange(o, 1, 1, 0), Tavirex_MarkingInBitmap(o, 0), Tavirex_MarkingInBitmap_Tomo(o, 0)}), Codes(3, -93));
        EXPECT_LE(tvx::core::test_largest_request(), header.size()) << s[0] << " x " << s[1];
        EXPECT_EQ(tvxtest::read_file(out), header);
        std::filesystem::remove(out);
    }
}

}  // namespace
