// Binding of the link library (the LAN bridge to the sensor module).
#pragma once

#include <cstdint>

#include "platform/system.h"
#include "tavirex_link.h"

namespace tvx::link {

struct LinkState {
    platform::LibraryHandle LinkModule;
    std::uint32_t EtherReady;
    TavirexEtherInitFn EtherInit;
    TavirexEtherCommFn EtherComm;
    TavirexEther232SendFn Ether232Send;
    TavirexEther232RecvFn Ether232Recv;
    TavirexEther232CheckFn Ether232Check;
};

extern LinkState Link;

// Unloads any loaded link library, then loads `path` and binds the five entry
// points. 0, or 19 when the file does not load or lacks an entry point (with
// "Cannot load dll\n" on standard error when `trace` is set); nothing stays
// loaded after a failure.
std::int32_t load(const char* path, bool trace) noexcept;

// Releases the library and clears the binding and EtherReady. Harmless when nothing is loaded.
void unload() noexcept;

// True while a complete binding is loaded; exports that call the link check it first.
bool loaded() noexcept;

}  // namespace tvx::link
