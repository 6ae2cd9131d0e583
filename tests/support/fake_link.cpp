#include "support/fake_link.h"

#include <cstring>

#include "link/link.h"

namespace tvxtest {

FakeLink* FakeLink::current = nullptr;

namespace {

int g_module_token;

int32_t fake_init(const char*, uint32_t, uint32_t) {
    ++FakeLink::current->init_calls;
    return FakeLink::current->init_result;
}

int32_t fake_comm(uint32_t command, uint32_t address, uint32_t count, void* buffer) {
    FakeLink& f = *FakeLink::current;
    LinkCall call{command, address, count, {}};
    if (command == 514) {
        f.calls.push_back(call);
        return f.on_read(address, count, static_cast<std::uint8_t*>(buffer));
    }
    if (buffer != nullptr && count != 0) {
        const auto* b = static_cast<const std::uint8_t*>(buffer);
        call.data.assign(b, b + count);
    }
    f.calls.push_back(call);
    return f.on_command(f.calls.back());
}

int32_t fake_send(const uint8_t*, uint32_t) { return 0; }
int32_t fake_recv(uint8_t*) { return 0; }
int32_t fake_check() { return 0; }

}  // namespace

FakeLink::FakeLink() {
    current = this;
    status(0x0001);
    on_command = [](const LinkCall&) { return 0; };
    tvx::link::Link = tvx::link::LinkState{&g_module_token, 0, fake_init, fake_comm, fake_send, fake_recv, fake_check};
}

FakeLink::~FakeLink() {
    tvx::link::Link = tvx::link::LinkState{};
    current = nullptr;
}

void FakeLink::status(std::uint16_t value) {
    on_read = [value](std::uint32_t address, std::uint32_t count, std::uint8_t* into) {
        std::memset(into, 0, count);
        if (address == 0x27F00002 && count >= 2) {
            into[0] = static_cast<std::uint8_t>(value & 0xFF);
            into[1] = static_cast<std::uint8_t>(value >> 8);
        }
        return static_cast<std::int32_t>(count);
    };
}

std::vector<LinkCall> FakeLink::of(std::uint32_t command) const {
    std::vector<LinkCall> out;
    for (const auto& c : calls)
        if (c.command == command) out.push_back(c);
    return out;
}

std::vector<std::pair<std::uint32_t, std::uint16_t>> FakeLink::writes() const {
    std::vector<std::pair<std::uint32_t, std::uint16_t>> out;
    for (const auto& c : calls)
        if (c.command == 513 && c.count == 2) out.emplace_back(c.address, c.value());
    return out;
}

}  // namespace tvxtest
