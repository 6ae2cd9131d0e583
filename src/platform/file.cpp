#include "platform/file.h"

#include "platform/system.h"

namespace tvx::platform {

OutputFile::OutputFile(const char* path) noexcept : path_(path) {
    if (path != nullptr && path[0] != '\0' && remove_file(path)) file_ = File::open(path, "wb");
}

bool OutputFile::finish(bool written) noexcept {
    if (!file_) return false;  // never opened, or finished already
    // Closed first: a close that fails leaves data unwritten, so the file goes too.
    const bool closed = file_.close();
    if (written && closed) return true;
    remove_file(path_);
    return false;
}

}  // namespace tvx::platform
