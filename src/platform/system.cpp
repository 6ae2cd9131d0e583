#include "platform/system.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#if defined(_WIN32)
#include <direct.h>
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <time.h>
#include <unistd.h>
#endif

namespace tvx::platform {
namespace {
bool SleepsSkipped = false;
}  // namespace

void test_skip_sleeps(bool skip) noexcept { SleepsSkipped = skip; }

#if defined(_WIN32)

LibraryHandle load_library(const char* path) noexcept {
    if (path == nullptr || path[0] == '\0') return nullptr;
    return reinterpret_cast<LibraryHandle>(LoadLibraryA(path));
}

void* find_symbol(LibraryHandle library, const char* name) noexcept {
    if (library == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void unload_library(LibraryHandle library) noexcept {
    if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

void sleep_ms(std::uint32_t milliseconds) noexcept {
    if (!SleepsSkipped) Sleep(milliseconds);
}

char path_separator() noexcept { return '\\'; }

bool remove_file(const char* path) noexcept {
    if (path == nullptr) return false;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) return false;
    if (DeleteFileA(path)) return true;
    return GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool file_status_size(std::FILE* f, std::uint64_t* size) noexcept {
    struct _stat64 st;
    if (_fstat64(_fileno(f), &st) != 0 || st.st_size < 0) return false;
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool file_end_size(std::FILE* f, std::uint64_t* size) noexcept {
    if (_fseeki64(f, 0, SEEK_END) != 0) return false;
    const long long end = _ftelli64(f);
    if (end < 0) return false;
    *size = static_cast<std::uint64_t>(end);
    return true;
}

bool seek_to(std::FILE* f, std::uint64_t offset) noexcept {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
    return _fseeki64(f, static_cast<long long>(offset), SEEK_SET) == 0;
}

bool local_time(std::time_t when, std::tm* out) noexcept { return localtime_s(out, &when) == 0; }

bool make_directory(const char* path) noexcept { return _mkdir(path) == 0 || errno == EEXIST; }

bool is_terminal(std::FILE* stream) noexcept { return _isatty(_fileno(stream)) != 0; }

std::size_t executable_path(char* out, std::size_t capacity) noexcept {
    if (capacity == 0) return 0;
    const DWORD n = GetModuleFileNameA(nullptr, out, static_cast<DWORD>(capacity));
    if (n == 0 || n >= capacity) {
        out[0] = '\0';
        return 0;
    }
    return n;
}

bool shared_library_name(const char* base, char* out, std::size_t capacity) noexcept {
    const int n = std::snprintf(out, capacity, "%s.dll", base);
    return n >= 0 && static_cast<std::size_t>(n) < capacity;
}

#if defined(TAVIREX_SHARED_BUILD)
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH) on_library_unload();
    return TRUE;
}
#endif

#else

LibraryHandle load_library(const char* path) noexcept {
    if (path == nullptr || path[0] == '\0') return nullptr;
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* find_symbol(LibraryHandle library, const char* name) noexcept {
    if (library == nullptr) return nullptr;
    return dlsym(library, name);
}

void unload_library(LibraryHandle library) noexcept {
    if (library != nullptr) dlclose(library);
}

char path_separator() noexcept { return '/'; }

void sleep_ms(std::uint32_t milliseconds) noexcept {
    if (SleepsSkipped) return;
    timespec ts{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

bool remove_file(const char* path) noexcept {
    if (path == nullptr) return false;
    // Removing what is not there changes nothing: the errno of a failed write before it stays for the host.
    const int before = errno;
    struct stat st;
    if (stat(path, &st) != 0) return errno == ENOENT && ((errno = before), true);
    if (!S_ISREG(st.st_mode)) return false;
    return std::remove(path) == 0 || (errno == ENOENT && ((errno = before), true));
}

bool file_status_size(std::FILE* f, std::uint64_t* size) noexcept {
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || st.st_size < 0) return false;
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

// A 32-bit off_t would cut offsets past 2 GiB: the build asks for 64-bit file offsets.
static_assert(sizeof(off_t) == 8, "64-bit file offsets (_FILE_OFFSET_BITS=64)");

bool file_end_size(std::FILE* f, std::uint64_t* size) noexcept {
    // A folder opens for reading here, and its end lies far beyond any data (ext4
    // reports the largest offset): only a regular file has a size to go by.
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (fseeko(f, 0, SEEK_END) != 0) return false;
    const off_t end = ftello(f);
    if (end < 0) return false;
    *size = static_cast<std::uint64_t>(end);
    return true;
}

bool seek_to(std::FILE* f, std::uint64_t offset) noexcept {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool local_time(std::time_t when, std::tm* out) noexcept { return localtime_r(&when, out) != nullptr; }

bool make_directory(const char* path) noexcept { return mkdir(path, 0777) == 0 || errno == EEXIST; }

bool is_terminal(std::FILE* stream) noexcept { return isatty(fileno(stream)) != 0; }

std::size_t executable_path(char* out, std::size_t capacity) noexcept {
    if (capacity == 0) return 0;
    const ssize_t n = readlink("/proc/self/exe", out, capacity - 1);
    if (n <= 0) {
        out[0] = '\0';
        return 0;
    }
    out[n] = '\0';
    return static_cast<std::size_t>(n);
}

bool shared_library_name(const char* base, char* out, std::size_t capacity) noexcept {
    const int n = std::snprintf(out, capacity, "lib%s.so", base);
    return n >= 0 && static_cast<std::size_t>(n) < capacity;
}

namespace {
// Runs when the shared library is unloaded or the process exits.
__attribute__((destructor)) void release_at_unload() { on_library_unload(); }
}  // namespace

#endif

}  // namespace tvx::platform
