// The tomographic gain and offset tables and the noise-row table, read by their
// correction steps on a small frame.
#include "fuzz_file.h"
#include "core/simd.h"
#include "tomo_processing/corrections.h"

#include <vector>

using tvx::tomo::TomoFrame;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The tables are "<folder>S1a.tbl", "<folder>S1b.tbl" and "<folder>S1.dat".
    static const std::string folder = tvx_fuzz::temp_path("-");
    static const std::string gain = folder + "S1a.tbl", offset = folder + "S1b.tbl", rows = folder + "S1.dat";
    // Byte 0: which reader and the strip count; bytes 1-2: block width and height;
    // byte 3: where the gain table ends and the offset table starts.
    if (size < 4) return 0;
    const bool noise = (data[0] & 1) != 0;
    const auto strips = static_cast<std::uint16_t>(1 + (data[0] >> 1) % 8);
    const auto width = static_cast<std::uint16_t>(1 + data[1] % 32);
    const auto height = static_cast<std::uint16_t>(1 + data[2] % 64);
    const std::uint8_t* body = data + 4;
    const std::size_t length = size - 4;
    if (noise) {
        if (!tvx_fuzz::write_file(rows, body, length)) return 0;
    } else {
        const std::size_t split = length == 0 ? 0 : static_cast<std::size_t>(data[3]) * length / 255;
        if (!tvx_fuzz::write_file(gain, body, split) || !tvx_fuzz::write_file(offset, body + split, length - split))
            return 0;
    }

    // Room for the strips and a copy of them, as after capture.
    std::vector<std::uint16_t> pixels(static_cast<std::size_t>(width) * height * strips * 2);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint16_t>((i * 2654435761u) & 8191);
    TomoFrame frame{pixels.data(), pixels.size(), width, height, strips, 13, 8191};
    if (noise)
        tvx::tomo::correct_noise_rows(frame, folder.c_str(), "S1");
    else {
        tvx::core::test_use_plain_paths((data[0] & 16) != 0);
        tvx::tomo::correct_sensitivity(frame, folder.c_str(), "S1");
        tvx::core::test_use_plain_paths(false);
    }
    return 0;
}
