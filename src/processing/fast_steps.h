// The fast paths of the processing steps (SSE2 builds). Each gives exactly the
// pixels of the plain step it stands for. The driver runs the block steps in
// place on views into the image, so the block steps take a row stride; they
// also rely on the driver's check that the block holds 12-bit values only
// (the steps keep it so).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/simd.h"
#include "processing/steps.h"

#if TVX_SSE2
namespace tvx::processing::fast {

// A block inside a wider image: `height` rows of `width` pixels, `stride` words apart.
struct BlockView {
    std::uint16_t* data;
    std::uint32_t width;
    std::uint32_t height;
    std::size_t stride;

    std::uint16_t* row(std::uint32_t y) const noexcept { return data + static_cast<std::size_t>(y) * stride; }
};

inline BlockView whole(ImageView v) noexcept { return {v.data, v.width, v.height, v.width}; }

// Typed slices of one block of work memory, each rounded up to 16 bytes. The
// steps take their work this way so that the driver can take it once per run,
// before any block is changed.
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

// Bytes of work memory each block step needs.
std::size_t noise_work(std::uint32_t width) noexcept;
std::size_t joint_work(std::uint32_t width, std::uint32_t height, const JointSmoothingParams& p) noexcept;
std::size_t contrast_work(std::uint32_t width, std::uint32_t height) noexcept;

// True when no pixel of the block exceeds 4095.
bool twelve_bit(BlockView block) noexcept;

// Step 7: any 16-bit values, or (faster) a block known to hold 12-bit values.
void remove_noise(BlockView block, void* work, bool twelve_bit) noexcept;

// Step 8. The fast path reads the ambient brightness of each joint as it goes,
// which needs the rows one joint reads to lie outside the band the other joint
// changes; and row progress (check_state) is printed by the plain step only.
bool joint_smoothing_applies(const JointSmoothingParams& p, std::uint32_t rows, const diag::Trace& trace) noexcept;
// 0 or 3 (sensor flag neither 0 nor 1).
std::int32_t smooth_joint_brightness(BlockView block, const JointSmoothingParams& p, const diag::Trace& trace,
                                     void* work) noexcept;

// Steps 9 and 11 on a 12-bit block.
void correct_brightness_scale(std::uint8_t selector, BlockView block, double many_side, double few_side,
                              const diag::Trace& trace) noexcept;

// Step 10 on a 12-bit block.
void emphasise_contrast(BlockView block, double sigma_factor, std::uint16_t smooth_range, const diag::Trace& trace,
                        void* work) noexcept;

// The moving average of step 10, two outputs at a time, each sum in the plain order.
void moving_average(const double* values, double* out, std::int32_t n, std::int32_t half) noexcept;

}  // namespace tvx::processing::fast
#endif
