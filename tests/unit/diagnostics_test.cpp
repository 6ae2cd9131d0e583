// What the library reports under its DEBUG switches: texts on standard error
// and the log and dump files it writes into the current folder.

#include "state/context.h"
#include "device/boot.h"
#include "processing/steps.h"
#include "support/support.h"

using tvx::Device;

namespace {

namespace proc = tvx::processing;
using tvx::core::ImageView;

// One run in a fresh folder: what standard error must hold, in this order, and the files it must write.
struct Row {
    const char* what;
    std::function<void(const tvxtest::TempDir&)> run;
    std::vector<std::string> err;
    std::vector<std::pair<const char*, std::string>> files;
};

// A booted panoramic module whose FPGA starts when STSREG is written; every processing step off.
void configure(const tvxtest::TempDir& here, const std::string& fpga_hex, const char* debug) {
    tvxtest::write_file(here.file("fpga.hex"), fpga_hex);
    std::string cfg = "[LOADPROG]\nFPGA=" + here.file("fpga.hex") + "\n[DEBUG]\n" + debug + "\n[PROCESS]\n";
    for (const char* key : {"DELDC", "DELSHADW", "CORRINJLINE", "PXIMG", "FILLOPENING", "CORRIMGSIZE", "DELNOISE",
                            "BRISMOOTH", "CORRBRISCALE", "EMPHASISCONTRAST", "2ndCORRBRISCALE"})
        cfg += std::string(key) + "=0\n";
    tvxtest::write_file(here.file("unit.ini"), cfg);
    ASSERT_EQ(Tavirex_Init(here.file("unit.ini").c_str(), 1), 0);
    tvx::ModuleBooted[0] = 1;
}

using DiagnosticsTest = tvxtest::LibraryTest;

TEST_F(DiagnosticsTest, TextsUnderTheDebugSwitches) {
    const std::string program("\x00\x01\xFF\x0A\x0D boot", 10);
    tvxtest::Words block(64 * 900, 1000);
    // The steps take their switches as a trace from the driver; the exports read them from the record.
    const Row rows[] = {
        {"link library that does not load",
         [](const tvxtest::TempDir& here) {
             tvxtest::write_file(here.file("link.ini"), "[DLL]\nFILENAME=" + here.file("nowhere.so") + "\n[DEBUG]\nPROCESS=1\n");
             ASSERT_EQ(Tavirex_Init(here.file("link.ini").c_str(), 1), 0);
             EXPECT_EQ(Tavirex_SetCommInit2(0), TAVIREX_E_LINK_LIBRARY);
         },
         {"Cannot load dll\n"}, {}},
        // The register log; the configuration dumped 16 bytes a line; the boot program unchanged before it is sent.
        {"FPGA load and boot",
         [&](const tvxtest::TempDir& here) {
             std::string hex = ":x\n:10000000";
             for (int i = 0; i < 16; ++i) hex += std::string("0") + "0123456789ABCDEF"[i];
             configure(here, hex + "00\n:0400100010111213FF\n:00000001FF\n", "OUTPUT=1");
             tvxtest::write_file(here.file("boot.bin"), program);
             std::snprintf(Device.BootPath, sizeof Device.BootPath, "%s", here.file("boot.bin").c_str());
             tvxtest::FakeLink fake;
             fake.status = 0, fake.stsreg = 0;
             ASSERT_EQ(Tavirex_SetSensMduInit_Pano(here.file("unit.ini").c_str(), 1), 0);
             tvx::ModuleBooted[0] = 0;
             ASSERT_EQ(tvx::device::open_and_boot(Device, 0), 0);
         },
         {},
         {{"logCMD_WRITE.txt", " SYSRST,0x,27f00004,0x,0\n STSREG,0x,27f0000e,0x,1\n"},
          {"fpgaprog.csv", "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,\n16,17,18,19,"}, {"readdata.bin", program}}},
        // Set-up, readout and the processing banners; the CCD upload logged with its first table word.
        {"picture set-up, readout and processing",
         [](const tvxtest::TempDir& here) {
             configure(here, ":020000040000FA\n:0400000001020304F2\n:00000001FF\n", "PROCESS=1\nPARAM=1");
             std::string forty;
             for (int i = 0; i < 100; ++i) forty += "40\n";
             tvxtest::write_file(here.file("speed.txt"), forty);
             tvxtest::FakeLink fake;
             ASSERT_EQ(Tavirex_SetSensMduInit_Pano(here.file("unit.ini").c_str(), 0), 0);  // takes the DEBUG switches
             // Only the low 16 bits of the time lag count: 0x10064 is 100 ms.
             ASSERT_EQ(Tavirex_SetParamforPictEx(here.file("speed.txt").c_str(), 1, 10, 0x10064), 0);
             EXPECT_EQ(Device.SegmentStart[0], 2);
             ASSERT_EQ(Tavirex_GetImageDataEx(1), 0);
             for (auto step : {tvx::kCorrImgSize, tvx::kDelNoise, tvx::kSecondCorrBriScale}) Device.ProcessFlags[step] = 1;
             std::uint32_t w = 0, h = 0;
             ASSERT_EQ(Tavirex_ImageProcessingEx(here.file("out.raw").c_str(), &w, &h), 0);
             EXPECT_EQ(tvx::DebugFlags.DebugProcess, 1);
         },
         {"NUM of CCD CNTL DATA for PICT[ 834]\n", "TIMELAG   [100]\n", "dWaitHNum [2500.000000]\n",
          "Num of Cutted Pxl at Left Side[   4]\n",
          // "CCDCntlData write, attempt 1" and "read-back check OK" in code page 932
          "CCDCntlData\x8F\x91\x82\xAB\x8D\x9E\x82\xDD" "1\x89\xF1\x96\xDA\n",
          "CCDCntlData\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x8A\x6D\x94\x46OK\n",
          // "data read start" and "data read end" stamps
          "\x83\x66\x81\x5B\x83\x5E\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x8A\x4A\x8E\x6E[",
          "\x83\x66\x81\x5B\x83\x5E\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x8F\x49\x97\xB9[",
          "ImageProcessing  START[", "  6.CORRIMGSIZE[", "  7.DELNOISE[", " 11.2ndCORRBRISCALE[", "ImageProcessing  END  ["},
         {{"logCMD_WRITE.txt", " WaitRAM,0x,27f02000,0x,3ff\n"}}},
        // Every tomographic access logged with its letter: the FPGA download, a picture, a readout of two blocks.
        {"tomographic register log",
         [](const tvxtest::TempDir& here) {
             tvxtest::write_file(here.file("fpga.hex"), ":x\n:0400000001020304F2\n:00000001FF\n");
             tvxtest::write_file(here.file("tomo.ini"), "[DEBUG]\nOUTPUT=1\nCHECKSTATE=1\nPROCESS=1\n[WAITTIME]\n"
                                                        "DC2EXPOS=0\n[LOADPROG]\nFPGA=" + here.file("fpga.hex") + "\n");
             ASSERT_EQ(Tavirex_Init_Tomo(here.file("tomo.ini").c_str(), 1), 0);
             tvx::ModuleBooted[0] = 1;
             tvxtest::FakeLink fake;
             fake.status = 0, fake.stsreg = 0;
             ASSERT_EQ(Tavirex_SetSensMdulInit_Tomo(0, 0), 0);
             ASSERT_EQ(Tavirex_SetTIMERandMODREG_Tomo(1), 0);
             ASSERT_EQ(Tavirex_PictStartbyCommand_Tomo(), 0);
             ASSERT_EQ(Tavirex_GetEXTIMEandECTIME_Tomo(1), 0);
             tvx::Tomo.FrameCount = 1, tvx::Tomo.StripCount = 0;
             ASSERT_EQ(Tavirex_GetImageDataEx_Tomo(), 0);
         },
         {"lulFpgaProgSize [4]\n", "###CMD_FPGA START[", "###CMD_FPGA END[", " ECTIME 27ff001a :    34\n",
          " EXTIME 27ff0018 :    34\n", "\x83\x66\x81\x5B\x83\x5E\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x8A\x4A\x8E\x6E["},
         {{"logCMD_WRITE.txt",
           " r,STATUS,0x,27ff0002,0x,0\n r,STATUS,0x,27ff0002,0x,0\n r,STATUS,0x,27ff0002,0x,0\n"
           " r,STATUS,0x,27ff0002,0x,0\n r,STATUS,0x,27ff0002,0x,0\n"
               " f,CMD_FPGA,0x,0,0x,0\n w,SYSRST,0x,27ff0004,0x,0\n w,STSREG,0x,27ff000e,0x,22\n"
               " r,STATUS,0x,27ff0002,0x,22\n w,TIMER,0x,27ff000c,0x,64\n w,MODREG,0x,27ff0006,0x,1\n"
               " w,START ,0x,27ff000a,0x,1\n r,ECTIME,0x,27ff001a,0x,22\n r,EXTIME,0x,27ff0018,0x,22\n"
               " r,STATUS,0x,27ff0002,0x,22\n w,ECTCLR,0x,27ff0016,0x,0\n w,EXTCLR,0x,27ff0014,0x,0\n"
               " r,SDRAM,0x,26000000,0x,a000\n r,SDRAM,0x,26090000,0x,22\n r,STATUS,0x,27ff0002,0x,22\n"},
          {"fpgaprog.csv", "1,2,3,4,"}}},
        {"brightness scale fractions, even for selector 0",
         [&](const tvxtest::TempDir&) {
             tvx::diag::Trace trace;
             trace.param = true;
             proc::correct_brightness_scale(0, ImageView{block.data(), 64, 900}, 0.001, 0.005, trace);
         },
         {"Xray Many Side PRECENTAGE[0.001000]\nXray Few  Side PRECENTAGE[0.005000]\n"}, {}},
        // The table as read, and after a content error the message, "Reading the settings file failed."
        // in code page 932, with the band fields.
        {"injection line table",
         [](const tvxtest::TempDir& here) {
             tvx::diag::Trace trace;
             trace.process = trace.param = true;
             std::uint16_t px[4] = {1, 2, 3, 4};
             for (const std::string& table : {tvxtest::bytes_of({2, 2, 3, 1, 0xFFFC}), std::string("\x01\x00\x02", 3)}) {
                 tvxtest::write_file(here.file("t.dat"), table);
                 EXPECT_EQ(proc::correct_injection_lines(ImageView{px, 1, 4}, here.file("t.dat").c_str(), false, trace),
                           table.size() == 3 ? TAVIREX_E_DATA_CONTENT : 0);
             }
         },
         {"ch1  Num;  2  Pos;   2   3\n              Hei;   1  -4\n", "setup.dat[NoiseLine]\x90\xDD\x92\xE8",
          "\x82\xBD\x81" "B4\n"},
         {}},
    };
    for (const Row& r : rows) {
        tvxtest::reset_library();
        tvxtest::TempDir here;
        std::string text;
        {
            tvxtest::InDirectory in(here.path());
            tvxtest::CaptureStderr err;
            r.run(here);
            text = err.text();
        }
        std::size_t at = 0;
        for (const std::string& expected : r.err) {
            EXPECT_NE(at = text.find(expected, at), std::string::npos) << r.what << ": " << expected << "\nin\n" << text;
            if (at == std::string::npos) break;
        }
        for (const auto& [file, expected] : r.files)
            EXPECT_EQ(tvxtest::read_text_file(here.file(file)), expected) << r.what << ": " << file;
    }
    EXPECT_EQ(tvx::core::test_blocks_held(), 0);
}

}  // namespace
