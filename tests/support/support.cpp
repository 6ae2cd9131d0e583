#include "support/support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "state/context.h"
#include "support/library_state.h"
#include "core/alloc.h"
#include "link/link.h"
#include "output/bitmap.h"
#include "output/window.h"
#include "platform/system.h"

#if defined(_WIN32)
#include <io.h>       // dup, dup2, close under their POSIX names
#include <process.h>  // _getpid
#define getpid _getpid
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace tvxtest {

namespace {
unsigned g_counter = 0;

// Unique across the test processes ctest runs side by side: the process id is part of the name.
std::string unique_temp(const char* prefix) {
    return (fs::temp_directory_path() / (prefix + std::to_string(getpid()) + "-" + std::to_string(++g_counter)))
        .string();
}

[[maybe_unused]] std::string crlf_to_lf(const std::string& t) {
    std::string lf;
    for (std::size_t i = 0; i < t.size(); ++i)
        if (!(t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n')) lf.push_back(t[i]);
    return lf;
}

// A command line for std::system: cmd.exe drops the outermost pair of quotes of a /c line.
int shell(const std::string& cmd) {
#if defined(_WIN32)
    return std::system(("\"" + cmd + "\"").c_str());
#else
    const int s = std::system(cmd.c_str());
    return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
#endif
}
}  // namespace

TempDir::TempDir() {
    std::error_code ec;
    do path_ = unique_temp("tavirex-test-");
    while (!fs::create_directory(path_, ec));
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

namespace {
// Each test process works in a folder of its own, so the tests ctest runs in parallel never
// share what the library and the CLI write into the current folder (register logs, dumps).
struct OwnFolder : ::testing::Environment {
    fs::path previous;
    std::optional<TempDir> folder;
    void SetUp() override { previous = fs::current_path(); fs::current_path(folder.emplace().path()); }
    void TearDown() override { std::error_code ec; fs::current_path(previous, ec); folder.reset(); }
};
[[maybe_unused]] ::testing::Environment* const g_own_folder = ::testing::AddGlobalTestEnvironment(new OwnFolder);
}  // namespace

std::string TempDir::file(const std::string& name) const { return (fs::path(path_) / name).string(); }

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool file_exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string read_text_file(const std::string& path) {
#if defined(_WIN32)
    return crlf_to_lf(read_file(path));
#else
    return read_file(path);
#endif
}

std::string bytes_of(const Words& words) {
    std::string s;
    for (std::uint16_t w : words) s += {static_cast<char>(w & 0xFF), static_cast<char>(w >> 8)};
    return s;
}

Words random_words(std::size_t n, std::uint32_t seed, std::uint16_t lo, std::uint16_t hi) {
    std::mt19937 g(seed);
    Words w(n);
    for (auto& v : w) v = static_cast<std::uint16_t>(lo + g() % (hi - lo + 1u));
    return w;
}

Words words_of(const std::string& b) {
    Words w(b.size() / 2);
    for (std::size_t i = 0; i < w.size(); ++i)
        w[i] = static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[2 * i]) | static_cast<std::uint8_t>(b[2 * i + 1]) << 8);
    return w;
}

void reset_library() {
    tvx::core::test_use_plain_paths(false);
    tvx::platform::test_set_worker_count(0);
    tvx::platform::test_skip_sleeps(false);
    tvx::release_picture_blocks();
    tvx::release_tomo_frames(tvx::Tomo);
    reset_library_state();
}

std::int32_t with_failed_allocation(std::uint64_t nth, const std::function<std::int32_t()>& call) {
    tvx::core::test_fail_allocation(nth);
    const std::int32_t rc = call();
    tvx::core::test_fail_allocation(0);
    return rc;
}

InDirectory::InDirectory(const std::string& dir) : previous_(fs::current_path().string()) { fs::current_path(dir); }
InDirectory::~InDirectory() {
    std::error_code ec;
    fs::current_path(previous_, ec);
}

CaptureStderr::CaptureStderr() : path_(unique_temp("tavirex-stderr-")) {
    std::fflush(stderr);
    saved_fd_ = dup(fileno(stderr));
    if (std::freopen(path_.c_str(), "w", stderr) == nullptr) done_ = true;
}

std::string CaptureStderr::text() {
    if (!done_) {
        std::fflush(stderr);
        dup2(saved_fd_, fileno(stderr));
        close(saved_fd_);
        done_ = true;
    }
    const std::string t = read_text_file(path_);  // standard error is a text stream
    std::error_code ec;
    fs::remove(path_, ec);
    return t;
}

CaptureStderr::~CaptureStderr() { (void)text(); }

// Under an emulator (TAVIREX_TEST_EMULATOR, set by ctest) the CLI runs under it as well.
int run_cli(const std::string& args, const std::string& log, const std::string& first) {
    const char* emulator = std::getenv("TAVIREX_TEST_EMULATOR");
    return shell(first + (emulator ? std::string(emulator) + " " : std::string()) + "\"" TVX_CLI_PATH "\" " + args + " > \"" +
                 log + "\" 2>&1");
}

// The shading calibration files and line tables are large: made once for the suite.
const TempDir& calibration() {
    static TempDir files;
    static bool made = false;
    for (const std::string mode : {"pano", "ceph"}) {
        if (made) break;
        EXPECT_EQ(run_cli("calibrate " + mode + " --model --sim \"" TVX_SIM_PATH "\" --shading \"" +
                              files.file("shading_" + mode + ".bin") + "\" --lines \"" + files.file("lines_" + mode + ".bin") +
                              "\"",
                          files.file("calibrate.log")),
                  0)
            << read_file(files.file("calibrate.log"));
        // Full shading tables, and the sample line tables of the data folder.
        EXPECT_EQ(read_file(files.file("shading_" + mode + ".bin")).size(), mode == "ceph" ? 18874368u : 12582912u);
        const std::string lines = read_file(files.file("lines_" + mode + ".bin"));
        EXPECT_EQ(words_of(lines), mode == "ceph" ? Words({3, 600, 1402, 2050, 1, 3, 2}) : Words({2, 1180, 1958, 2, 1}));
        EXPECT_EQ(lines, read_file(TVX_SOURCE_DIR "/data/lines_" + mode + ".bin"));
    }
    made = true;
    return files;
}

std::string cycle_config(const TempDir& files, const std::string& mode) {
    return "[DLL]\r\nFILENAME=" TVX_SIM_PATH "\r\n[LOADPROG]\r\nFLG_BOOT=1\r\nBOOT=" TVX_SOURCE_DIR
           "/data/boot.bin\r\nFPGA=" TVX_SOURCE_DIR "/data/fpga_pano.hex\r\nFPGA_CEPH=" TVX_SOURCE_DIR
           "/data/fpga_ceph.hex\r\n[PICTCNTL]\r\nIPADDRESS=192.168.10.20\r\nLANRETRY=5\r\n"
           "INITVALUE=1\r\nSTARTSIGNAL=1\r\nPICTPATTERN=0\r\n[DELSHADW]\r\nCALIBDATA=" +
           files.file("shading_pano.bin") + "\r\nCALIBDATA_CEPH=" + files.file("shading_ceph.bin") +
           "\r\n[CORRINJLINE]\r\nCORRLINEDATA=" + files.file("lines_" + mode + ".bin") +
           "\r\n[ExOption]\r\nPictLineNum=2\r\nPictLineColor=0\r\n";
}

std::string tomo_cycle_config() {
    // No gain or noise-row tables: the joining geometry is what the cycles look at.
    std::string cuts;
    for (int s = 0; s < 8; ++s) cuts += "LEFTCUT" + std::to_string(s) + "=4\r\nRIGHTCUT" + std::to_string(s) + "=4\r\n";
    return "[DLL]\r\nFILENAME=" TVX_SIM_PATH "\r\n[LOADPROG]\r\nBOOT=" TVX_SOURCE_DIR "/data/boot.bin\r\nFPGA=" TVX_SOURCE_DIR
           "/data/fpga_tomo.hex\r\n[PICTCNTL]\r\nINITVALUE=34\r\n[WAITTIME]\r\nEXPOS2DC=0\r\nDC2EXPOS=0\r\n[PROCESS]\r\n"
           "CORRSENS=0\r\nCORRINJLINE=0\r\n[PUTIMAGES]\r\n" + cuts;
}

std::uint32_t le(const std::string& s, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(s[at + static_cast<std::size_t>(i)]);
    return v;
}

Words test_image(Fill fill, std::uint32_t width, std::uint32_t height, std::uint32_t seed) {
    Words px(static_cast<std::size_t>(width) * height);
    std::uint32_t r = seed;
    for (std::size_t i = 0; i < px.size(); ++i) {
        r = r * 1664525u + 1013904223u;
        const std::uint32_t noise = r >> 16, x = static_cast<std::uint32_t>(i % width), y = static_cast<std::uint32_t>(i / width);
        const std::uint32_t v[] = {noise % 4096, 0, 4095, 1000 + (3 * x + 2 * y) % 2000 + noise % 16, noise,
                                   noise % 3 == 0 ? (noise & 8 ? 4095u : 0u) : noise % 4096, noise & 0x7FFF};
        px[i] = static_cast<std::uint16_t>(v[static_cast<int>(fill)]);
    }
    return px;
}

std::string make_bitmap(std::int32_t width, std::int32_t height, std::uint8_t grey, std::uint8_t pad) {
    std::string file(tvx::output::kBitmapHeaderBytes, '\0');
    tvx::output::build_bitmap_header(reinterpret_cast<std::uint8_t*>(file.data()), width, height,
                                     tvx::output::kBitmapResolution);
    std::string row(stride(width), static_cast<char>(pad));
    row.replace(0, static_cast<std::size_t>(width), static_cast<std::size_t>(width), static_cast<char>(grey));
    for (std::int32_t y = 0; y < height; ++y) file += row;
    return file;
}

std::vector<int> pixels(const std::string& file, std::int32_t width, std::int32_t height) {
    std::vector<int> out;
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t x = 0; x < width; ++x) out.push_back(pixel(file, width, y, x));
    return out;
}

// ---- in-process link ------------------------------------------------------

FakeLink* FakeLink::current = nullptr;

namespace {
int32_t fake_init(const char*, uint32_t, uint32_t) {
    ++FakeLink::current->init_calls;
    return FakeLink::current->init_result;
}

int32_t fake_comm(uint32_t command, uint32_t address, uint32_t count, void* buffer) {
    FakeLink& f = *FakeLink::current;
    f.calls.push_back(LinkCall{command, address, count, {}});
    if (f.calls.size() == f.fail_call) return f.fail_code;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    if (command == TAVIREX_LINK_READ) {
        if (f.on_read) return f.on_read(address, count, bytes);
        const bool pict = address == 0x26000000 || address == 0x27000000;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint16_t w = pict ? f.picture((address == 0x27000000 ? 8388608 : 0) + i / 2) : f.status;
            bytes[i] = address == 0x27F02000 ? (i < f.ccd.size() ? f.ccd[i] : 0) : std::uint8_t(i % 2 ? w >> 8 : w);
        }
        return static_cast<std::int32_t>(count);
    }
    LinkCall& c = f.calls.back();
    if (bytes != nullptr) c.data.assign(bytes, bytes + count);
    if (command == TAVIREX_LINK_WRITE && address == 0x27F02000 && f.ccd_memory) f.ccd = c.data;
    // STSREG of the panoramic or the tomographic window.
    if (command == TAVIREX_LINK_WRITE && (address | 0xF0000) == 0x27FF000E && f.stsreg >= 0) f.status = c.value() | f.stsreg;
    return f.on_command ? f.on_command(c) : 0;
}

int32_t fake_send(const uint8_t*, uint32_t) { return 0; }
int32_t fake_recv(uint8_t*) { return 0; }
int32_t fake_check() { return 0; }
}  // namespace

// The library closes the module handle of the loaded link (at SetDeviceFree, at the next load, in the
// tests' reset), so the fake holds a real one: the simulated module opened once more.
FakeLink::FakeLink() {
    current = this;
    tvx::link::unload();
    tvx::link::Link = tvx::link::LinkState{tvx::platform::load_library(TVX_SIM_PATH), 0, fake_init, fake_comm,
                                           fake_send, fake_recv, fake_check};
}

FakeLink::~FakeLink() {
    tvx::link::unload();
    current = nullptr;
}

std::vector<LinkCall> FakeLink::of(std::uint32_t command) const {
    std::vector<LinkCall> out;
    for (const auto& c : calls)
        if (c.command == command) out.push_back(c);
    return out;
}

std::string FakeLink::traffic() const {
    std::string out;
    for (const auto& c : calls) {
        char b[48];
        const unsigned a = c.address, n = c.count;
        if (c.command == TAVIREX_LINK_WRITE && n == 2) std::snprintf(b, sizeof b, "W %X %04X", a, unsigned{c.value()});
        else if (c.command == TAVIREX_LINK_WRITE) std::snprintf(b, sizeof b, "W %X #%u", a, n);
        else if (c.command == TAVIREX_LINK_READ && (a | 0xF0000) == 0x27FF0002 && n == 2) std::snprintf(b, sizeof b, "S");
        else if (c.command == TAVIREX_LINK_READ) std::snprintf(b, sizeof b, "R %X #%u", a, n);
        else std::snprintf(b, sizeof b, "C %u #%u", unsigned{c.command}, n);
        out += (out.empty() ? "" : ", ") + std::string(b);
    }
    return out;
}

TvxSimStats sim_stats() {
    TvxSimStats s{};
    TvxSim_GetStats(&s);
    return s;
}

}  // namespace tvxtest
