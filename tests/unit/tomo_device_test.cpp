// The tomographic side: its configuration record, the register traffic of its
// set-up sequences, the picture counters and exposure-time checks of a frame,
// and the readout of the picture memory into frame buffers.

#include <map>

#include "platform/system.h"
#include "state/context.h"
#include "support/support.h"

using tvx::Tomo;
using tvxtest::FakeLink;

namespace {

constexpr std::uint32_t kEctime = 0x27FF001A, kExtime = 0x27FF0018;

std::string repeat(const std::string& item, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += (i ? ", " : "") + item;
    return out;
}

class TomoTest : public tvxtest::LibraryTest {
protected:
    // Initialises from `ini` (waits 0) with module slot 0 booted.
    void init(const std::string& ini) {
        tvxtest::write_file(dir.file("fpga.hex"), ":x\n:0400000001020304F2\n:00000001FF\n");
        tvxtest::write_file(dir.file("tomo.ini"), "[WAITTIME]\nEXPOS2DC=0\nDC2EXPOS=0\n[LOADPROG]\nFPGA=" +
                                                      dir.file("fpga.hex") + "\n" + ini);
        ASSERT_EQ(Tavirex_Init_Tomo(dir.file("tomo.ini").c_str(), 1), 0);
        tvx::ModuleBooted[0] = 1;
        tvx::platform::test_skip_sleeps(true);
    }
    // A module that echoes INITVALUE 34 and answers ECTIME and EXTIME from `regs`.
    void answer(FakeLink& fake) {
        fake.status = 0x22;
        fake.on_read = [this, &fake](std::uint32_t address, std::uint32_t count, std::uint8_t* into) {
            const std::uint16_t v = regs.count(address) ? regs[address] : fake.status;
            into[0] = static_cast<std::uint8_t>(v), into[1] = static_cast<std::uint8_t>(v >> 8);
            return static_cast<std::int32_t>(count);
        };
    }
    // One picture of `kind` whose module reports ECTIME `ectime`: the result of reading its times.
    std::int32_t picture(std::uint32_t kind, std::uint16_t ectime) {
        EXPECT_EQ(Tavirex_SetTIMERandMODREG_Tomo(kind), 0) << kind;
        regs[kEctime] = ectime;
        return Tavirex_GetEXTIMEandECTIME_Tomo(kind);
    }
    // A whole frame: strip exposures with the given ECTIMEs, their darks at `dark`, the calibration pair.
    Codes frame(const std::vector<std::uint16_t>& exposures, std::uint16_t dark = 450) {
        Codes out;
        for (std::uint16_t e : exposures) out.push_back(picture(1, e)), out.push_back(picture(2, dark));
        out.push_back(picture(3, exposures.front()));
        out.push_back(picture(4, 450));
        return out;
    }
    std::map<std::uint32_t, std::uint16_t> regs;
};

TEST_F(TomoTest, DefaultsOfAMissingFileAndValuesAsStored) {
    ASSERT_EQ(Tavirex_Init_Tomo(dir.file("missing.ini").c_str(), 0), 0);
    const tvx::TomoContext& t = Tomo;
    EXPECT_EQ(tvxtest::vals(t.Width, t.Height, t.StripCount, t.LanRetry, t.FpgaLoad, t.InitValue, t.PictModeXray,
                            t.PictPattern, t.TimerSetXray, t.PictModeDc, t.TimerSetDc, t.LimitDiffEcTime,
                            t.AdSet[2].VgaGain, t.AdSet[2].Control[3], t.AdSet[2].PxgaGain, t.Binning, t.ProcessFlags[8],
                            t.Average, t.Overlay, t.CcdGap0, t.CcdGap1, t.TopCut1, t.BottomCut2, t.SelectFlg1st,
                            t.XFewSidePercentage, t.Target, t.Percentage, tvx::ExposeToDarkWait, tvx::DarkToExposeWait,
                            tvx::SerialPassThrough),
              tvxtest::vals(128, 2304, 8, 5, 1, 34, 1, 0, 100, 5, 450, 0, 150, 1, 32, 2, 1, 50, 4, 2, 3, 1, 0, 3, 0.001,
                            128, 50.0, 100, 100, 0));
    EXPECT_EQ(std::string(t.RefFolder) + t.SensorId + t.FpgaPath, "");

    init("[FULLSCALE]\nXMANYSIDE_PERCENTAGE=950\n[GAMMA]\nPERCENTAGE=25\n[PICTCNTL]\nINITVALUE=300\n[BINNING]\n"
         "PIXEL=70000\n[PUTIMAGES]\nLEFTCUT7=9\nLEFTCUT8=7\nUP_DOWN0=-1\n[DEBUG]\nDEBUG4=1\n[REFFILE]\nFOLDER=ref\n");
    EXPECT_EQ(tvxtest::vals(t.XManySidePercentage, t.Percentage, t.InitValue, t.Binning, t.LeftCut[7], t.LeftCut[8],
                            t.UpDown[0], tvx::DebugFlags.DebugDebug4),
              tvxtest::vals(950 * 0.001, 2.5, 300, 70000 - 65536, 9, 0, 65535, 1));
    EXPECT_EQ(std::string(t.RefFolder), std::string("ref") + tvx::platform::path_separator());
    // INITVALUE outside 1..255 is refused when the module is initialised.
    FakeLink fake;
    EXPECT_EQ(Tavirex_SetSensMdulInit_Tomo(0, 0), TAVIREX_E_RANGE);
    EXPECT_EQ(fake.traffic(), "");
    // A folder that already ends in a separator is kept; an empty one stays empty.
    for (const std::string folder : {"ref\\", "ref/", ""}) {
        init("[REFFILE]\nFOLDER=" + folder + "\n");
        EXPECT_EQ(std::string(t.RefFolder), folder);
    }
}

TEST_F(TomoTest, InitialisationTraffic) {
    const std::string load = repeat("S", 5) + ", C 512 #4, W 27FF0004 0000, W 27FF000E 0022, ";
    struct Case {
        int load, booted, status, stsreg, rc;
        std::string traffic;
    } cases[] = {
        {0, 1, 0, -1, 0, ""},                             // nothing to load
        {1, 0, 0, -1, TAVIREX_E_NOT_BOOTED, ""},           // not booted
        {0, 0, 0, -1, 0, ""},
        {2, 1, 0, -1, TAVIREX_E_RANGE, ""},                // load flag out of range
        {1, 1, 0x22, -1, 0, "S"},                          // the configuration already runs
        {1, 1, 0, -1, TAVIREX_E_NOT_READY, load + repeat("S", 5)},  // never echoes
        {1, 1, 0, 0, 0, load + "S"},
    };
    init("");
    for (const Case& c : cases) {
        FakeLink fake;
        Tomo.FpgaLoad = static_cast<std::uint8_t>(c.load);
        tvx::ModuleBooted[0] = c.booted;
        fake.status = static_cast<std::uint16_t>(c.status), fake.stsreg = c.stsreg;
        EXPECT_EQ(Tavirex_SetSensMdulInit_Tomo(7, 7), c.rc) << c.traffic;
        EXPECT_EQ(fake.traffic(), c.traffic);
    }
}

TEST_F(TomoTest, FrontEndArmingAndReset) {
    init("[PICTCNTL]\nPICTPATTERN=1\n");
    FakeLink fake;
    fake.status = 0x22;
    ASSERT_EQ(Tavirex_SetParamforPictEx_Tomo(), 0);
    std::string expected;
    for (const char* sel : {"0000", "0001", "0002"}) {
        expected += std::string("S, W 27FF0028 ") + sel + ", ";
        for (const char* word : {"0080", "1096", "2000", "3008", "4020"})
            expected += std::string("S, W 27FF0020 ") + word + ", S, W 27FF002A 0000, ";
    }
    EXPECT_EQ(fake.traffic(), expected + "S");
    fake.calls.clear();
    ASSERT_EQ(Tavirex_SetWaitXExpose_Tomo(), 0);
    ASSERT_EQ(Tavirex_PictStartbyCommand_Tomo(), 0);
    ASSERT_EQ(Tavirex_ResetAll_Tomo(), 0);
    EXPECT_EQ(fake.traffic(), "W 27FF0006 0005, W 27FF0010 0001, W 27FF0008 0013, W 27FF000A 0001, W 27FF0004 0000, "
                              "W 27FF0010 0000");
    Tomo.PictPattern = 2;
    EXPECT_EQ(Tavirex_SetWaitXExpose_Tomo(), TAVIREX_E_RANGE);
    // The picture status bit is reported even when the module no longer echoes INITVALUE.
    std::uint8_t bit = 9;
    for (const auto& [status, rc, want] : {std::tuple{0x0122, 0, 1}, {0x0022, 0, 0}, {0x0100, 1, 1}}) {
        fake.status = static_cast<std::uint16_t>(status);
        EXPECT_EQ(Tavirex_CheckPictStatus_Tomo(&bit), rc);
        EXPECT_EQ(bit, want);
    }
    EXPECT_EQ(Tavirex_CheckPictStatus_Tomo(nullptr), TAVIREX_E_RANGE);
}

TEST_F(TomoTest, PicturesOfAFrameAndTheirChecks) {
    init("[PICTCNTL]\nLIMITDIFFECTIME=3\n");
    FakeLink fake;
    answer(fake);
    ASSERT_EQ(Tavirex_SetWaitXExpose_Tomo(), 0);
    fake.calls.clear();
    const std::vector<std::uint16_t> even(8, 100);
    EXPECT_EQ(frame(even), Codes(18, 0));
    EXPECT_EQ(tvxtest::vals(Tomo.FrameCount, Tomo.CountedPictures, Tomo.ExposurePictures), tvxtest::vals(1, 0, 9));
    // Each kind's TIMER and MODREG; the calibration picture takes the frame's first ECTIME.
    const std::string times = "R 27FF001A #2, R 27FF0018 #2, S, W 27FF0016 0000, W 27FF0014 0000";
    const std::string two = "W 27FF000C 0064, W 27FF0006 0001, " + times + ", W 27FF000C 01C2, W 27FF0006 0005, " + times;
    EXPECT_EQ(fake.traffic().substr(0, two.size()), two);
    // Frames are checked against their own pictures: a second frame at another exposure, spread up to the
    // limit, passes; its calibration picture is timed by its first exposure, neither the last nor an extreme.
    fake.calls.clear();
    EXPECT_EQ(frame({121, 123, 120, 122, 121, 120, 123, 122}), Codes(18, 0));
    EXPECT_EQ(fake.calls[16 * 7].value(), 121);  // TIMER of the calibration picture
    EXPECT_EQ(Tomo.EcTime[17], 121);
    // Spread above the limit, a dark picture at another timer, a frame without its calibration picture.
    std::vector<std::uint16_t> drift = even;
    drift[7] = 104;
    Codes spread(18, 0), dark(18, 0);
    spread[14] = spread[16] = TAVIREX_E_TOMO_ECTIME_SPREAD;
    ASSERT_EQ(Tavirex_SetWaitXExpose_Tomo(), 0);
    EXPECT_EQ(frame(drift), spread);
    for (int i = 1; i < 16; i += 2) dark[i] = TAVIREX_E_TOMO_DARK_ECTIME;
    fake.calls.clear();
    EXPECT_EQ(frame(even, 451), dark);
    EXPECT_EQ(fake.traffic().substr(0, two.size()), two);  // a refused dark picture still clears the counters
    for (int t = 0; t < 8; ++t) picture(1, 100), picture(2, 450);
    EXPECT_EQ(Tavirex_SetTIMERandMODREG_Tomo(4), TAVIREX_E_TOMO_FRAME_COUNT);
    EXPECT_EQ(tvxtest::vals(Tomo.FrameCount, Tomo.CountedPictures), tvxtest::vals(5, 8));
    picture(3, 100), picture(1, 100);  // one counted picture too many
    EXPECT_EQ(Tavirex_SetTIMERandMODREG_Tomo(4), TAVIREX_E_TOMO_FRAME_COUNT);
    // Kinds outside 1..4, and exposures beyond the lists, are refused before anything is sent.
    fake.calls.clear();
    Tomo.ExposurePictures = 56;
    EXPECT_EQ((Codes{Tavirex_SetTIMERandMODREG_Tomo(0), Tavirex_SetTIMERandMODREG_Tomo(5),
                     Tavirex_SetTIMERandMODREG_Tomo(1), Tavirex_SetTIMERandMODREG_Tomo(3)}),
              Codes(4, TAVIREX_E_RANGE));
    Tomo.CountedPictures = 0;
    EXPECT_EQ(Tavirex_GetEXTIMEandECTIME_Tomo(1), TAVIREX_E_RANGE);
    EXPECT_EQ(fake.traffic(), "");
}

TEST_F(TomoTest, ReadoutMasksAndTransposesEveryBlock) {
    init("");
    FakeLink fake;
    fake.status = 0x22;
    // Memory sample i of row j in block b, with junk above bit 12.
    auto sample = [](std::uint32_t b, std::uint32_t j, std::uint32_t i) { return (b * 7 + j * 3 + i) & 0x1FFF; };
    fake.on_read = [&](std::uint32_t address, std::uint32_t count, std::uint8_t* into) {
        const std::uint32_t b = (address - 0x26000000) / 0x90000;
        for (std::uint32_t k = 0; k < count / 2; ++k) {
            const std::uint32_t v = address >= 0x27FF0000 ? fake.status : 0xE000 | sample(b, k / 2304, k % 2304);
            into[2 * k] = static_cast<std::uint8_t>(v), into[2 * k + 1] = static_cast<std::uint8_t>(v >> 8);
        }
        return static_cast<std::int32_t>(count);
    };
    Tomo.FrameCount = 2;
    ASSERT_EQ(Tavirex_GetImageDataEx_Tomo(), 0);
    ASSERT_EQ(fake.calls.size(), 37u);
    std::size_t wrong = 0;
    for (std::uint32_t b = 0; b < 36; ++b) {
        EXPECT_EQ(fake.calls[b].address, 0x26000000 + b * 0x90000);
        const std::uint16_t* block = Tomo.FrameList[b / 18] + (b % 18) * 294912u;
        for (std::uint32_t i = 0; i < 2304; ++i)
            for (std::uint32_t j = 0; j < 128; ++j) wrong += block[i * 128 + j] != sample(b, j, i);
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(tvxtest::vals(Tomo.BitDepth, Tomo.MaxPixelValue, Tomo.Width, Tomo.Height), tvxtest::vals(13, 8191, 128, 2304));
    EXPECT_EQ(tvx::core::test_blocks_held(), 2);

    // Every failure part-way, or more frames than the memory holds, keeps no frame.
    const auto failures = [&](std::uint64_t nth) { return tvxtest::with_failed_allocation(nth, Tavirex_GetImageDataEx_Tomo); };
    Codes got{failures(1), failures(2), failures(3)};
    fake.fail_call = fake.calls.size() + 20;
    fake.fail_code = -7;
    got.push_back(Tavirex_GetImageDataEx_Tomo());
    fake.status = 0;
    got.push_back(Tavirex_GetImageDataEx_Tomo());  // the module stopped echoing
    Tomo.FrameCount = 4;
    got.push_back(Tavirex_GetImageDataEx_Tomo());
    EXPECT_EQ(got, (Codes{5, 5, 5, -7, 1, TAVIREX_E_RANGE}));
    EXPECT_EQ(tvx::core::test_blocks_held(), 0);
    EXPECT_EQ(Tomo.FrameList[0], nullptr);
}

}  // namespace

namespace {

// A one-strip frame (exposure, dark, calibration pair) on a module that always shows
// the picture bit and answers every time register with TIMERSET_DC: the first failure.
std::int32_t tomo_cycle() {
    std::uint8_t bit = 0;
    for (std::int32_t rc : {Tavirex_SetSensMdulInit_Tomo(0, 0), Tavirex_SetParamforPictEx_Tomo(), Tavirex_SetWaitXExpose_Tomo()})
        if (rc != 0) return rc;
    Tomo.StripCount = 1;
    for (std::uint32_t kind : {1u, 2u, 3u, 4u})
        for (std::int32_t rc : {Tavirex_SetTIMERandMODREG_Tomo(kind), Tavirex_PictStartbyCommand_Tomo(),
                                Tavirex_CheckPictStatus_Tomo(&bit), Tavirex_GetEXTIMEandECTIME_Tomo(kind)})
            if (rc != 0) return rc;
    const std::int32_t rc = Tavirex_GetImageDataEx_Tomo();
    return rc != 0 ? rc : Tavirex_ResetAll_Tomo();
}

TEST_F(TomoTest, EachLinkCallFailingInTurnReachesTheHostAndKeepsNoFrame) {
    init("[PICTCNTL]\nTIMERSET_DC=290\n");
    FakeLink fake;
    fake.status = 0x0122;
    ASSERT_EQ(tomo_cycle(), 0);
    ASSERT_NE(Tomo.FrameList[0], nullptr);
    const std::size_t total = fake.calls.size();
    for (const std::int32_t code : {-5, 77}) {
        for (std::size_t n = 1; n <= total; ++n) {
            fake.calls.clear();
            fake.fail_call = n, fake.fail_code = code;
            const std::int32_t rc = tomo_cycle();
            EXPECT_EQ(rc, fake.calls[n - 1].command == TAVIREX_LINK_READ && code > 0 ? 18 : code) << n;
            // Only a failing reset, after a readout that succeeded, leaves the frame for processing.
            EXPECT_EQ(tvx::core::test_blocks_held(), n > total - 2 ? 1 : 0) << n;
        }
    }
    // Without a link library every module call gives 19 and changes nothing.
    tvx::link::Link = tvx::link::LinkState{};
    std::uint8_t bit = 7;
    EXPECT_EQ((Codes{Tavirex_SetSensMdulInit_Tomo(0, 0), Tavirex_SetParamforPictEx_Tomo(), Tavirex_SetWaitXExpose_Tomo(),
                     Tavirex_SetTIMERandMODREG_Tomo(1), Tavirex_PictStartbyCommand_Tomo(), Tavirex_CheckPictStatus_Tomo(&bit),
                     Tavirex_GetEXTIMEandECTIME_Tomo(2), Tavirex_GetImageDataEx_Tomo(), Tavirex_ResetAll_Tomo()}),
              Codes(9, TAVIREX_E_LINK_LIBRARY));
    EXPECT_EQ(bit, 7);
}

}  // namespace
