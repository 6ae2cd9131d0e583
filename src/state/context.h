// The module-wide globals: the device record in use, the DEBUG switches, the
// separator list, the configuration path and the picture blocks. All are static,
// live as long as the library is loaded, and are read and written only by the
// exports, the pipeline drivers, the device sequences and the configuration readers.
// Every module-wide variable of the library, here or file-local, is named in
// PascalCase like a record field (Device, Window, FailAt).
#pragma once

#include <cstddef>
#include <cstdint>

#include "state/records.h"

namespace tvx {

// Capacity of the configuration path copy. Longer paths are refused rather than cut,
// so that later reads never go to a different file than the host named.
constexpr std::size_t kConfigPathSize = 4096;
constexpr std::size_t kSerialReplySize = 1024;

// Sizes of the four picture blocks in bytes.
constexpr std::size_t kClockTableBytesPano = 8192;
constexpr std::size_t kClockTableBytesCeph = 7000;
constexpr std::size_t kSpeedProfileBytes = 12000;  // 3000 single-precision samples
constexpr std::size_t kImageBufferBytesPano = 12582912;
constexpr std::size_t kImageBufferBytesCeph = 16128000;

extern DeviceContext Device;
extern DebugFlagSet DebugFlags;
extern SeparatorLines SeparatorLineList;
extern char ConfigPath[kConfigPathSize];
extern std::uint32_t SerialPassThrough;
extern std::uint8_t SerialReplyBuffer[kSerialReplySize];
// The four picture blocks. The record's ClockTable and ImageBuffer point at the
// two storage blocks after a picture set-up; Tavirex_Init clears the record but
// the blocks stay allocated until the next set-up or unload.
extern std::uint16_t* ClockTableStorage;
extern std::uint16_t* ImageBufferStorage;
// Size in bytes of the block behind ImageBufferStorage (0 while none is held); the
// readout refuses an image that would not fit it.
extern std::size_t ImageBufferStorageBytes;
extern std::uint16_t* PassTable;
extern float* SpeedProfile;
extern std::uint32_t PassCount;
// Where the picture of the last set-up stands. Tavirex_Init and a set-up that
// fails leave kPictureNone, a set-up that succeeds kPictureSetUp, a readout after
// it kPictureReadOut. The processing exports work only on a picture read out.
constexpr std::uint32_t kPictureNone = 0;
constexpr std::uint32_t kPictureSetUp = 1;
constexpr std::uint32_t kPictureReadOut = 2;
extern std::uint32_t PictureStage;
extern std::uint32_t ReadSegments;
extern std::uint32_t TomoImageActive;
// The tomographic record, its configuration path and the two waits between
// exposure and dark pictures, in milliseconds; filled by Tavirex_Init_Tomo.
extern TomoContext Tomo;
extern char TomoConfigPath[kConfigPathSize];
extern std::uint16_t ExposeToDarkWait;
extern std::uint16_t DarkToExposeWait;
extern std::uint32_t ModuleBooted[2];

// Copies a host's configuration path whole into `into`; false (nothing copied)
// for a null path or one of kConfigPathSize characters or more, which would not
// fit and must not be cut.
bool keep_config_path(const char* path, char (&into)[kConfigPathSize]) noexcept;
extern std::uint32_t CurrentModule;

// Copies the DEBUG switches of the record into DebugFlags.
void take_debug_flags(const DeviceContext& record) noexcept;
void take_debug_flags(const TomoContext& record) noexcept;

// Releases every frame buffer of the record's frame list and empties its entries
// and its image pointer.
void release_tomo_frames(TomoContext& record) noexcept;

// Releases the four picture blocks and sets each pointer, and the record's two, back to null.
void release_picture_blocks() noexcept;

}  // namespace tvx
