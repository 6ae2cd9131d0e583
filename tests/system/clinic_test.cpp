// The clinic's archive, a real one: an Orthanc started for the suite on free
// loopback ports with a configuration written here, its own storage and its
// worklist plugin serving items made with dump2dcm. The worklist query, a picture
// stamped from an item arriving whole, and an outbox that keeps every file the
// archive did not confirm.
#include "support/support.h"

#if TVX_WITH_DICOM && !defined(_WIN32)
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

namespace {

int free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), n);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    close(fd);
    return ntohs(a.sin_port);
}

// What a shell command prints on its standard output.
std::string output_of(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    char buf[65536];
    for (std::size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    if (p) pclose(p);
    return out;
}

// Worklist items: accession, modality, scheduled day, patient ID and name.
const char* const kItems[][5] = {{"ACC-PX1", "PX", "20261206", "PAT-1", "M\xC3\xBCller^J\xC3\xB6rg"},
                                 {"ACC-DX1", "DX", "20261206", "PAT-2", "Roe^Ann"},
                                 {"ACC-PX2", "PX", "20261207", "PAT-3", "Poe^Ed"}};

class ClinicTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new tvxtest::TempDir;
        std::filesystem::create_directories(dir->file("worklists"));
        for (const auto& i : kItems) {
            const std::string uid = "1.2.826.0.1.3680043.10.1." + std::to_string(&i - kItems + 1);
            const std::string dump = dir->file(std::string(i[0]) + ".txt");
            tvxtest::write_file(dump, std::string("(0008,0005) CS [ISO_IR 192]\n(0008,0050) SH [") + i[0] +
                                          "]\n(0010,0010) PN [" + i[4] + "]\n(0010,0020) LO [" + i[3] +
                                          "]\n(0020,000d) UI [" + uid +
                                          "]\n(0032,1060) LO [Panoramic]\n(0040,0100) SQ (Sequence)\n(fffe,e000) na (Item)\n"
                                          "(0008,0060) CS [" + i[1] + "]\n(0040,0002) DA [" + i[2] + "]\n(0040,0003) TM [0930]\n"
                                          "(0040,0009) SH [SPS-" + i[3] + "]\n(fffe,e00d) na\n(fffe,e0dd) na\n");
            ASSERT_EQ(std::system(("dump2dcm -q " + dump + " " + dir->file("worklists/") + i[0] + ".wl").c_str()), 0);
        }
        dicom_port = free_port();
        do http_port = free_port();
        while (http_port == dicom_port);
        tvxtest::write_file(dir->file("orthanc.json"),
                            "{\"Name\": \"tavirex-test\", \"StorageDirectory\": \"" + dir->file("db") +
                                "\", \"IndexDirectory\": \"" + dir->file("db") + "\", \"DicomAet\": \"ARCHIVE\", "
                                "\"DicomPort\": " + std::to_string(dicom_port) + ", \"HttpPort\": " + std::to_string(http_port) +
                                ", \"RemoteAccessAllowed\": false, \"AuthenticationEnabled\": false, "
                                "\"DicomCheckCalledAet\": true, \"DicomModalities\": {\"us\": [\"TAVIREX\", \"127.0.0.1\", 104]}, "
                                "\"Plugins\": [\"/usr/share/orthanc/plugins/libModalityWorklists.so\"], "
                                "\"Worklists\": {\"Enable\": true, \"Database\": \"" + dir->file("worklists") + "\"}}");
        start();
    }
    static void TearDownTestSuite() {
        stop(SIGTERM);
        delete dir;
    }
    static void start() {
        posix_spawn_file_actions_t io;
        posix_spawn_file_actions_init(&io);
        posix_spawn_file_actions_addopen(&io, 1, dir->file("orthanc.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&io, 1, 2);
        const std::string config = dir->file("orthanc.json");
        char* argv[] = {const_cast<char*>("Orthanc"), const_cast<char*>(config.c_str()), nullptr};
        ASSERT_EQ(posix_spawnp(&orthanc, "Orthanc", &io, nullptr, argv, environ), 0) << "Debian package orthanc";
        posix_spawn_file_actions_destroy(&io);
        for (int i = 0; i < 300 && rest("/system").empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_FALSE(rest("/system").empty()) << tvxtest::read_text_file(dir->file("orthanc.log"));
    }
    static void stop(int signal) {
        if (orthanc > 0 && kill(orthanc, signal) == 0) waitpid(orthanc, nullptr, 0);
        orthanc = 0;
    }
    static std::string rest(const std::string& path, const std::string& post = "") {
        return output_of("curl -sf " + (post.empty() ? "" : "-d '" + post + "' ") + "http://127.0.0.1:" +
                         std::to_string(http_port) + path);
    }
    int cli(const std::string& args) { return tvxtest::run_cli(args, dir->file("log.txt")); }
    std::string log() { return tvxtest::read_text_file(dir->file("log.txt")); }
    std::string pacs(const char* aet = "ARCHIVE") {
        return std::string(" --pacs ") + aet + "@127.0.0.1:" + std::to_string(dicom_port);
    }
    // A picture of width x height in `out`, for a worklist item or for patient P-9.
    int picture(const std::string& out, int width, int height, const std::string& who) {
        tvxtest::Words px(static_cast<std::size_t>(width) * height);
        for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<std::uint16_t>((i % width) * 7 + i / width * 3) & 4095;
        tvxtest::write_words(dir->file("p.raw"), px);
        return cli("dicom " + dir->file("p.raw") + " " + out + " --kind pano --center 2048 --window-width 4096 --width " +
                   std::to_string(width) + " --height " + std::to_string(height) + who);
    }

    static inline tvxtest::TempDir* dir = nullptr;
    static inline pid_t orthanc = 0;
    static inline int dicom_port = 0, http_port = 0;
};

// Echo, the worklist filtered by day and modality, and a wrong called AE title refused in words.
TEST_F(ClinicTest, WorklistAndVerification) {
    std::filesystem::create_directories(dir->file("empty"));
    const struct { std::string args; int status; const char* says; const char* absent; } rows[] = {
        {"send --outbox " + dir->file("empty") + pacs(), 0, "answers (verification)", "ACC"},
        {"worklist" + pacs(), 0, "3 scheduled step(s)", "Tavirex"},
        {"worklist --date 20261206" + pacs(), 0, "2 scheduled step(s)", "ACC-PX2"},
        {"worklist --modality DX" + pacs(), 0, "1 scheduled step(s)", "ACC-PX"},
        {"worklist --date 20261207 --modality PX" + pacs(), 0, "ACC-PX2", "ACC-PX1"},
        {"worklist" + pacs("ELSEWHERE"), 1, "called AE title not recognised", "scheduled"},
        {"send --outbox " + dir->file("empty") + pacs("ELSEWHERE"), 1, "called AE title not recognised", "answers"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(cli(r.args), r.status) << r.args << "\n" << log();
        EXPECT_NE(log().find(r.says), std::string::npos) << r.args << "\n" << log();
        EXPECT_EQ(log().find(r.absent), std::string::npos) << r.args << "\n" << log();
    }
}

// A picture for a worklist item arrives with the item's patient and study, pixel for
// pixel, and renders as a picture; sent twice, the archive holds it once.
TEST_F(ClinicTest, PictureForAWorklistItemArrivesWhole) {
    std::filesystem::create_directories(dir->file("outbox"));
    const std::string file = dir->file("outbox/pano.dcm"), sent = dir->file("outbox/sent/pano.dcm");
    ASSERT_EQ(picture(file, 320, 240, " --worklist ACC-PX1" + pacs()), 0) << log();
    ASSERT_EQ(cli("send --outbox " + dir->file("outbox") + pacs()), 0) << log();
    EXPECT_TRUE(tvxtest::file_exists(sent) && !tvxtest::file_exists(file)) << log();
    EXPECT_EQ(cli("send " + sent + pacs()), 0) << log();
    const std::string found = rest("/tools/find", R"({"Level": "Instance", "Query": {"AccessionNumber": "ACC-PX1"}})");
    ASSERT_EQ(std::count(found.begin(), found.end(), '"'), 2) << "one instance: " << found;
    const std::string id = "/instances/" + found.substr(found.find('"') + 1, found.rfind('"') - found.find('"') - 1);
    const std::string tags = rest(id + "/simplified-tags");
    for (const char* tag : {"\"PatientID\" : \"PAT-1\"", "\"PatientName\" : \"M\\u00fcller^J\\u00f6rg\"",
                                   "\"StudyInstanceUID\" : \"1.2.826.0.1.3680043.10.1.1\"",
                                   "\"AccessionNumber\" : \"ACC-PX1\"", "\"ScheduledProcedureStepID\" : \"SPS-PAT-1\""})
        EXPECT_NE(tags.find(tag), std::string::npos) << tag << " in " << tags;
    const std::string local = tvxtest::read_file(sent), pixels = rest(id + "/frames/0/raw");
    ASSERT_EQ(pixels.size(), 320u * 240 * 2);
    EXPECT_TRUE(local.compare(local.size() - pixels.size(), pixels.size(), pixels) == 0) << "pixel data differ";
    const double spread = std::atof(output_of("curl -sf http://127.0.0.1:" + std::to_string(http_port) + id +
                                              "/preview | identify -format '%[fx:standard_deviation]' png:-").c_str());
    EXPECT_GT(spread, 0.05) << "the archive's preview is uniform";
}

// Archive down: the outbox keeps the file; up again: sent and moved; stopped in the
// middle of a large transfer: the file stays.
TEST_F(ClinicTest, OutboxKeepsWhatTheArchiveDidNotConfirm) {
    const std::string box = dir->file("box"), send = "send --outbox " + box + pacs();
    std::filesystem::create_directories(box);
    ASSERT_EQ(picture(box + "/a.dcm", 64, 48, " --patient-id P-9"), 0) << log();
    stop(SIGTERM);
    EXPECT_EQ(cli(send), 1) << log();
    EXPECT_NE(log().find("no answer from the archive"), std::string::npos) << log();
    EXPECT_TRUE(tvxtest::file_exists(box + "/a.dcm") && !tvxtest::file_exists(box + "/sent/a.dcm"));
    start();
    EXPECT_EQ(cli(send), 0) << log();
    EXPECT_TRUE(!tvxtest::file_exists(box + "/a.dcm") && tvxtest::file_exists(box + "/sent/a.dcm"));
    // A second a.dcm sent never replaces the first in sent/.
    std::filesystem::copy_file(box + "/sent/a.dcm", box + "/a.dcm");
    EXPECT_EQ(cli(send), 0) << log();
    EXPECT_TRUE(tvxtest::file_exists(box + "/sent/a.dcm") && tvxtest::file_exists(box + "/sent/a-1.dcm"));
    // 6000 x 4000 words (48 MB): the archive is killed as soon as the transfer begins.
    ASSERT_EQ(picture(box + "/big.dcm", 6000, 4000, " --patient-id P-9"), 0) << log();
    FILE* p = popen(("\"" TVX_CLI_PATH "\" " + send + " 2>&1").c_str(), "r");
    char line[4096];
    std::string said;
    while (p && fgets(line, sizeof line, p)) {
        said += line;
        if (said.find("sending") != std::string::npos && orthanc) stop(SIGKILL);
    }
    const int status = p ? pclose(p) : -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << said;
    EXPECT_NE(said.find("big.dcm: the connection broke before the archive confirmed it"), std::string::npos) << said;
    EXPECT_TRUE(tvxtest::file_exists(box + "/big.dcm") && !tvxtest::file_exists(box + "/sent/big.dcm")) << said;
}

}  // namespace
#else
TEST(ClinicTest, NeedsDcmtk) { GTEST_SKIP() << "this build has no DCMTK (32-bit or Windows): no worklist, no send"; }
#endif
