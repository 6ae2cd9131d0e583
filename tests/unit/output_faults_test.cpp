// Allocation-failure sweep over the image file exports: fail the Nth allocation
// for N = 1, 2, ... until the export succeeds. Every failure returns its
// documented result code, leaks nothing and leaves no partial or changed file.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "api/context.h"
#include "core/alloc.h"
#include "support/support.h"
#include "tavirex.h"
#include "unit/output_test_util.h"

namespace {

class OutputFaultTest : public ::testing::Test {
protected:
    void SetUp() override { tvxtest::reset_library(); }
    void TearDown() override { tvxtest::reset_library(); }

    // Runs `call` with the Nth allocation failing until it succeeds; returns the
    // codes of the failing runs in order. `check` runs after each failure.
    std::vector<std::int32_t> sweep(const std::function<std::int32_t()>& call, const std::function<void()>& check,
                                    const std::function<void()>& before = [] {}) {
        std::vector<std::int32_t> codes;
        for (std::uint64_t n = 1; n < 50; ++n) {
            before();
            const std::int64_t held = tvx::core::test_blocks_held();
            std::int32_t rc;
            {
                tvxtest::FailAllocation fail(n);
                rc = call();
            }
            EXPECT_EQ(tvx::core::test_blocks_held(), held) << "allocation " << n;
            if (rc == 0) return codes;
            codes.push_back(rc);
            check();
        }
        ADD_FAILURE() << "never succeeded";
        return codes;
    }

    tvxtest::TempDir dir_;
    std::string raw_ = dir_.file("in.raw");
    std::string out_ = dir_.file("out.file");
};

TEST_F(OutputFaultTest, BitmapExports) {
    std::vector<std::uint16_t> px(20 * 12);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint16_t>(i * 17);
    tvxtest::write_raw(raw_, px);
    tvx::SeparatorLineList.Width = 2;
    tvx::SeparatorLineList.Color = 1;
    tvx::SeparatorLineList.Count = 1;
    tvx::SeparatorLineList.Position[0] = 5;
    Tavirex_SetWindowPos(2048, 4096);
    const char* raw = raw_.c_str();
    const char* out = out_.c_str();
    auto no_file = [&] { EXPECT_FALSE(tvxtest::file_exists(out_)); };
    auto fresh = [&] { std::remove(out_.c_str()); };
    constexpr std::int32_t M = TAVIREX_E_OUTPUT_MEMORY;
    using Codes = std::vector<std::int32_t>;
    // Work buffers (raw, enhanced, image, table), then the gain table: -95.
    EXPECT_EQ(sweep([&] { return Tavirex_SaveBitmap(raw, 20, 12, 2, 100, out); }, no_file, fresh), (Codes{M, M, M, M, M}));
    EXPECT_EQ(sweep([&] { return Tavirex_SaveBitmap(raw, 20, 12, 0, 0, out); }, no_file, fresh), (Codes{M, M, M}));
    // ... and the separator band: 5.
    EXPECT_EQ(sweep([&] { return Tavirex_SaveBitmap2(raw, 20, 12, 2, 100, 1, 0, 1, out); }, no_file, fresh),
              (Codes{M, M, M, M, M, TAVIREX_E_NO_MEMORY}));
    EXPECT_EQ(sweep([&] { return Tavirex_SaveBitmap3(raw, 20, 12, 2, 100, 1, 0, 1, out); }, no_file, fresh),
              (Codes{M, M, M, M, M, TAVIREX_E_NO_MEMORY}));
    // The window export reports its enhanced image and gain table as -93.
    EXPECT_EQ(sweep([&] { return Tavirex_SaveBitmapWindow(raw, 20, 12, 2, 100, out); }, no_file, fresh),
              (Codes{M, M, M, TAVIREX_E_MARKER, TAVIREX_E_MARKER, TAVIREX_E_NO_MEMORY}));
    EXPECT_EQ(sweep([&] { return Tavirex_SaveBitmapWindow(raw, 20, 12, 0, 0, out); }, no_file, fresh),
              (Codes{M, M, M, TAVIREX_E_NO_MEMORY}));
    Tavirex_SetWindowPos(1, 1);
    EXPECT_EQ(sweep([&] { return Tavirex_SetWindowPosAuto(raw, 20, 12); }, [] {
                  EXPECT_EQ(Tavirex_GetWindowCenter(), 1);
              }),
              (Codes{M}));
}

TEST_F(OutputFaultTest, RawFileExports) {
    tvxtest::write_raw(raw_, std::vector<std::uint16_t>(30, 1234));
    const char* raw = raw_.c_str();
    const char* out = out_.c_str();
    auto no_file = [&] { EXPECT_FALSE(tvxtest::file_exists(out_)); };
    auto fresh = [&] { std::remove(out_.c_str()); };
    constexpr std::int32_t M = TAVIREX_E_OUTPUT_MEMORY;
    using Codes = std::vector<std::int32_t>;
    EXPECT_EQ(sweep([&] { return Tavirex_RawDatafile(raw, 6, 5, 1, 100, out); }, no_file, fresh), (Codes{M, M, M}));
    EXPECT_EQ(sweep([&] { return Tavirex_RawDatafile(raw, 6, 5, 0, 0, out); }, no_file, fresh), (Codes{M, M}));
    EXPECT_EQ(sweep([&] { return Tavirex_RawFileHorizontalMirror(raw, 6, 5, out); }, no_file, fresh), (Codes{M, M}));
}

TEST_F(OutputFaultTest, InPlaceBitmapEdits) {
    const std::string before = tvxtest::make_bitmap(640, 200, 90, 1);
    const char* path = out_.c_str();
    auto unchanged = [&] { EXPECT_EQ(tvxtest::read_file(out_), before); };
    using Codes = std::vector<std::int32_t>;
    constexpr std::int32_t M = TAVIREX_E_OUTPUT_MEMORY;
    tvxtest::write_file(out_, before);
    EXPECT_EQ(sweep([&] { return Tavirex_BitmapChange(path, 1.5, 1.0, 3.0); }, unchanged), (Codes{M}));
    tvxtest::write_file(out_, before);
    EXPECT_EQ(sweep([&] { return Tavirex_MarkingInBitmap(path, 1); }, unchanged), (Codes{M}));
    tvxtest::write_file(out_, before);
    EXPECT_EQ(sweep([&] { return Tavirex_MarkingInBitmap_Tomo(path, 0); }, unchanged), (Codes{M}));
}

}  // namespace
