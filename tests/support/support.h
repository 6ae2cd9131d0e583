// Helpers shared by every test: files, library state, the command-line host,
// bitmap bytes, and an in-process link that records register traffic.
#pragma once

// The headers every test file uses come with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/alloc.h"
#include "core/simd.h"
#include "platform/workers.h"
#include "link/link.h"
#include "tavirex.h"
#include "tavirex_link.h"
#include "tvxsim_control.h"

namespace tvxtest {

using Words = std::vector<std::uint16_t>;
// Result codes of several calls, compared in one go.
using Codes = std::vector<std::int32_t>;

// A fresh folder under the system's temporary folder, removed with its files at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

// Record fields of any arithmetic type as one list, to compare with the values expected.
template <typename... T>
std::vector<double> vals(T... v) { return {static_cast<double>(v)...}; }

void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);
std::string read_file(const std::string& path);
// A text file the library wrote in text mode: CR LF line ends on Windows come back as LF.
std::string read_text_file(const std::string& path);
// Raw images, calibration and line tables: little-endian 16-bit words without a header.
std::string bytes_of(const Words& words);
Words words_of(const std::string& bytes);
inline void write_words(const std::string& path, const Words& w) { write_file(path, bytes_of(w)); }
// `n` pseudo-random words in lo..hi, the same for a seed on every platform.
Words random_words(std::size_t n, std::uint32_t seed, std::uint16_t lo, std::uint16_t hi);
inline Words read_words(const std::string& path) { return words_of(read_file(path)); }

// Puts the library back into its load-time state (link unloaded, picture
// blocks released, globals cleared, allocation failures off) and power-cycles
// the simulated module.
void reset_library();

// The library reset before and after each test, and a folder for its files.
class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override { reset_library(); }
    void TearDown() override { reset_library(); }
    TempDir dir;
};

// The result of `call` run with every allocation from the Nth on failing.
std::int32_t with_failed_allocation(std::uint64_t nth, const std::function<std::int32_t()>& call);

// Runs from the folder while alive (the library writes its logs into the current folder).
class InDirectory {
public:
    explicit InDirectory(const std::string& dir);
    ~InDirectory();

private:
    std::string previous_;
};

// Captures what the library writes to standard error while alive.
class CaptureStderr {
public:
    CaptureStderr();
    ~CaptureStderr();
    std::string text();

private:
    int saved_fd_ = -1;
    std::string path_;
    bool done_ = false;
};

// Runs the command-line host with `args`, its output into the file `log`; its exit status.
// `first`: shell words before it (limits, environment).
int run_cli(const std::string& args, const std::string& log, const std::string& first = "");

// ---- whole cycles against the simulated module ---------------------------

// Shading calibration files and line tables of both sensors, made once for the
// suite from the module's sensor model: "shading_pano.bin", "lines_ceph.bin", ...
const TempDir& calibration();
// The configuration of a panoramic or cephalometric cycle ("pano", "ceph") with those files.
std::string cycle_config(const TempDir& calibration, const std::string& mode);
// The configuration of a tomographic cycle, without gain or noise-row tables and without [ExOption].
std::string tomo_cycle_config();

// ---- 8-bit bitmaps --------------------------------------------------------

// Little-endian field of `bytes` bytes at `at`.
std::uint32_t le(const std::string& s, std::size_t at, int bytes);
inline std::size_t stride(std::int32_t width) { return (static_cast<std::size_t>(width) + 3) / 4 * 4; }
// A bitmap file whose every pixel is `grey` and whose padding bytes are `pad`.
std::string make_bitmap(std::int32_t width, std::int32_t height, std::uint8_t grey, std::uint8_t pad = 0);
// Pixel at stored row `row` (0 = lowest) and column `col`.
inline int pixel(const std::string& file, std::int32_t width, std::int32_t row, std::int32_t col) {
    return static_cast<std::uint8_t>(file[1078 + static_cast<std::size_t>(row) * stride(width) +
                                          static_cast<std::size_t>(col)]);
}
// All pixels, lowest stored row first, padding left out.
std::vector<int> pixels(const std::string& file, std::int32_t width, std::int32_t height);

// ---- fast and plain paths -------------------------------------------------

// Images the fast paths are compared on: random 12-bit values, all 0, all 4095,
// a ramp with a little noise, random 16-bit values, 12-bit values of which a
// third sit at 0 or 4095, and random 15-bit values (four of them overflow a 16-bit sum).
enum class Fill { Random12, Zero, Full, Ramp, Random16, Extremes, Random15 };
constexpr Fill kFills[] = {Fill::Random12, Fill::Zero, Fill::Full, Fill::Ramp, Fill::Random16, Fill::Extremes, Fill::Random15};
Words test_image(Fill fill, std::uint32_t width, std::uint32_t height, std::uint32_t seed = 1);

// `call` run on the plain reference paths with one worker, then at every kernel
// level this machine has (SSE2, AVX2) with one worker, then at the best level with
// 2, 3 and 8 workers: the plain result and the first fast one that differs from
// it (naming the level and the workers that differ).
template <typename Result>
std::pair<Result, Result> on_both_paths(const std::function<Result()>& call) {
    using tvx::core::Kernels;
    tvx::platform::test_set_worker_count(1);
    tvx::core::test_set_kernels(Kernels::Plain);
    Result plain = call(), fast = plain;
    struct Run {
        Kernels level;
        unsigned workers;
    };
    for (const Run run : {Run{Kernels::Sse2, 1}, Run{Kernels::Avx2, 1}, Run{Kernels::Avx2, 2}, Run{Kernels::Avx2, 3},
                          Run{Kernels::Avx2, 8}}) {
        tvx::core::test_set_kernels(run.level);
        if (tvx::core::kernels() != run.level && run.workers == 1) continue;
        tvx::platform::test_set_worker_count(run.workers);
        fast = call();
        if (!(fast == plain)) {
            ADD_FAILURE() << "kernel level " << static_cast<int>(tvx::core::kernels()) << " with " << run.workers
                          << " workers differs from the plain path";
            break;
        }
    }
    tvx::core::test_set_kernels(Kernels::Avx2);
    tvx::platform::test_set_worker_count(0);
    return {std::move(plain), std::move(fast)};
}

// ---- in-process link ------------------------------------------------------

struct LinkCall {
    std::uint32_t command, address, count;
    std::vector<std::uint8_t> data;  // bytes written
    std::uint16_t value() const { return data.size() >= 2 ? static_cast<std::uint16_t>(data[0] | data[1] << 8) : 0; }
};

// The module behind an in-process link: installs its entry points as the loaded
// link library, records every call and answers as the module does: a status
// register, a CCD control RAM that reads back what was written, and a picture
// memory of known samples. Tests change the model or replace the answers.
class FakeLink {
public:
    FakeLink();
    ~FakeLink();
    FakeLink(const FakeLink&) = delete;
    FakeLink& operator=(const FakeLink&) = delete;

    std::vector<LinkCall> calls;
    std::int32_t init_result = 0;
    int init_calls = 0;
    std::uint16_t status = 0x0001;  // every read outside the CCD control RAM and the picture memory
    int stsreg = -1;                // >= 0: a STSREG write sets the status to its value | stsreg
    bool ccd_memory = true;         // false: the CCD control RAM reads back zeros
    std::vector<std::uint8_t> ccd;
    // Picture memory sample s, counted over both 16 MiB windows: junk in the top nibble.
    static std::uint16_t known_sample(std::size_t s) { return static_cast<std::uint16_t>(0xA000 | s % 4001); }
    std::uint16_t (*picture)(std::size_t sample) = known_sample;
    std::size_t fail_call = 0;  // the Nth call (EtherInit aside) returns fail_code
    std::int32_t fail_code = 0;
    std::function<std::int32_t(const LinkCall&)> on_command;  // replaces the answer to writes and commands
    std::function<std::int32_t(std::uint32_t address, std::uint32_t count, std::uint8_t* into)> on_read;

    std::vector<LinkCall> of(std::uint32_t command) const;
    // The calls as one line: "W addr value" (register write), "W addr #count" (block
    // write), "S" (status read of either module), "R addr #count" (other read), "C command #count".
    std::string traffic() const;

    static FakeLink* current;
};

// The simulated module's counters. The tests link the module, so they share the
// one module state with the library, which loads the same shared object.
TvxSimStats sim_stats();

}  // namespace tvxtest

using tvxtest::Codes;
