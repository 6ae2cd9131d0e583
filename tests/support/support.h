// Helpers shared by the unit and system tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tvxtest {

// A fresh folder under the system's temporary folder, removed with its files at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // Path of a file inside the folder.
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);
std::string read_file(const std::string& path);
// A text file the library wrote in text mode (logs, dumps): on Windows its line
// ends are CR LF on disk; this gives them back as LF so one expectation serves both.
std::string read_text_file(const std::string& path);

// Puts the library back into its load-time state: link unloaded, picture
// blocks released, globals cleared, allocation failures off.
void reset_library();

// Makes every allocation from the Nth on fail while alive; restores normal allocation at the end.
class FailAllocation {
public:
    explicit FailAllocation(std::uint64_t nth, bool sticky = false);
    ~FailAllocation();
};

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

}  // namespace tvxtest
