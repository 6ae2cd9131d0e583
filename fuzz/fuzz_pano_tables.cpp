// The shading calibration file and the line table, read by their panoramic
// processing steps on a small image.
#include "fuzz_file.h"
#include "processing/steps.h"

#include <vector>

using tvx::core::ImageView;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = tvx_fuzz::temp_path(".cal");
    // Byte 0: which reader and the image height; byte 1: the width; the rest is the file.
    if (size < 2) return 0;
    const unsigned which = data[0] % 3;
    const std::uint32_t width = 1 + data[1] % 16;
    const std::uint32_t height = which == 0 ? 1 + (data[0] >> 2) % 4 : 1 + (data[0] >> 2) * 48;
    if (!tvx_fuzz::write_file(path, data + 2, size - 2)) return 0;

    std::vector<std::uint16_t> pixels(static_cast<std::size_t>(width) * height);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint16_t>(i * 2654435761u);
    const ImageView image{pixels.data(), width, height};
    if (which == 0)
        tvx::processing::correct_shading(image, path.c_str());
    else
        tvx::processing::correct_injection_lines(image, path.c_str(), which == 1);
    return 0;
}
