// A link library without Ether232Check, which the library must refuse to bind.
#include "tavirex_link.h"

extern "C" {
TAVIREX_LINK_EXPORT int32_t EtherInit(const char*, uint32_t, uint32_t) { return 0; }
TAVIREX_LINK_EXPORT int32_t EtherComm(uint32_t, uint32_t, uint32_t, void*) { return 0; }
TAVIREX_LINK_EXPORT int32_t Ether232Send(const uint8_t*, uint32_t) { return 0; }
TAVIREX_LINK_EXPORT int32_t Ether232Recv(uint8_t*) { return 0; }
}
