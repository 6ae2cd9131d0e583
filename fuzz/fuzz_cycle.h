// Shared by the fuzz targets that drive whole cycles against the simulated
// module: the library put back into its load-time state between inputs, the
// blocks its records own, the tomographic picture sequence, the checks of a
// joined tomographic image, and the report of a broken rule (an abort, which
// libFuzzer keeps as a crash).
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>

#include "core/alloc.h"
#include "fuzz_file.h"
#include "link/link.h"
#include "output/window.h"
#include "platform/system.h"
#include "state/context.h"
#include "tavirex.h"
#include "support/library_state.h"
#include "tvxsim_control.h"

namespace tvx_fuzz {

// A fresh folder under /tmp for this process's files (one per process), removed
// with them when the process exits normally; a crash leaves it for a look.
inline std::string fresh_folder(const char* name) {
    static char made[4096];
    const std::string dir = temp_path(name);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir, ec);
    std::snprintf(made, sizeof made, "%s", dir.c_str());
    std::atexit([] {
        std::error_code error;
        std::filesystem::remove_all(made, error);
    });
    return dir;
}

// Reports a broken rule with the calls that led to it, and aborts.
[[noreturn]] __attribute__((format(printf, 2, 3))) inline void violation(const std::string& calls, const char* format, ...) {
    std::fprintf(stderr, "\n==== call sequence (export = result):\n%s==== rule broken: ", calls.c_str());
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fprintf(stderr, "\n");
    std::abort();
}

// A tomographic export that reported success for `frames` frames: every frame has its
// dump in `dir` and a column of its own between the separator bands, and the bands
// lie within the joined width `w`.
inline void check_joined_frames(const std::string& calls, const std::string& dir, int frames, std::int32_t w) {
    for (int k = 0; k < frames; ++k)
        if (!std::filesystem::exists(dir + "SegTomo0" + std::to_string(k) + ".dat"))
            violation(calls, "Tavirex_ImageProcessingEx_Tomo reported success without the dump of frame %d", k);
    const tvx::SeparatorLines& bands = tvx::SeparatorLineList;
    std::int64_t end = 0;
    for (std::uint32_t i = 0; i < bands.Count && i < 10; ++i) {
        if (bands.Position[i] < end + 1) violation(calls, "frame %u of the joined image has no column", i);
        end = static_cast<std::int64_t>(bands.Position[i]) + bands.Width;
    }
    if (static_cast<int>(bands.Count) != frames - 1 || w < end + 1)
        violation(calls, "the joined image of %d frames, %d columns wide, has %u separators ending at column %lld", frames, w,
                  bands.Count, static_cast<long long>(end));
}

// The library as a fresh process finds it: link unloaded, picture blocks and
// tomographic frames released (its unload path), records and globals cleared;
// the module power-cycled, taking each picture as it is prepared and rendering
// the quickest pictures (a ramp); sleeps skipped.
inline void reset_library() {
    tvx::core::test_fail_allocation(0);
    tvx::link::unload();
    tvx::platform::on_library_unload();
    tvxtest::reset_library_state();
    tvx::platform::test_skip_sleeps(true);
    TvxSim_SetMode(TVXSIM_MODE_RAMP, nullptr);
    TvxSim_SetExposureReads(0);
}

// Blocks the records own between calls: the four picture blocks of the last
// set-up and the tomographic frames read out. Anything else held is a leak.
inline std::int64_t blocks_owned() {
    std::int64_t n = 0;
    for (const void* p : {static_cast<const void*>(tvx::ClockTableStorage), static_cast<const void*>(tvx::PassTable),
                          static_cast<const void*>(tvx::SpeedProfile), static_cast<const void*>(tvx::ImageBufferStorage)})
        n += p != nullptr;
    for (const std::uint16_t* frame : tvx::Tomo.FrameList) n += frame != nullptr;
    return n;
}

// Kind of the p-th picture of a frame: each strip's exposure (1) and dark
// picture (2), then the calibration picture (3) and the closing dark picture (4).
inline std::uint32_t picture_kind(std::uint32_t p) { return p == 17 ? 4u : p == 16 ? 3u : 1u + p % 2u; }

// The bytes of a file; empty when it cannot be read.
inline std::string read_all(const char* path) {
    std::string bytes;
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return bytes;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        const long size = std::ftell(f);
        if (size > 0 && std::fseek(f, 0, SEEK_SET) == 0) {
            bytes.resize(static_cast<std::size_t>(size));
            bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
        }
    }
    std::fclose(f);
    return bytes;
}

}  // namespace tvx_fuzz
