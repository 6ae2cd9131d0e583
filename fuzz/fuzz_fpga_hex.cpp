// The Intel HEX reader of the FPGA configuration: sized first, then filled.
#include "device/fpga.h"
#include "fuzz_file.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = tvx_fuzz::temp_path(".hex");
    if (!tvx_fuzz::write_file(path, data, size)) return 0;
    std::size_t counted = 0;
    if (tvx::device::read_fpga_hex(path.c_str(), nullptr, 0, &counted) != 0) return 0;
    if (counted > (1u << 20)) return 0;
    std::vector<std::uint8_t> out(counted);
    std::size_t filled = 0;
    tvx::device::read_fpga_hex(path.c_str(), out.data(), out.size(), &filled);
    // A short capacity must never be overrun.
    std::vector<std::uint8_t> small(counted / 2);
    tvx::device::read_fpga_hex(path.c_str(), small.data(), small.size(), &filled);
    return 0;
}
