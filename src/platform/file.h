// The one holder of an open file, and the one way an output file is written.
// This header needs only the C library: the simulated module uses File too,
// without linking the library (it never writes an OutputFile).
#pragma once

#include <cstdio>

namespace tvx::platform {

// Owns an open FILE*: closed when the holder goes, on every path. Move-only.
class File {
public:
    File() noexcept = default;
    explicit File(std::FILE* f) noexcept : f_(f) {}
    File(File&& other) noexcept : f_(other.f_) { other.f_ = nullptr; }
    File& operator=(File&& other) noexcept {
        if (this != &other) {
            (void)close();
            f_ = other.f_;
            other.f_ = nullptr;
        }
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() { (void)close(); }

    // fopen with the narrow path as given (the ANSI code page on Windows); an
    // empty holder when the path is null or the file does not open.
    static File open(const char* path, const char* mode) noexcept {
        return File(path == nullptr ? nullptr : std::fopen(path, mode));
    }

    std::FILE* get() const noexcept { return f_; }
    explicit operator bool() const noexcept { return f_ != nullptr; }

    // Closes now; false when the buffered data could not be written out or the
    // close failed (a writer reports that as a failed write). True for an
    // empty holder.
    bool close() noexcept {
        std::FILE* f = f_;
        f_ = nullptr;
        return f == nullptr || std::fclose(f) == 0;
    }

private:
    std::FILE* f_ = nullptr;
};

// An output file under the library's replace rule: whatever regular file is at
// the path is deleted before the new one is created, and the new one is deleted
// again unless finish() saw it written whole and closed, so a failed write never
// leaves a partial file (nor an earlier file of the same name). A path that is
// null, empty or names anything but a regular file opens nothing.
class OutputFile {
public:
    explicit OutputFile(const char* path) noexcept;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { (void)finish(false); }

    std::FILE* get() const noexcept { return file_.get(); }
    explicit operator bool() const noexcept { return static_cast<bool>(file_); }

    // Closes the file: it stays when `written` is true and the close succeeds,
    // and is deleted otherwise. True when it stays.
    bool finish(bool written) noexcept;

private:
    const char* path_;
    File file_;
};

}  // namespace tvx::platform
