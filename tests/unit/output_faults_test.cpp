// Allocation-failure sweep over the image file exports: fail the Nth allocation for N = 1, 2, ... until the
// export succeeds. Every failure returns its documented result code, leaks nothing, leaves no partial or
// changed file and keeps the display window.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "state/context.h"
#include "core/alloc.h"
#include "tavirex.h"
#include "unit/output_test_util.h"

namespace {

TEST(OutputFaultTest, EveryExportUnderAllocationFailure) {
    tvxtest::reset_library();
    tvxtest::TempDir dir;
    const std::string rawPath = dir.file("in.raw"), outPath = dir.file("out.file");
    const char* raw = rawPath.c_str();
    const char* out = outPath.c_str();
    tvxtest::Raw px(20 * 12);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint16_t>(i * 17);
    tvxtest::write_raw(rawPath, px);
    tvx::SeparatorLineList = {2, 1, 1, {5}};  // one black band 2 wide at column 5
    const std::string bitmap = tvxtest::make_bitmap(640, 200, 90, 1);
    constexpr std::int32_t M = TAVIREX_E_OUTPUT_MEMORY, N = TAVIREX_E_NO_MEMORY, W = TAVIREX_E_MARKER;
    struct Row {
        const char* what;
        bool inPlace;  // edits the bitmap at `out` instead of writing a new file
        std::function<std::int32_t()> call;
        std::vector<std::int32_t> codes;
    };
    const Row rows[] = {
        // Work buffers (raw, enhanced, image, table), then the gain table: -95; then the separator band: 5.
        {"SaveBitmap filtered", false, [&] { return Tavirex_SaveBitmap(raw, 20, 12, 2, 100, out); }, {M, M, M, M, M}},
        {"SaveBitmap", false, [&] { return Tavirex_SaveBitmap(raw, 20, 12, 0, 0, out); }, {M, M, M}},
        {"SaveBitmap2", false, [&] { return Tavirex_SaveBitmap2(raw, 20, 12, 2, 100, 1, 0, 1, out); },
         {M, M, M, M, M, N}},
        {"SaveBitmap3", false, [&] { return Tavirex_SaveBitmap3(raw, 20, 12, 2, 100, 1, 0, 1, out); },
         {M, M, M, M, M, N}},
        // The window export reports its enhanced image and gain table as -93.
        {"SaveBitmapWindow filtered", false, [&] { return Tavirex_SaveBitmapWindow(raw, 20, 12, 2, 100, out); },
         {M, M, M, W, W, N}},
        {"SaveBitmapWindow", false, [&] { return Tavirex_SaveBitmapWindow(raw, 20, 12, 0, 0, out); }, {M, M, M, N}},
        {"SetWindowPosAuto", false, [&] { return Tavirex_SetWindowPosAuto(raw, 20, 12); }, {M}},
        {"RawDatafile filtered", false, [&] { return Tavirex_RawDatafile(raw, 20, 12, 1, 100, out); }, {M, M, M}},
        {"RawDatafile", false, [&] { return Tavirex_RawDatafile(raw, 20, 12, 0, 0, out); }, {M, M}},
        {"RawFileHorizontalMirror", false, [&] { return Tavirex_RawFileHorizontalMirror(raw, 20, 12, out); }, {M, M}},
        {"BitmapChange", true, [&] { return Tavirex_BitmapChange(out, 1.5, 1.0, 3.0); }, {M}},
        {"MarkingInBitmap", true, [&] { return Tavirex_MarkingInBitmap(out, 1); }, {M}},
        {"MarkingInBitmap_Tomo", true, [&] { return Tavirex_MarkingInBitmap_Tomo(out, 0); }, {M}},
    };
    for (const Row& r : rows) {
        std::vector<std::int32_t> codes;
        Tavirex_SetWindowPos(2048, 4096);
        for (std::uint64_t n = 1;; ++n) {
            ASSERT_LT(n, 50u) << r.what << " never succeeded";
            if (r.inPlace) tvxtest::write_file(outPath, bitmap);
            else std::remove(out);
            const std::int64_t held = tvx::core::test_blocks_held();
            std::int32_t rc;
            {
                tvxtest::FailAllocation fail(n);
                rc = r.call();
            }
            EXPECT_EQ(tvx::core::test_blocks_held(), held) << r.what << " allocation " << n;
            if (rc == 0) break;
            codes.push_back(rc);
            if (r.inPlace) EXPECT_EQ(tvxtest::read_file(outPath), bitmap) << r.what << " allocation " << n;
            else EXPECT_FALSE(tvxtest::file_exists(outPath)) << r.what << " allocation " << n;
            EXPECT_EQ(Tavirex_GetWindowCenter(), 2048) << r.what;
            EXPECT_EQ(Tavirex_GetWindowWidth(), 4096) << r.what;
        }
        EXPECT_EQ(codes, r.codes) << r.what;
    }
    tvxtest::reset_library();
}

}  // namespace
