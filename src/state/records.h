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

// Limits of the tomographic record.
constexpr std::size_t kTomoListSize = 56;        // frame list, exposure-time lists, cut lists
constexpr std::size_t kTomoFolderSize = 1024;    // reference folder and sensor identifier
constexpr std::size_t kTomoProcessFlagCount = 9;
constexpr std::size_t kTomoConfiguredCuts = 8;   // LEFTCUT0..7, RIGHTCUT0..7, UP_DOWN0..7

// Order of the switches in TomoContext::ProcessFlags.
enum TomoProcessFlag : std::size_t {
    kTomoDelDc = 0,
    kTomoCorrSens,
    kTomoCorrInjLine,
    kTomoPutImages,
    kTomoFillIn,
    kTomoCorrImgSize,
    kTomoDelNoise1,
    kTomoDelNoise2,
    kTomoCorrBriScale,
};

// The tomographic strip sensor's record: its configuration, read by
// Tavirex_Init_Tomo, and the acquisition state the capture and the pipeline keep.
struct TomoContext {
    std::uint8_t DebugProcess;
    std::uint8_t DebugParam;
    std::uint8_t DebugCheckState;
    std::uint8_t DebugDebug4;
    std::uint8_t DebugOutput;
    char FpgaPath[kPathSize];
    std::uint8_t FpgaLoad;
    std::uint16_t* Image;
    std::uint16_t* FrameList[kTomoListSize];
    std::uint16_t FrameStrips;  // strip count n the frames in FrameList were read with (their layout)
    std::uint16_t Width;
    std::uint16_t Height;
    std::uint16_t StripCount;
    std::uint16_t FrameCount;
    std::uint16_t Binning;
    std::uint16_t BitDepth;
    std::uint16_t MaxPixelValue;
    std::uint8_t LanRetry;
    std::uint8_t PictModeXray;
    std::uint8_t PictModeDc;
    std::uint16_t TimerSetXray;
    std::uint16_t TimerSetDc;
    std::uint8_t PictPattern;
    std::uint16_t ExTime[kTomoListSize];
    std::uint16_t EcTime[kTomoListSize];
    std::uint16_t EcTimeMax;
    std::uint16_t EcTimeMin;
    std::uint16_t LimitDiffEcTime;
    std::uint16_t CountedPictures;
    std::uint16_t ExposurePictures;
    std::uint16_t InitValue;
    AdSetGroup AdSet[3];
    std::uint8_t ProcessFlags[kTomoProcessFlagCount];
    char RefFolder[kTomoFolderSize];
    char SensorId[kTomoFolderSize];
    std::uint16_t CcdGap0;
    std::uint16_t CcdGap1;
    std::uint16_t TopCut0;
    std::uint16_t TopCut1;
    std::uint16_t TopCut2;
    std::uint16_t BottomCut0;
    std::uint16_t BottomCut1;
    std::uint16_t BottomCut2;
    std::uint16_t Average;
    std::uint16_t LeftCut[kTomoListSize];
    std::uint16_t RightCut[kTomoListSize];
    std::uint16_t UpDown[kTomoListSize];
    std::uint16_t Overlay;
    std::uint16_t TopOffset;
    std::uint16_t BottomOffset;
    std::uint16_t LeftOffset;
    std::uint16_t RightOffset;
    std::uint8_t SelectFlg1st;
    double XManySidePercentage;
    double XFewSidePercentage;
    std::uint16_t Target;
    double Percentage;
    std::uint32_t DarkEcTime;
    std::uint32_t DarkExTime;
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
