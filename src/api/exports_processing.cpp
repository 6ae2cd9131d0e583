// Panoramic and cephalometric processing exports.
#include "processing/pipeline.h"
#include "tavirex.h"

extern "C" {

TAVIREX_API int32_t TAVIREX_CALL Tavirex_ImageProcessingEx(const char* outputPath, uint32_t* width,
                                                           uint32_t* height) {
    return tvx::processing::process_export(outputPath, width, height, false);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_ImageProcessingEx2(const char* outputPath, uint32_t* width,
                                                            uint32_t* height) {
    return tvx::processing::process_export(outputPath, width, height, true);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_ImageProcessingExDummy(const char* inputPath, const char* outputPath,
                                                                uint32_t* width, uint32_t* height) {
    return tvx::processing::dummy_export(inputPath, outputPath, width, height);
}

}  // extern "C"
