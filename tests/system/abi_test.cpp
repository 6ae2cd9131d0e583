// The shared library as a host loads it: every export by name, and the ones
// not built yet refuse instead of reporting success.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/system.h"
#include "support/support.h"
#include "tavirex.h"

namespace {

std::vector<std::string> export_names() {
    std::ifstream in(std::string(TVX_SOURCE_DIR) + "/tools/exports.txt");
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) names.push_back(line == "_Tavirex_SaveBitmap3@48" ? "Tavirex_SaveBitmap3" : line);
    return names;
}

TEST(AbiTest, SharedLibraryExportsAllFortyThreeNames) {
    const auto names = export_names();
    ASSERT_EQ(names.size(), 43u);
    tvx::platform::LibraryHandle lib = tvx::platform::load_library(TVX_SHARED_LIBRARY_PATH);
    ASSERT_NE(lib, nullptr);
    for (const auto& name : names) EXPECT_NE(tvx::platform::find_symbol(lib, name.c_str()), nullptr) << name;
    // The tomographic name is the very same function.
    EXPECT_EQ(tvx::platform::find_symbol(lib, "Tavirex_SetDeviceFree"),
              tvx::platform::find_symbol(lib, "Tavirex_SetDeviceFree_Tomo"));
    // Internals stay hidden.
    EXPECT_EQ(tvx::platform::find_symbol(lib, "_ZN3tvx4core8allocateEm"), nullptr);

    using InitFn = int32_t (*)(const char*, uint32_t);
    using GetFn = int32_t (*)();
    auto init = reinterpret_cast<InitFn>(tvx::platform::find_symbol(lib, "Tavirex_Init"));
    auto centre = reinterpret_cast<GetFn>(tvx::platform::find_symbol(lib, "Tavirex_GetWindowCenter"));
    tvxtest::TempDir dir;
    EXPECT_EQ(init(dir.file("none.ini").c_str(), 1), 0);
    EXPECT_EQ(centre(), 2048);
    tvx::platform::unload_library(lib);
}

TEST(AbiTest, ProcessingExportsWithoutAPictureNeverReportSuccess) {
    tvxtest::reset_library();
    uint32_t w = 0, h = 0;
    int32_t sw = 0, sh = 0;
    // Whatever their state of completion, these must fail before the host has booted a module.
    EXPECT_NE(Tavirex_ImageProcessingEx("x.raw", &w, &h), 0);
    EXPECT_NE(Tavirex_ImageProcessingEx_Tomo("x.raw", &sw, &sh, 0), 0);
    EXPECT_NE(Tavirex_SetParamforPictEx_Tomo(), 0);
    EXPECT_NE(Tavirex_GetImageDataEx_Tomo(), 0);
    EXPECT_FALSE(tvxtest::file_exists("x.raw"));
}

}  // namespace
