#include "state/context.h"

#include <cstring>

#include "core/alloc.h"

namespace tvx {

DeviceContext Device{};
DebugFlagSet DebugFlags{};
SeparatorLines SeparatorLineList{};
char ConfigPath[kConfigPathSize]{};
std::uint32_t SerialPassThrough = 1;
std::uint8_t SerialReplyBuffer[kSerialReplySize]{};
std::uint16_t* PassTable = nullptr;
float* SpeedProfile = nullptr;
std::uint32_t PassCount = 0;
std::uint32_t PictureStage = kPictureNone;
std::uint32_t ReadSegments = 0;
std::uint32_t TomoImageActive = 0;
std::uint32_t ModuleBooted[2]{};
TomoContext Tomo{};
char TomoConfigPath[kConfigPathSize]{};
std::uint16_t ExposeToDarkWait = 0;
std::uint16_t DarkToExposeWait = 0;
std::uint32_t CurrentModule = 0;

std::uint16_t* ClockTableStorage = nullptr;
std::uint16_t* ImageBufferStorage = nullptr;
std::size_t ImageBufferStorageBytes = 0;

namespace {

// Both records start with the same five switches.
template <typename Record>
void copy_debug_flags(const Record& record) noexcept {
    DebugFlags.DebugProcess = record.DebugProcess;
    DebugFlags.DebugParam = record.DebugParam;
    DebugFlags.DebugCheckState = record.DebugCheckState;
    DebugFlags.DebugDebug4 = record.DebugDebug4;
    DebugFlags.DebugOutput = record.DebugOutput;
}

}  // namespace

void take_debug_flags(const DeviceContext& record) noexcept { copy_debug_flags(record); }

void take_debug_flags(const TomoContext& record) noexcept { copy_debug_flags(record); }

void release_tomo_frames(TomoContext& record) noexcept {
    for (std::uint16_t*& frame : record.FrameList) {
        core::release(frame);
        frame = nullptr;
    }
    record.FrameStrips = 0;
    // The image only ever points into a frame; it owns nothing of its own.
    record.Image = nullptr;
}

void release_picture_blocks() noexcept {
    core::release(ClockTableStorage);
    core::release(PassTable);
    core::release(SpeedProfile);
    core::release(ImageBufferStorage);
    ClockTableStorage = nullptr;
    PassTable = nullptr;
    SpeedProfile = nullptr;
    ImageBufferStorage = nullptr;
    ImageBufferStorageBytes = 0;
    Device.ClockTable = nullptr;
    Device.ImageBuffer = nullptr;
}

bool keep_config_path(const char* path, char (&into)[kConfigPathSize]) noexcept {
    if (path == nullptr) return false;
    const std::size_t length = std::strlen(path);
    if (length >= kConfigPathSize) return false;
    std::memcpy(into, path, length + 1);
    return true;
}

}  // namespace tvx
