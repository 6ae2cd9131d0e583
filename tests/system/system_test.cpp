// Whole cycles as the host runs them, through the C interface against the
// simulated module: acquisition, readout, processing with the calibration the
// command-line host made from the sensor model, the marked bitmap.

#include "platform/system.h"
#include "platform/workers.h"
#include "state/context.h"
#include "support/support.h"

namespace {

struct Picture {
    bool ceph, lateral;
    uint32_t passes, segments;
    const char* profile;
    int mode;  // flat field: each pass's picture columns must be exposed and no others
};

class CycleTest : public tvxtest::LibraryTest, public ::testing::WithParamInterface<Picture> {};

double column_mean(const uint16_t* image, int width, int column) {
    double sum = 0;
    for (int r = 100; r < 700; ++r) sum += image[static_cast<std::size_t>(r) * width + column];
    return sum / 600;
}

TEST_P(CycleTest, AcquireProcessAndWriteTheMarkedBitmap) {
    const Picture p = GetParam();
    const tvxtest::TempDir& files = tvxtest::calibration();
    const std::string mode = p.ceph ? "ceph" : "pano", config = dir.file("tavirex.ini");
    tvxtest::write_file(config, tvxtest::cycle_config(files, mode));
    const std::string profile = std::string(TVX_SOURCE_DIR "/data/") + p.profile;
    // Init, link and boot, sensor initialisation with the FPGA loaded, picture set-up, module mode, arming.
    ASSERT_EQ(Codes({Tavirex_Init(config.c_str(), 1), Tavirex_SetCommInit(),
                                         p.ceph ? Tavirex_SetSensMduInit_Ceph(config.c_str(), p.lateral ? 1 : 0, 1)
                                                : Tavirex_SetSensMduInit_Pano(config.c_str(), 1),
                                         static_cast<std::int32_t>(tvxtest::sim_stats().fpga_loads),
                                         p.ceph ? Tavirex_SetParamforPictEx_Ceph(profile.c_str(), 1, 10, 100)
                                                : Tavirex_SetParamforPictEx(profile.c_str(), p.passes, 10, 100),
                                         TvxSim_SetMode(p.mode, nullptr), Tavirex_SetWaitXExpose()}),
              Codes({0, 0, 0, 1, 0, 0, 0}));
    uint8_t picture = 0;
    for (int polls = 0; picture == 0 && polls < 50; ++polls) ASSERT_EQ(Tavirex_CheckPictStatus(&picture), 0);
    ASSERT_EQ(picture, 1);
    ASSERT_EQ(Tavirex_GetImageDataEx(p.segments), 0);

    const tvx::DeviceContext& d = tvx::Device;
    const int iw = d.ImageWidth, ih = d.ImageHeight;
    ASSERT_EQ(std::make_pair(iw, ih), p.ceph ? std::make_pair(3500, 2304) : std::make_pair(4096, 1536));
    for (std::size_t i = 0; i < static_cast<std::size_t>(iw) * ih; ++i) ASSERT_LE(d.ImageBuffer[i], 4095) << i;
    const int block = p.ceph ? 3500 : (p.passes == 3 ? 1364 : 4096 / static_cast<int>(p.passes));
    for (uint32_t k = 0; k < p.passes && p.mode == TVXSIM_MODE_FLAT; ++k) {
        const int first = static_cast<int>(k) * block + d.SegmentStart[k], end = first + d.SegmentWidth[k];
        ASSERT_GT(d.SegmentWidth[k], 100);
        EXPECT_TRUE(column_mean(d.ImageBuffer, iw, first) > 1500 && column_mean(d.ImageBuffer, iw, end - 1) > 1500 &&
                    column_mean(d.ImageBuffer, iw, first - 1) < 1000 && column_mean(d.ImageBuffer, iw, end) < 1000)
            << "pass " << k << ": columns " << first << ".." << end - 1;
    }
    ASSERT_EQ(Codes({Tavirex_ResetAll(), Tavirex_SetDeviceFree()}), Codes(2, 0));

    const std::string raw = dir.file("processed.raw");
    uint32_t width = 0, height = 0;
    ASSERT_EQ(Tavirex_ImageProcessingEx(raw.c_str(), &width, &height), 0);
    EXPECT_TRUE(width > 0 && height == (p.ceph ? 2303u : 1536u)) << width << " x " << height;
    const tvxtest::Words pixels = tvxtest::read_words(raw);
    ASSERT_EQ(pixels.size(), std::size_t{width} * height);
    for (std::size_t i = 0; i < pixels.size(); ++i) ASSERT_LE(pixels[i], 4095) << i;
    // Separator bands of 8 columns between the segments, at B, 2B + 8, 3B + 16.
    const tvx::SeparatorLines& bands = tvx::SeparatorLineList;
    ASSERT_EQ(bands.Count, p.segments - 1);
    const uint32_t segment = (width - 8 * (p.segments - 1)) / p.segments;
    for (uint32_t i = 0; i < bands.Count; ++i) EXPECT_EQ(bands.Position[i], (i + 1) * segment + 8 * i) << i;

    const std::string bmp = dir.file("picture.bmp");
    const auto w = static_cast<int32_t>(width), h = static_cast<int32_t>(height);
    ASSERT_EQ(Codes({Tavirex_SetWindowPosAuto(raw.c_str(), w, h),
                                         Tavirex_SaveBitmapWindow(raw.c_str(), w, h, 8, 60, bmp.c_str()),
                                         Tavirex_MarkingInBitmap(bmp.c_str(), 1)}),
              Codes(3, 0));
    const std::string file = tvxtest::read_file(bmp);
    ASSERT_EQ(file.size(), 1078u + tvxtest::stride(w) * height);
    // White separator columns (color 0) in every row; the white L at stored rows 44..109, columns 133..141.
    for (std::int32_t y = 0; y < h; y += 37)
        for (uint32_t i = 0; i < bands.Count; ++i) EXPECT_EQ(tvxtest::pixel(file, w, y, bands.Position[i] + 7), 255) << y;
    for (std::int32_t y = 44; y <= 109; ++y) EXPECT_EQ(tvxtest::pixel(file, w, y, 137), 255) << y;
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, CycleTest,
    ::testing::Values(Picture{false, false, 1, 1, "speed_pano.txt", TVXSIM_MODE_FLAT},
                      Picture{false, false, 2, 1, "speed_pano.txt", TVXSIM_MODE_PHANTOM},
                      Picture{false, false, 2, 2, "speed_pano.txt", TVXSIM_MODE_FLAT},
                      Picture{false, false, 3, 2, "speed_pano_4pass.txt", TVXSIM_MODE_PHANTOM},
                      Picture{false, false, 3, 3, "speed_pano_4pass.txt", TVXSIM_MODE_FLAT},
                      Picture{false, false, 4, 4, "speed_pano_4pass.txt", TVXSIM_MODE_FLAT},
                      Picture{true, false, 1, 1, "speed_ceph.txt", TVXSIM_MODE_FLAT},
                      Picture{true, true, 1, 1, "speed_ceph.txt", TVXSIM_MODE_PHANTOM}));

// Tomographic frames through the C interface from the simulated module: every
// picture of every frame, the checks of healthy and of faulty exposures, the
// readout, and the processing that joins the frames.
class TomoCycleTest : public tvxtest::LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        tvxtest::write_file(config, base = tvxtest::tomo_cycle_config());
    }
    // The host's sequence from a fresh library; the first failing result and the picture it came at (-1: none).
    std::pair<std::int32_t, int> scan(std::uint32_t frames, std::int32_t fault = 0) {
        tvxtest::reset_library();
        tvx::platform::test_skip_sleeps(true);
        TvxSim_SetExposureReads(0);
        if (fault != 0) TvxSim_SetFault(fault, 3, 0);
        static const std::uint32_t kinds[18] = {1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 3, 4};
        std::uint8_t done = 0;
        for (std::int32_t rc : {Tavirex_Init(config.c_str(), 1), Tavirex_SetCommInit(), Tavirex_Init_Tomo(config.c_str(), 1),
                                Tavirex_SetSensMdulInit_Tomo(0, 0), Tavirex_SetParamforPictEx_Tomo(),
                                Tavirex_SetWaitXExpose_Tomo()})
            if (rc != 0) return {rc, -1};
        for (std::uint32_t p = 0; p < 18 * frames; ++p) {
            const std::uint32_t kind = kinds[p % 18];
            for (std::int32_t rc : {Tavirex_SetTIMERandMODREG_Tomo(kind), Tavirex_PictStartbyCommand_Tomo(),
                                    Tavirex_CheckPictStatus_Tomo(&done), Tavirex_GetEXTIMEandECTIME_Tomo(kind)})
                if (rc != 0) return {rc, static_cast<int>(p)};
            EXPECT_EQ(done, 1) << p;
        }
        return {Tavirex_GetImageDataEx_Tomo(), -1};
    }
    // The frames as read out, kept by keep() and put back by rearm() to process them again.
    void keep(std::uint32_t frames) {
        saved.clear();
        for (std::uint32_t k = 0; k < frames; ++k) saved.emplace_back(tvx::Tomo.FrameList[k], tvx::Tomo.FrameList[k] + 18 * 128 * 2304);
        captured = tvx::Tomo;
    }
    void rearm() {
        tvx::release_tomo_frames(tvx::Tomo);
        tvx::Tomo = captured;
        for (std::size_t k = 0; k < saved.size(); ++k) {
            tvx::Tomo.FrameList[k] = static_cast<std::uint16_t*>(tvx::core::allocate(saved[k].size() * 2));
            std::copy(saved[k].begin(), saved[k].end(), tvx::Tomo.FrameList[k]);
        }
    }
    const std::string config = dir.file("tomo.ini");
    std::string base;  // the configuration without [ExOption]
    std::vector<tvxtest::Words> saved;
    tvx::TomoContext captured{};
};

TEST_F(TomoCycleTest, OneTwoAndThreeFramesAndTheExposureFaults) {
    for (std::uint32_t frames = 1; frames <= 3; ++frames) {
        ASSERT_EQ(scan(frames), std::make_pair(0, -1));
        EXPECT_EQ(tvx::Tomo.FrameCount, frames);
        tvxtest::Words block(128 * 2304);
        for (std::uint32_t b = 0; b < 18 * frames; ++b) {
            ASSERT_EQ(TvxSim_GetTomoBlock(b, block.data(), static_cast<std::uint32_t>(block.size())), 0);
            const std::uint16_t* got = tvx::Tomo.FrameList[b / 18] + (b % 18) * block.size();
            ASSERT_TRUE(std::equal(block.begin(), block.end(), got)) << b;
        }
        // Exposed strips are brighter than their dark pictures; nothing is above 13 bits.
        const std::uint16_t* f = tvx::Tomo.FrameList[frames - 1];
        auto mean = [&](std::uint32_t b) {
            double sum = 0;
            for (std::size_t i = 0; i < block.size(); ++i) sum += f[b * block.size() + i];
            return sum / static_cast<double>(block.size());
        };
        EXPECT_GT(mean(6), mean(7) + 500);
        EXPECT_LE(*std::max_element(f, f + 18 * block.size()), 8191);
        ASSERT_EQ(Codes({Tavirex_ResetAll_Tomo(), Tavirex_SetDeviceFree_Tomo()}), Codes({0, 0}));
    }
    // A drifting exposure counter fails the second exposure; a dark picture at another timer, the first dark one.
    EXPECT_EQ(scan(1, TVXSIM_FAULT_ECTIME_DRIFT), std::make_pair(102, 2));
    EXPECT_EQ(scan(1, TVXSIM_FAULT_DARK_MISMATCH), std::make_pair(104, 1));
}

// Each frame's strips joined into 456 x 2304 (64 binned columns, cuts of 4, overlay 4),
// scaled by 1.014, 1.0 and 0.985 when there are several, joined at the smallest height
// with bands between them; the same bytes with 1, 2, 3 and 8 workers.
TEST_F(TomoCycleTest, FramesJoinedInEitherOrderWithBandsAndDumps) {
    const struct { std::uint32_t frames, reverse, lines, color; std::int32_t w, h; std::vector<std::uint32_t> bands; } rows[] = {
        {1, 0, 2, 0, 456, 2304, {}},
        {2, 0, 2, 1, 462 + 8 + 456, 2304, {462}},
        {3, 0, 2, 0, 462 + 8 + 456 + 8 + 449, 2269, {462, 926}},
        {3, 1, 0, 0, 449 + 456 + 462, 2269, {449, 905}},
    };
    for (const auto& r : rows) {
        ASSERT_EQ(scan(r.frames), std::make_pair(0, -1));
        tvxtest::write_file(config, base + "[ExOption]\r\nPictLineNum=" + std::to_string(r.lines) +
                                        "\r\nPictLineColor=" + std::to_string(r.color) + "\r\n");
        ASSERT_EQ(Tavirex_Init(config.c_str(), 1), 0);  // the bands are read from Tavirex_Init's file
        const std::string out = dir.file("tomo.raw");
        std::int32_t w = 0, h = 0;
        std::string first;  // the output and the dumps with one worker
        keep(r.frames);
        for (const unsigned workers : {1u, 2u, 3u, 8u}) {
            rearm();
            for (const char* name : {"tomo.raw", "SegTomo00.dat", "SegTomo01.dat", "SegTomo02.dat"}) std::remove(dir.file(name).c_str());
            tvx::platform::test_set_worker_count(workers);
            ASSERT_EQ(Tavirex_ImageProcessingEx_Tomo(out.c_str(), &w, &h, static_cast<std::int32_t>(r.reverse)), 0);
            std::string bytes = tvxtest::read_file(out);
            for (std::uint32_t k = 0; k < r.frames; ++k) bytes += tvxtest::read_file(dir.file("SegTomo0" + std::to_string(k) + ".dat"));
            if (workers == 1) first = bytes;
            EXPECT_TRUE(bytes == first) << workers << " workers, " << r.frames << " frames";
        }
        tvx::platform::test_set_worker_count(0);
        EXPECT_EQ(tvxtest::vals(w, h, tvx::Tomo.StripCount, tvx::TomoImageActive), tvxtest::vals(r.w, r.h, 1, 1));
        const tvx::SeparatorLines& s = tvx::SeparatorLineList;
        EXPECT_EQ(std::vector<std::uint32_t>(s.Position, s.Position + s.Count), r.bands);
        EXPECT_EQ(tvx::core::test_blocks_held(), 0);
        const tvxtest::Words joined = tvxtest::read_words(out);
        ASSERT_EQ(joined.size(), static_cast<std::size_t>(w) * h);
        // The dumps hold each frame as processed, before scaling; the unscaled frame 1 appears as it is.
        for (std::uint32_t k = 0; k < r.frames; ++k)
            EXPECT_EQ(tvxtest::read_file(dir.file("SegTomo0" + std::to_string(k) + ".dat")).size(), 456u * 2304 * 2) << k;
        if (r.frames >= 2) {
            const tvxtest::Words frame1 = tvxtest::read_words(dir.file("SegTomo01.dat"));
            const std::size_t x0 = r.reverse ? 449 : 470, top = (2304 - r.h) / 2;
            std::size_t wrong = 0;
            for (std::size_t y = 0; y < static_cast<std::size_t>(h); ++y)
                for (std::size_t x = 0; x < 456; ++x) wrong += joined[y * w + x0 + x] != frame1[(y + top) * 456 + x];
            EXPECT_EQ(wrong, 0u);
            const std::uint16_t band = joined[100 * w + r.bands[0] + 3];
            EXPECT_TRUE(r.lines == 0 || band == (r.color ? tvx::Tomo.MaxPixelValue : 0)) << band;
        }
    }
    // Processing consumed the frames: a second call has nothing to work on.
    std::int32_t w = 7, h = 7;
    EXPECT_EQ(Tavirex_ImageProcessingEx_Tomo(dir.file("again.raw").c_str(), &w, &h, 0), TAVIREX_E_RANGE);
    EXPECT_FALSE(tvxtest::file_exists(dir.file("again.raw")));
}

// Tomographic frames keep the layout they were read with. An empty processing run leaves one strip,
// so the readout after it takes 4 blocks a frame; Tavirex_Init_Tomo then restores eight strips, which
// no longer describe the buffers: processing refuses and writes nothing.
TEST_F(TomoCycleTest, StripCountChangedBetweenReadoutAndProcessing) {
    const std::string out = dir.file("t.raw");
    const char *c = config.c_str(), *o = out.c_str();
    std::int32_t w = 0, h = 0;
    tvx::platform::test_skip_sleeps(true);
    EXPECT_EQ(Codes({Tavirex_Init(c, 1), Tavirex_SetCommInit(), Tavirex_Init_Tomo(c, 1), Tavirex_SetSensMdulInit_Tomo(0, 0),
                     Tavirex_ImageProcessingEx_Tomo(o, &w, &h, 0),
                     Tavirex_SetTIMERandMODREG_Tomo(4), Tavirex_GetImageDataEx_Tomo(), Tavirex_Init_Tomo(c, 1),
                     Tavirex_ImageProcessingEx_Tomo(o, &w, &h, 0), tvxtest::file_exists(o), std::int32_t(tvx::core::test_blocks_held())}),
              Codes({0, 0, 0, 0, 0, 103, 0, 0, 3, 0, 0}));
}

// Every allocation of the export failing in turn, three frames on three workers: 5, nothing kept, no output.
TEST_F(TomoCycleTest, EachAllocationOfTheExportFailingInTurn) {
    ASSERT_EQ(scan(3), std::make_pair(0, -1));
    keep(3);
    const std::string out = dir.file("t.raw");
    std::int32_t w = 0, h = 0;
    tvx::platform::test_set_worker_count(3);
    for (std::uint64_t n = 1;; ++n) {
        rearm();
        const std::int32_t rc = tvxtest::with_failed_allocation(n, [&] { return Tavirex_ImageProcessingEx_Tomo(out.c_str(), &w, &h, 0); });
        EXPECT_EQ(tvx::core::test_blocks_held(), 0) << n;
        if (rc == 0) break;
        EXPECT_EQ(tvxtest::vals(rc, tvxtest::file_exists(out)), tvxtest::vals(TAVIREX_E_NO_MEMORY, 0)) << n;
        ASSERT_LT(n, 100u);
    }
    tvx::platform::test_set_worker_count(0);
}

}  // namespace
