// The library's one allocation function. Every heap block of the library is
// taken here, so tests can make the Nth allocation fail and check that each
// failure path returns its code, leaks nothing and leaves outputs as they were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace tvx::core {

// Returns nullptr on failure (never throws). Zero bytes still gives a valid block.
void* allocate(std::size_t bytes) noexcept;
void release(void* block) noexcept;

// Test-only switch: the Nth allocation from now (1-based) fails, and so does every
// later one while `sticky` is set. 0 switches failures off.
void test_fail_allocation(std::uint64_t nth, bool sticky = false) noexcept;
// Allocations made since the last test_fail_allocation call.
std::uint64_t test_allocation_count() noexcept;
// Blocks currently held (allocations minus releases), for leak checks in tests.
std::int64_t test_blocks_held() noexcept;
// The largest byte count asked for since the last test_fail_allocation call, so a
// test can show that a refused input never led to a large request.
std::size_t test_largest_request() noexcept;
// The most bytes held at once since test_reset_peak_bytes, beyond those held at
// the reset: the peak memory of a call. Counted only in the benchmark
// build (TAVIREX_MEMORY_PEAK); 0 elsewhere.
void test_reset_peak_bytes() noexcept;
std::size_t test_peak_bytes() noexcept;

// Owning buffer of `count` elements of a trivially copyable type. Empty after a
// failed allocation; the caller tests `ok()` and returns its result code.
template <typename T>
class Buffer {
public:
    Buffer() noexcept = default;
    explicit Buffer(std::size_t count) noexcept { reset(count); }
    ~Buffer() { release(data_); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    Buffer(Buffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), count_(std::exchange(other.count_, 0)) {}
    Buffer& operator=(Buffer&& other) noexcept {
        if (this != &other) {
            release(data_);
            data_ = std::exchange(other.data_, nullptr);
            count_ = std::exchange(other.count_, 0);
        }
        return *this;
    }

    // Replaces the contents with `count` uninitialised elements; false on failure.
    bool reset(std::size_t count) noexcept {
        release(data_);
        data_ = nullptr;
        count_ = 0;
        if (count > SIZE_MAX / sizeof(T)) return false;
        data_ = static_cast<T*>(allocate(count * sizeof(T)));
        if (data_ == nullptr) return false;
        count_ = count;
        return true;
    }

    bool ok() const noexcept { return data_ != nullptr; }
    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return count_; }
    std::size_t bytes() const noexcept { return count_ * sizeof(T); }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }
    T* begin() noexcept { return data_; }
    T* end() noexcept { return data_ + count_; }

private:
    T* data_ = nullptr;
    std::size_t count_ = 0;
};

// Typed slices of one block of work memory (a Buffer), each rounded up to 16
// bytes. A step that needs several work arrays sums their `bytes` and takes them
// from one block, so the caller can take all the work memory before anything
// changes and the step itself can no longer fail for memory.
class Carve {
public:
    explicit Carve(void* base) noexcept : at_(static_cast<unsigned char*>(base)) {}
    static constexpr std::size_t round(std::size_t bytes) noexcept { return (bytes + 15) & ~std::size_t{15}; }
    template <typename T>
    static constexpr std::size_t bytes(std::size_t count) noexcept { return round(count * sizeof(T)); }
    template <typename T>
    T* take(std::size_t count) noexcept {
        T* p = reinterpret_cast<T*>(at_);
        at_ += bytes<T>(count);
        return p;
    }

private:
    unsigned char* at_;
};

}  // namespace tvx::core
