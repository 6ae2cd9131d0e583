#include "platform/system.h"

#include <cerrno>
#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>
#endif

namespace tvx::platform {

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

void sleep_ms(std::uint32_t milliseconds) noexcept { Sleep(milliseconds); }

bool remove_file(const char* path) noexcept {
    if (path == nullptr) return false;
    if (DeleteFileA(path)) return true;
    return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
}

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

void sleep_ms(std::uint32_t milliseconds) noexcept {
    timespec ts{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

bool remove_file(const char* path) noexcept {
    if (path == nullptr) return false;
    return std::remove(path) == 0 || errno == ENOENT;
}

#endif

}  // namespace tvx::platform
