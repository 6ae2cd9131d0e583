// The configuration (profile file) readers through Tavirex_Init and Tavirex_Init_Tomo.
#include "fuzz_file.h"
#include "tavirex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = tvx_fuzz::temp_path(".ini");
    if (!tvx_fuzz::write_file(path, data, size)) return 0;
    Tavirex_Init(path.c_str(), 0);
    Tavirex_Init_Tomo(path.c_str(), 0);
    return 0;
}
