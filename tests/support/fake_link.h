// An in-process stand-in for the link library: installs its entry points into
// the library's binding, records every call and answers from a script. Unit
// tests of the device layer use it to check register traffic exactly.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tvxtest {

struct LinkCall {
    std::uint32_t command;
    std::uint32_t address;
    std::uint32_t count;
    std::vector<std::uint8_t> data;  // bytes written (command 513, 1, 512)

    // The 16-bit value of a register write.
    std::uint16_t value() const { return data.size() >= 2 ? static_cast<std::uint16_t>(data[0] | (data[1] << 8)) : 0; }
};

class FakeLink {
public:
    // Installs the fake as the loaded link library; uninstalls at destruction.
    FakeLink();
    ~FakeLink();
    FakeLink(const FakeLink&) = delete;
    FakeLink& operator=(const FakeLink&) = delete;

    std::vector<LinkCall> calls;
    std::int32_t init_result = 0;
    int init_calls = 0;

    // Answers a read (command 514): fill `into` with `count` bytes and return the byte count.
    // Default: status register reads 0x0001, anything else zeros.
    std::function<std::int32_t(std::uint32_t address, std::uint32_t count, std::uint8_t* into)> on_read;
    // Answers every other command; default 0.
    std::function<std::int32_t(const LinkCall&)> on_command;

    // Sets the status register value that every status read returns.
    void status(std::uint16_t value);

    // Calls of one command, in order.
    std::vector<LinkCall> of(std::uint32_t command) const;
    // Register writes as (address, value) pairs, in order.
    std::vector<std::pair<std::uint32_t, std::uint16_t>> writes() const;

    static FakeLink* current;
};

}  // namespace tvxtest
