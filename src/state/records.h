// The device record shared by the panoramic and cephalometric exports and the
// plain records the steps exchange with their drivers. The instances live in
// state/context.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvx {

// Analogue front-end settings of one converter.
struct AdSetGroup {
    std::uint8_t Action[6];
    std::uint16_t VgaGain;
    std::uint16_t ClampLevel;
    std::uint8_t Control[10];
    std::uint16_t PxgaGain;
};

// Order of the switches in DeviceContext::ProcessFlags.
enum ProcessFlag : std::size_t {
    kDelDc = 0,
    kDelShadw,
    kCorrInjLine,
    kPxImg,
    kFillOpening,
    kCorrImgSize,
    kDelNoise,
    kBriSmooth,
    kBriSmoothPano,
    kBriSmoothCeph,
    kCorrBriScale,
    kEmphasisContrast,
    kSecondCorrBriScale,
    kGammaCorrForCephalo,
    kProcessFlagCount
};

// Order of the values in DeviceContext::XyCorr.
enum XyCorrIndex : std::size_t {
    kXPos = 0,
    kXPos2,
    kYPos,
    kYPos2,
    kUpperYPos,
    kUpperYPos2,
    kCcdGap,
    kCcdGap2,
    kLowerCut01,
    kLowerCut02,
    kUpperCut01,
    kUpperCut02,
    kXyCorrCount
};

constexpr std::size_t kPathSize = 512;
constexpr std::size_t kIpAddressSize = 32;

struct DeviceContext {
    std::uint8_t DebugProcess;
    std::uint8_t DebugParam;
    std::uint8_t DebugCheckState;
    std::uint8_t DebugDebug4;
    std::uint8_t DebugOutput;
    char LinkLibraryPath[kPathSize];
    char FpgaPath[kPathSize];
    char BootPath[kPathSize];
    std::uint8_t FpgaLoad;
    std::uint8_t BootLoad;
    std::uint16_t* ImageBuffer;
    std::uint16_t ImageWidth;
    std::uint16_t ImageHeight;
    char IpAddress[kIpAddressSize];
    std::uint32_t LanTimeout;
    std::uint8_t LanRetry;
    std::uint8_t CephMode;
    std::uint8_t ClockMode;
    std::uint8_t StartSignal;
    std::uint8_t PictPattern;
    std::uint8_t SegmentCount;
    std::uint16_t InitValue;
    AdSetGroup AdSet[3];
    std::uint16_t* ClockTable;
    std::uint16_t ClockTableLength;
    std::uint8_t ProcessFlags[kProcessFlagCount];
    char CalibDataPath[kPathSize];
    char CorrLineDataPath[kPathSize];
    std::uint16_t XyCorr[kXyCorrCount];
    std::uint16_t DefaultOffset;
    std::uint16_t SideCutWidth;
    std::uint16_t SegmentStart[4];
    std::uint16_t SegmentWidth[4];
    std::uint16_t AveRange;
    std::uint16_t AveRangeLow;
    std::uint16_t ChgSumRange;
    double ManySideCutRatio;
    double FewSideCutRatio;
    std::uint8_t SecondBriScaleSelect;
    double SimaRange;
    std::uint16_t SmoothRange;
};

// Copies of the five DEBUG switches of the record in use; diagnostics test these.
struct DebugFlagSet {
    std::uint8_t DebugProcess;
    std::uint8_t DebugParam;
    std::uint8_t DebugCheckState;
    std::uint8_t DebugDebug4;
    std::uint8_t DebugOutput;
};

// Separator bands between pass images: written by the processing exports, read by the bitmap writers.
struct SeparatorLines {
    std::uint32_t Width;             // band width in columns (4 x "PictLineNum")
    std::uint32_t Color;             // 1 = black, anything else white
    std::uint32_t Count;             // listed positions, 0..10
    std::uint32_t Position[10];      // first column of each band
};

}  // namespace tvx
