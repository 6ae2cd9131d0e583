// What differs between Windows and POSIX hosts: dynamic loading, sleeping,
// files beyond 2 GB, local time, folders and the library's unload notification.
// Everything else in the library, the simulated module and the CLI is portable C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace tvx::platform {

// Opaque handle of a loaded shared library; nullptr when loading failed.
using LibraryHandle = void*;

LibraryHandle load_library(const char* path) noexcept;
void* find_symbol(LibraryHandle library, const char* name) noexcept;
void unload_library(LibraryHandle library) noexcept;

void sleep_ms(std::uint32_t milliseconds) noexcept;
// Test-only switch: while set, sleep_ms returns at once (fault sweeps repeat whole
// sequences hundreds of times; their waits prove nothing).
void test_skip_sleeps(bool skip) noexcept;

// The separator a folder path gets appended: '\\' on Windows, '/' elsewhere.
char path_separator() noexcept;

// Deletes a regular file; true when no file is at the path afterwards (also when
// none was). A path that names a folder, a device, a pipe or anything else but a
// regular file is left alone and gives false, so an output path can never
// destroy what it names.
bool remove_file(const char* path) noexcept;

// Size of an open file from its status information; false when unavailable.
bool file_status_size(std::FILE* f, std::uint64_t* size) noexcept;

// Size of an open file by seeking to its end (the position is left there). On
// POSIX systems only a regular file is measured: a folder, which opens for
// reading there, gives false.
bool file_end_size(std::FILE* f, std::uint64_t* size) noexcept;

// 64-bit seek from the start of the file.
bool seek_to(std::FILE* f, std::uint64_t offset) noexcept;

// Broken-down local time; false when the clock cannot be converted.
bool local_time(std::time_t when, std::tm* out) noexcept;

// True when the stream is an interactive terminal (progress lines go only there).
bool is_terminal(std::FILE* stream) noexcept;

// Creates a folder; true when it exists afterwards.
bool make_directory(const char* path) noexcept;

// Full path of the running executable into `out` (NUL-terminated); its length, or 0.
std::size_t executable_path(char* out, std::size_t capacity) noexcept;

// File name of a shared library called `base` on this system ("base.dll" or
// "libbase.so") into `out`; false when it does not fit.
bool shared_library_name(const char* base, char* out, std::size_t capacity) noexcept;

// Called once when the library is unloaded or the process ends; defined by the
// library's entry layer.
void on_library_unload() noexcept;

}  // namespace tvx::platform
