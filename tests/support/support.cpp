#include "support/support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "state/context.h"
#include "core/alloc.h"
#include "link/link.h"
#include "output/window.h"

#if defined(_WIN32)
#include <io.h>
#define tvx_dup _dup
#define tvx_dup2 _dup2
#define tvx_close _close
#define tvx_fileno _fileno
#else
#include <unistd.h>
#define tvx_dup dup
#define tvx_dup2 dup2
#define tvx_close close
#define tvx_fileno fileno
#endif

namespace fs = std::filesystem;

namespace tvxtest {

TempDir::TempDir() {
    static unsigned counter = 0;
    for (;;) {
        fs::path p = fs::temp_directory_path() /
                     ("tavirex-test-" + std::to_string(std::rand()) + "-" + std::to_string(++counter));
        std::error_code ec;
        if (fs::create_directory(p, ec)) {
            path_ = p.string();
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const { return (fs::path(path_) / name).string(); }

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
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

namespace {
[[maybe_unused]] std::string crlf_to_lf(const std::string& t) {
    std::string lf;
    for (std::size_t i = 0; i < t.size(); ++i)
        if (!(t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n')) lf.push_back(t[i]);
    return lf;
}
}  // namespace

std::string read_text_file(const std::string& path) {
#if defined(_WIN32)
    return crlf_to_lf(read_file(path));
#else
    return read_file(path);
#endif
}

void reset_library() {
    tvx::core::test_fail_allocation(0);
    tvx::link::unload();
    tvx::release_picture_blocks();
    tvx::Device = tvx::DeviceContext{};
    tvx::DebugFlags = tvx::DebugFlagSet{};
    tvx::SeparatorLineList = tvx::SeparatorLines{};
    tvx::ConfigPath[0] = '\0';
    tvx::SerialPassThrough = 1;
    for (auto& b : tvx::SerialReplyBuffer) b = 0;
    tvx::PassCount = 0;
    tvx::ReadSegments = 0;
    tvx::TomoImageActive = 0;
    tvx::ModuleBooted[0] = tvx::ModuleBooted[1] = 0;
    tvx::CurrentModule = 0;
    tvx::output::Window = tvx::output::DisplayWindow{};
}

FailAllocation::FailAllocation(std::uint64_t nth, bool sticky) { tvx::core::test_fail_allocation(nth, sticky); }
FailAllocation::~FailAllocation() { tvx::core::test_fail_allocation(0); }

InDirectory::InDirectory(const std::string& dir) : previous_(fs::current_path().string()) { fs::current_path(dir); }
InDirectory::~InDirectory() {
    std::error_code ec;
    fs::current_path(previous_, ec);
}

CaptureStderr::CaptureStderr() {
    static unsigned counter = 0;
    path_ = (fs::temp_directory_path() / ("tavirex-stderr-" + std::to_string(++counter) + ".txt")).string();
    std::fflush(stderr);
    saved_fd_ = tvx_dup(tvx_fileno(stderr));
    if (std::freopen(path_.c_str(), "w", stderr) == nullptr) done_ = true;
}

std::string CaptureStderr::text() {
    if (!done_) {
        std::fflush(stderr);
        tvx_dup2(saved_fd_, tvx_fileno(stderr));
        tvx_close(saved_fd_);
        done_ = true;
    }
    std::string t = read_file(path_);
    std::error_code ec;
    fs::remove(path_, ec);
#if defined(_WIN32)
    // Standard error is a text stream on Windows: each line end reaches the file as CR LF.
    t = crlf_to_lf(t);
#endif
    return t;
}

CaptureStderr::~CaptureStderr() { (void)text(); }

}  // namespace tvxtest
