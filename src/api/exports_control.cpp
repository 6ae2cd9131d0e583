// Panoramic and cephalometric control exports: argument checks, then the
// device layer. No exception leaves these functions (the code below throws none).
#include <cstdio>
#include <cstring>

#include "state/context.h"
#include "config/device_config.h"
#include "device/boot.h"
#include "link/link.h"
#include "output/window.h"
#include "tavirex.h"

using namespace tvx;

extern "C" {

TAVIREX_API int32_t TAVIREX_CALL Tavirex_Init(const char* configPath, uint32_t serialMode) {
    if (!keep_config_path(configPath, ConfigPath)) return TAVIREX_E_RANGE;
    SerialPassThrough = serialMode;
    config::read_init_keys(Device, configPath);
    TomoImageActive = 0;
    PictureStage = kPictureNone;
    const config::InitialWindow window = config::read_initial_window(configPath);
    Tavirex_SetWindowPos(window.Center, window.Width);
    return TAVIREX_OK;
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetCommInit(void) { return Tavirex_SetCommInit2(0); }

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetCommInit2(uint32_t moduleIndex) {
    return device::comm_init(Device, moduleIndex);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetDeviceFree(void) noexcept {
    link::unload();
    return TAVIREX_OK;
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_Ether232Send(const uint8_t* data, uint32_t length) {
    if (SerialPassThrough != 0) {
        if (!link::loaded()) return TAVIREX_E_LINK_LIBRARY;
        if (data == nullptr && length != 0) return TAVIREX_E_RANGE;
        const int32_t sent = link::Link.Ether232Send(data, length);
        if (sent != 0) return sent;
        int32_t pending;
        do {
            pending = link::Link.Ether232Check();
        } while (pending > 0);
        return pending;
    }
    // Simulated unit: a complete STX..ETX frame is acknowledged with ACK.
    const uint16_t frame = static_cast<uint16_t>(length & 0xFFFF);
    if (data != nullptr && frame >= 1 && data[0] == 0x02 && data[frame - 1] == 0x03) {
        std::memset(SerialReplyBuffer, 0, sizeof SerialReplyBuffer);
        SerialReplyBuffer[0] = 0x06;
    }
    return TAVIREX_OK;
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_Ether232Recv(uint8_t* buffer) {
    if (buffer == nullptr) return TAVIREX_E_RANGE;
    if (SerialPassThrough != 0) {
        if (!link::loaded()) return TAVIREX_E_LINK_LIBRARY;
        const int32_t n = link::Link.Ether232Recv(buffer);
        buffer[n >= 0 ? n : 0] = 0;
        return n;
    }
    // The reply buffer always holds a terminator within its 1024 bytes.
    SerialReplyBuffer[kSerialReplySize - 1] = 0;
    const std::size_t n = std::strlen(reinterpret_cast<const char*>(SerialReplyBuffer));
    std::memcpy(buffer, SerialReplyBuffer, n + 1);
    std::memset(SerialReplyBuffer, 0, sizeof SerialReplyBuffer);
    return static_cast<int32_t>(n);
}

TAVIREX_API int32_t TAVIREX_CALL Tavirex_GetInfoData(const char* source, char* name, int32_t* value1,
                                                     int32_t* value2, int32_t* value3, int32_t* value4,
                                                     int32_t* value5, int32_t* value6) {
    int32_t* values[6] = {value1, value2, value3, value4, value5, value6};
    if (name == nullptr) return TAVIREX_E_RANGE;
    for (int32_t* v : values)
        if (v == nullptr) return TAVIREX_E_RANGE;
    name[0] = '\0';
    for (int32_t* v : values) *v = 0;
    if (source == nullptr) return TAVIREX_OK;
    long parsed[6] = {0, 0, 0, 0, 0, 0};
    // The name is bounded to 255 characters and the terminator.
    (void)std::sscanf(source, "%255s %ld %ld %ld %ld %ld %ld", name, &parsed[0], &parsed[1], &parsed[2],
                      &parsed[3], &parsed[4], &parsed[5]);
    for (int i = 0; i < 6; ++i) *values[i] = static_cast<int32_t>(parsed[i]);
    return TAVIREX_OK;
}

}  // extern "C"

// The tomographic side releases the link through the very same function.
extern "C" TAVIREX_API int32_t TAVIREX_CALL Tavirex_SetDeviceFree_Tomo(void) noexcept
    __attribute__((alias("Tavirex_SetDeviceFree")));
