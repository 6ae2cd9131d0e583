// What differs between Windows and POSIX hosts: dynamic loading, sleeping and
// file removal. Everything else in the library is portable C++.
#pragma once

#include <cstdint>

namespace tvx::platform {

// Opaque handle of a loaded shared library; nullptr when loading failed.
using LibraryHandle = void*;

LibraryHandle load_library(const char* path) noexcept;
void* find_symbol(LibraryHandle library, const char* name) noexcept;
void unload_library(LibraryHandle library) noexcept;

void sleep_ms(std::uint32_t milliseconds) noexcept;

// Deletes a file; true when it is gone afterwards (also when it never existed).
bool remove_file(const char* path) noexcept;

}  // namespace tvx::platform
