// The boot program reader, behind a stand-in link that takes every command and
// reads each byte of the program it is given.
#include <cstring>

#include "device/boot.h"
#include "fuzz_file.h"
#include "link/link.h"
#include "state/context.h"

namespace {

std::size_t expected_size = 0;

std::int32_t take_init(const char*, std::uint32_t, std::uint32_t) { return 0; }

std::int32_t take_comm(std::uint32_t command, std::uint32_t, std::uint32_t count, void* buffer) {
    if (command == TAVIREX_LINK_BOOT_PROGRAM) {
        // The whole program and nothing more.
        if (count != expected_size) __builtin_trap();
        volatile std::uint8_t sum = 0;
        for (std::uint32_t i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t*>(buffer)[i]);
    }
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = tvx_fuzz::temp_path(".bin");
    if (!tvx_fuzz::write_file(path, data, size)) return 0;
    expected_size = size;

    static int stand_in = 0;
    tvx::link::Link.LinkModule = reinterpret_cast<tvx::platform::LibraryHandle>(&stand_in);
    tvx::link::Link.EtherReady = 1;
    tvx::link::Link.EtherInit = take_init;
    tvx::link::Link.EtherComm = take_comm;
    tvx::ModuleBooted[0] = 0;

    static tvx::DeviceContext record{};
    std::memcpy(record.BootPath, path.c_str(), path.size() + 1);
    record.BootLoad = 1;
    tvx::device::open_and_boot(record, 0);
    return 0;
}
