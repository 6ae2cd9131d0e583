// The speed profile reader through Tavirex_SetParamforPictEx(_Ceph): the export
// reads the profile and builds the line clock table before it needs the link,
// so no link is loaded and the set-up stops at its first register write.
#include "fuzz_file.h"
#include "tavirex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = tvx_fuzz::temp_path(".txt");
    static const bool configured = Tavirex_Init(TAVIREX_FUZZ_DATA "/tavirex-pano.ini", 0) == 0;
    if (!configured) __builtin_trap();
    // Byte 0: the export and the pass count (0 and 5 refused); bytes 1-2: the
    // sample interval in ms; byte 3: the time lag; the rest is the profile.
    if (size < 4) return 0;
    const std::uint32_t passes = data[0] % 6;
    const std::uint32_t interval = data[1] | (data[2] & 0x0F) << 8;
    const std::uint32_t lag = data[3] * 8u;
    if (!tvx_fuzz::write_file(path, data + 4, size - 4)) return 0;
    if ((data[0] & 0x80) != 0)
        Tavirex_SetParamforPictEx_Ceph(path.c_str(), passes, interval, lag);
    else
        Tavirex_SetParamforPictEx(path.c_str(), passes, interval, lag);
    return 0;
}
