// tavirex: command-line host of the Tavirex library. It drives the library
// through its C interface exactly as the unit's host software does.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "common.h"
#include "dicom.h"
#include "dicom_net.h"
#include "tavirex.h"

namespace {

void usage(std::FILE* to) {
    std::fprintf(to,
                 "tavirex %s - acquisition and imaging library host\n"
                 "\n"
                 "usage: tavirex <command> [options]\n"
                 "\n"
                 "commands:\n"
                 "  info --config FILE   load a configuration, open the link to the sensor module, report\n"
                 "  demo [--out DIR]     write configurations for the simulated module into DIR (default out),\n"
                 "                       calibrate it, take panoramic, cephalometric and tomographic pictures\n"
                 "                       and list the files it leaves, each with what it is\n"
                 "  acquire pano|ceph|tomo  take one picture and write the raw readout\n"
                 "  calibrate pano|ceph|tomo  write the calibration files of a sensor\n"
                 "  process --config FILE --profile FILE --out FILE [--raw FILE] [--mode pano|ceph] [--passes N]\n"
                 "                       processing export, raw image out (process tomo: the tomographic one)\n"
                 "  bitmap RAW BMP ...   raw image file to 8-bit bitmap (window, plain, gamma, gamma3 mappings)\n"
                 "  window RAW ...       display window spanning the data of a raw image file\n"
                 "  rawfile IN OUT ...   inverted (optionally enhanced) copy of a raw image file\n"
                 "  mirror IN OUT ...    left-right mirror of a raw image file\n"
                 "  adjust BMP ...       gamma, contrast and brightness of a bitmap, in place\n"
                 "  mark BMP ...         stamp the orientation marker (L, or P and A) into a bitmap\n"
                 "  dicom RAW OUT.dcm ...  processed raw image file to a DICOM file%s\n"
                 "  worklist --pacs AET@HOST:PORT ...  the scheduled steps of the clinic's modality worklist%s\n"
                 "  send FILE... | --outbox DIR --pacs AET@HOST:PORT  store DICOM files in the clinic's archive%s\n"
                 "\n"
                 "Every command takes --help. Exit status: 0 done; 1 a library call, a file write or the\n"
                 "clinic's archive failed;\n"
                 "2 refused before any library call (usage, a missing or unreadable file, a value out of\n"
                 "range), with a message naming the option or file. A failed command leaves no output behind.\n",
                 TAVIREX_VERSION_STRING,
                 cli::dicom_in_build() ? "" : " (not in this build: it needs DCMTK, on Linux)",
                 cli::dicom_in_build() ? "" : " (not in this build)", cli::dicom_in_build() ? "" : " (not in this build)");
}

constexpr const char* kCommands[] = {"info",  "demo",   "acquire", "calibrate", "bitmap", "window",   "rawfile",
                                     "mirror", "adjust", "mark",    "process",   "dicom",  "worklist", "send"};

// Letters to insert, delete or change to turn one word into the other.
std::size_t edit_distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

int run(int argc, char** argv) {
    if (argc < 2) {
        usage(stderr);
        return cli::kRefused;
    }
    const char* command = argv[1];
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 || std::strcmp(command, "help") == 0) {
        usage(stdout);
        return 0;
    }
    if (std::strcmp(command, "--version") == 0) {
        std::printf("tavirex %s\n", TAVIREX_VERSION_STRING);
        return 0;
    }
    if (std::strcmp(command, "info") == 0) return cli::cmd_info(argc, argv);
    if (std::strcmp(command, "demo") == 0) return cli::cmd_demo(argc, argv);
    if (std::strcmp(command, "acquire") == 0) return cli::cmd_acquire(argc, argv);
    if (std::strcmp(command, "calibrate") == 0) return cli::cmd_calibrate(argc, argv);
    if (std::strcmp(command, "bitmap") == 0) return cli::cmd_bitmap(argc, argv);
    if (std::strcmp(command, "window") == 0) return cli::cmd_window(argc, argv);
    if (std::strcmp(command, "rawfile") == 0) return cli::cmd_rawfile(argc, argv);
    if (std::strcmp(command, "mirror") == 0) return cli::cmd_mirror(argc, argv);
    if (std::strcmp(command, "adjust") == 0) return cli::cmd_adjust(argc, argv);
    if (std::strcmp(command, "mark") == 0) return cli::cmd_mark(argc, argv);
    if (std::strcmp(command, "process") == 0) return cli::cmd_process(argc, argv);
    if (std::strcmp(command, "dicom") == 0) return cli::cmd_dicom(argc, argv);
    if (std::strcmp(command, "worklist") == 0) return cli::cmd_worklist(argc, argv);
    if (std::strcmp(command, "send") == 0) return cli::cmd_send(argc, argv);
    // A slip of a letter or two names the command meant; anything else points to the list.
    const char* nearest = nullptr;
    std::size_t best = 3;
    for (const char* name : kCommands)
        if (const std::size_t d = edit_distance(command, name); d < best) best = d, nearest = name;
    if (nearest != nullptr)
        std::fprintf(stderr, "tavirex: unknown command '%s'; did you mean '%s'? (tavirex --help lists them)\n", command, nearest);
    else
        std::fprintf(stderr, "tavirex: unknown command '%s' (tavirex --help lists the commands)\n", command);
    return cli::kRefused;
}

}  // namespace

// The library throws nothing; the host's own containers and strings may. Whatever
// escapes a command ends it with a line in words and status 1 rather than an abort.
int main(int argc, char** argv) {
#ifdef SIGXFSZ
    // A write beyond the file size limit then fails with its reason instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "tavirex: not enough memory for this command\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tavirex: the command failed: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "tavirex: the command failed with an unexpected error\n");
    }
    return 1;
}
