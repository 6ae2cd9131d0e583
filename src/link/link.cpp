#include "link/link.h"
#include "tavirex.h"

#include <cstdio>

namespace tvx::link {

LinkState Link{};

namespace {
template <typename Fn>
bool bind(platform::LibraryHandle lib, const char* name, Fn* out) {
    void* sym = platform::find_symbol(lib, name);
    // Function and object pointers have the same size on every supported platform.
    *out = reinterpret_cast<Fn>(sym);
    return sym != nullptr;
}
}  // namespace

std::int32_t load(const char* path, bool trace) noexcept {
    unload();
    platform::LibraryHandle lib = platform::load_library(path);
    LinkState next{};
    next.LinkModule = lib;
    const bool complete = lib != nullptr && bind(lib, "EtherInit", &next.EtherInit) &&
                          bind(lib, "EtherComm", &next.EtherComm) && bind(lib, "Ether232Send", &next.Ether232Send) &&
                          bind(lib, "Ether232Recv", &next.Ether232Recv) &&
                          bind(lib, "Ether232Check", &next.Ether232Check);
    if (!complete) {
        platform::unload_library(lib);
        if (trace) std::fputs("Cannot load dll\n", stderr);
        return TAVIREX_E_LINK_LIBRARY;
    }
    Link = next;
    return TAVIREX_OK;
}

void unload() noexcept {
    platform::unload_library(Link.LinkModule);
    Link = LinkState{};
}

bool loaded() noexcept { return Link.LinkModule != nullptr; }

}  // namespace tvx::link
