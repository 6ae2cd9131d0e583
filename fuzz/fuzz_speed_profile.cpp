// The speed profile reader and the line clock table built from what it reads.
#include "device/line_clock.h"
#include "fuzz_file.h"

#include <vector>

using namespace tvx::device;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = tvx_fuzz::temp_path(".txt");
    // The first bytes choose the scan as the picture set-up would (passes 1..4
    // panoramic, or cephalometric), the rest is the profile.
    if (size < 4) return 0;
    const bool ceph = data[0] % 5 == 4;
    const std::uint32_t passes = ceph ? 1 : 1 + data[0] % 5;
    const std::uint32_t code = ceph ? tvx::core::kClockCodeCeph : passes - 1;
    const std::uint32_t lines = ceph ? tvx::core::kCephLines : tvx::core::kPanoLines;
    const std::uint16_t interval = static_cast<std::uint16_t>(data[1] | (data[2] & 0x0F) << 8);
    const std::uint16_t lag = static_cast<std::uint16_t>(data[3] * 8);
    if (!tvx_fuzz::write_file(path, data + 4, size - 4)) return 0;

    static float speeds[kMaxSpeedSamples];
    std::size_t n = 0;
    if (read_speed_profile(path.c_str(), speeds, kMaxSpeedSamples, &n) != 0) return 0;
    if (n > kMaxSpeedSamples) __builtin_trap();
    std::vector<std::uint16_t> table(lines), pass_table(lines);
    std::uint16_t start[4] = {}, width[4] = {};
    build_clock_table(code, passes, speeds, n, interval, lag, table.data(), lines, pass_table.data(), start, width);
    return 0;
}
