#include "dicom.h"

#include <cstdio>

#include "checks.h"

#if TAVIREX_WITH_DICOM
#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcostrmb.h>
#include <dcmtk/dcmdata/dctk.h>

#include "platform/file.h"
#include "platform/system.h"
#include "tavirex.h"
#endif

namespace cli {

int default_bits_stored(const std::string& kind) { return kind == "tomo" ? 14 : 12; }

bool dicom_command_in_build(const char* command) {
    if (dicom_in_build()) return true;
    std::fprintf(stderr, "tavirex %s: not in this build (it needs DCMTK, on Linux)\n", command);
    return false;
}

#if !TAVIREX_WITH_DICOM

bool dicom_in_build() { return false; }

std::string new_uid() { return ""; }

int write_dicom(DicomRequest&, const std::string&, const DicomCheck&) {
    dicom_command_in_build("dicom");
    return kRefused;
}

#else

namespace {

// The project's UID root, generated once from a random UUID (2.25 followed by
// the UUID as one decimal number). Every UID we write is this root, one arc
// unique to the export (seconds, process, count) and 1 study, 2 series, 3 instance;
// 61 characters at most, within the 64 a UID may have.
constexpr char kUidRoot[] = "2.25.60811574166163878386720479869724102614";

constexpr char kManufacturer[] = "Tavirex";
constexpr char kModel[] = "Tavirex simulated sensor";

std::string export_arc() {
    static unsigned count = 0;
    char arc[40];
    std::snprintf(arc, sizeof arc, "%lld%04u%u", static_cast<long long>(std::time(nullptr)),
                  static_cast<unsigned>(getpid() % 10000), count++ % 10);
    return arc;
}

struct Stamp {
    std::string date, time;
};

Stamp stamp_of(std::time_t t) {
    std::tm tm{};
    tvx::platform::local_time(t, &tm);
    char date[16], time[16];
    std::strftime(date, sizeof date, "%Y%m%d", &tm);
    std::strftime(time, sizeof time, "%H%M%S", &tm);
    return {date, time};
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

// A value field holds at most 2^32 - 2 bytes (an even length below the undefined one).
constexpr std::uint64_t kMostPixelBytes = 0xFFFFFFFEu;

// Reads the raw image into `words` (width x height) and turns its rows top down:
// raw row 0 is the bottom row of the picture (as in the bitmaps), DICOM stores the
// top row first. `check` sees the data in file order.
int read_pixels(DicomRequest& rq, Uint16* words, std::size_t count, const DicomCheck& check) {
    tvx::platform::File f = tvx::platform::File::open(rq.raw_path.c_str(), "rb");
    std::string why = f ? "" : std::strerror(errno);
    if (f && std::fread(words, 2, count, f.get()) != count)
        why = std::ferror(f.get()) ? std::strerror(errno) : "it is shorter than the image";
    (void)f.close();  // read only: nothing to lose on close
    if (!why.empty()) {
        std::fprintf(stderr, "tavirex dicom: cannot read %s (%s)\n", rq.raw_path.c_str(), why.c_str());
        return kRefused;
    }
    // The file holds little-endian words.
    if constexpr (std::endian::native == std::endian::big)
        for (std::size_t i = 0; i < count; ++i) words[i] = static_cast<Uint16>(words[i] << 8 | words[i] >> 8);
    if (check) {
        const int status = check(words, count, rq);
        if (status != 0) return status;
    }
    const std::size_t w = static_cast<std::size_t>(rq.width);
    for (std::size_t top = 0, bottom = static_cast<std::size_t>(rq.height) - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(words + top * w, words + (top + 1) * w, words + bottom * w);
    return 0;
}

// The temporary file of a save, removed unless it became the output (also when an
// exception passes). The holder closes the file first.
struct TempFile {
    std::string path;
    tvx::platform::File file;
    bool renamed = false;
    ~TempFile() {
        (void)file.close();
        if (!renamed) ::unlink(path.c_str());
    }
};

// Writes the object to a temporary file beside `out`, checking every write, the
// flush to the disk and the final size, then renames it over `out`: a reader never
// sees a partial file, and a failed save leaves `out` as it was. The encoding is
// the toolkit's file encoding (explicit VR little endian, new meta header,
// recalculated group lengths), written through a buffer we empty ourselves.
// The reason on failure: the system's text for the error.
bool save(DcmFileFormat& file, const std::string& out) {
    TempFile temp{out + "." + std::to_string(getpid()) + ".tmp", {}, false};
    // Beyond a file size limit a write fails (EFBIG) instead of ending the program.
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    std::string why;
    // Created new ("x": never an existing file), closed on exec ("e"), and unbuffered: the
    // stream below hands over whole chunks, each written out by one fwrite.
    temp.file = tvx::platform::File::open(temp.path.c_str(), "wbxe");
    if (!temp.file || std::setvbuf(temp.file.get(), nullptr, _IONBF, 0) != 0) why = std::strerror(errno);
    unsigned char chunk[1 << 16];
    DcmOutputBufferStream stream(chunk, sizeof chunk);
    std::uint64_t total = 0;
    file.transferInit();
    for (OFCondition done = EC_StreamNotifyClient; why.empty() && done == EC_StreamNotifyClient;) {
        done = file.write(stream, EXS_LittleEndianExplicit, EET_UndefinedLength, nullptr, EGL_recalcGL);
        void* data = nullptr;
        offile_off_t length = 0;
        stream.flushBuffer(data, length);
        if (done.bad() && done != EC_StreamNotifyClient) why = done.text();
        else if (std::fwrite(data, 1, static_cast<std::size_t>(length), temp.file.get()) != static_cast<std::size_t>(length))
            why = std::strerror(errno);
        total += static_cast<std::uint64_t>(length);
    }
    file.transferEnd();
    struct stat st {};
    if (why.empty() && (std::fflush(temp.file.get()) != 0 || ::fsync(::fileno(temp.file.get())) != 0 ||
                        ::fstat(::fileno(temp.file.get()), &st) != 0))
        why = std::strerror(errno);
    if (why.empty() && static_cast<std::uint64_t>(st.st_size) != total)
        why = "it holds " + std::to_string(st.st_size) + " of " + std::to_string(total) + " bytes";
    if (!temp.file.close() && why.empty()) why = std::strerror(errno);
    if (why.empty() && std::rename(temp.path.c_str(), out.c_str()) != 0) why = std::strerror(errno);
    temp.renamed = why.empty();
    std::signal(SIGXFSZ, previous);
    if (!why.empty()) std::fprintf(stderr, "tavirex dicom: cannot write %s (%s)\n", out.c_str(), why.c_str());
    return why.empty();
}

}  // namespace

bool dicom_in_build() { return true; }

std::string new_uid() { return std::string(kUidRoot) + "." + export_arc() + ".1"; }

int write_dicom(DicomRequest& rq, const std::string& out, const DicomCheck& check) {
    const std::size_t count = static_cast<std::size_t>(rq.width) * static_cast<std::size_t>(rq.height);
    if (2ull * rq.width * rq.height > kMostPixelBytes) {
        std::fprintf(stderr, "tavirex dicom: %d x %d samples are more than a DICOM file holds (4 GiB of pixel data)\n",
                     rq.width, rq.height);
        return kRefused;
    }
    DcmFileFormat file;
    DcmDataset* ds = file.getDataset();
    // The pixel data element holds the image's only copy: the file is read into it.
    auto* element = new DcmPixelData(DCM_PixelData);
    if (ds->insert(element).bad()) {
        delete element;
        std::fprintf(stderr, "tavirex dicom: the pixel data element could not be made\n");
        return 1;
    }
    Uint16* pixels = nullptr;
    if (element->createUint16Array(static_cast<Uint32>(count), pixels).bad() || pixels == nullptr) {
        std::fprintf(stderr, "tavirex dicom: not enough memory for the %d x %d image (%llu bytes)\n", rq.width,
                     rq.height, 2ull * count);
        return 1;
    }
    if (const int status = read_pixels(rq, pixels, count, check); status != 0) return status;
    const std::uint32_t maximum = (1u << rq.bits_stored) - 1;
    // The library's bitmaps show the window over the inverted data (maximum - value):
    // bright where the sensor saw little radiation. The same picture from the data as
    // it stands is MONOCHROME1 (the lowest value white) with the window mirrored
    // about the middle of the range: centre maximum - centre, the same width.
    const std::int32_t center = static_cast<std::int32_t>(maximum) - rq.center;
    const std::int32_t width = rq.window_width < 1 ? 1 : rq.window_width;
    const std::string arc = export_arc(), uid = std::string(kUidRoot) + "." + arc + ".";
    const Stamp now = stamp_of(std::time(nullptr));
    // The acquisition: when the processed image was written.
    Stamp acquired = now;
    std::error_code ec;
    const auto written = std::filesystem::last_write_time(rq.raw_path, ec);
    if (!ec)
        acquired = stamp_of(std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(written)));
    const bool ceph = rq.kind == "ceph";
    // UTF-8 is declared only where a value needs it (the checks refused invalid UTF-8).
    bool ascii = true;
    for (const std::string* v : {&rq.patient_name, &rq.patient_id, &rq.study_description, &rq.referring, &rq.procedure,
                                 &rq.step_description, &rq.accession, &rq.procedure_id, &rq.step_id})
        ascii = ascii && std::all_of(v->begin(), v->end(), [](char c) { return (c & 0x80) == 0; });

    const struct { DcmTagKey tag; std::string value; } text[] = {
        {DCM_SpecificCharacterSet, ascii ? "" : "ISO_IR 192"},
        {DCM_SOPClassUID, UID_DigitalXRayImageStorageForPresentation},
        {DCM_SOPInstanceUID, uid + "3"},
        // Patient
        {DCM_PatientName, rq.patient_name},
        {DCM_PatientID, rq.patient_id},
        {DCM_PatientBirthDate, rq.birth_date},
        {DCM_PatientSex, rq.sex},
        // Study
        {DCM_StudyInstanceUID, rq.study_uid.empty() ? uid + "1" : rq.study_uid},
        {DCM_StudyDate, rq.study_date.empty() ? acquired.date : rq.study_date},
        {DCM_StudyTime, rq.study_date.empty() ? acquired.time : rq.study_time},
        {DCM_ReferringPhysicianName, rq.referring},
        {DCM_StudyID, "1"},
        {DCM_AccessionNumber, rq.accession},
        {DCM_StudyDescription, rq.study_description.empty() ? rq.procedure : rq.study_description},
        // Series
        {DCM_Modality, ceph ? "DX" : "PX"},
        {DCM_SeriesInstanceUID, uid + "2"},
        // Each picture a series of its own, numbered by kind within the visit's study.
        {DCM_SeriesNumber, ceph ? "2" : rq.kind == "tomo" ? "3" : "1"},
        {DCM_PresentationIntentType, "FOR PRESENTATION"},
        // Equipment
        {DCM_Manufacturer, kManufacturer},
        {DCM_ManufacturerModelName, kModel},
        {DCM_SoftwareVersions, TAVIREX_VERSION_STRING},
        // Image
        {DCM_InstanceNumber, "1"},
        // Rows run towards the patient's right (the L marker stands on the left), posterior for
        // the lateral view (the face on the left), anterior for the tomographic cuts (P left, A right).
        {DCM_PatientOrientation, ceph ? "P\\F" : rq.kind == "tomo" ? "A\\F" : "R\\F"},
        {DCM_ContentDate, now.date},
        {DCM_ContentTime, now.time},
        {DCM_AcquisitionDateTime, acquired.date + acquired.time},
        {DCM_ImageType, "ORIGINAL\\PRIMARY"},
        {DCM_ImageLaterality, "U"},
        {DCM_PhotometricInterpretation, "MONOCHROME1"},
        {DCM_PixelIntensityRelationship, "LIN"},
        {DCM_PixelIntensityRelationshipSign, "1"},
        {DCM_RescaleIntercept, "0"},
        {DCM_RescaleSlope, "1"},
        {DCM_RescaleType, "US"},
        {DCM_PresentationLUTShape, "INVERSE"},
        {DCM_LossyImageCompression, "00"},
        {DCM_BurnedInAnnotation, "NO"},
        {DCM_WindowCenter, std::to_string(center)},
        {DCM_WindowWidth, std::to_string(width)},
        // Detector
        {DCM_DetectorType, "SCINTILLATOR"},
        {DCM_ImagerPixelSpacing, number(rq.pixel_spacing) + "\\" + number(rq.pixel_spacing)},
    };
    bool ok = true;
    for (const auto& t : text)
        ok = ok && (t.value.empty() && t.tag == DCM_SpecificCharacterSet ? true
                                                                          : ds->putAndInsertString(t.tag, t.value.c_str()).good());
    // The worklist's request: the requested procedure and the scheduled step this picture answers.
    DcmItem* request = nullptr;
    if (ok && !(rq.procedure_id + rq.step_id + rq.procedure).empty()) {
        ok = ds->findOrCreateSequenceItem(DCM_RequestAttributesSequence, request, -2).good();
        const struct { DcmTagKey tag; const std::string& value; } asked[] = {
            {DCM_RequestedProcedureID, rq.procedure_id}, {DCM_RequestedProcedureDescription, rq.procedure},
            {DCM_ScheduledProcedureStepID, rq.step_id}, {DCM_ScheduledProcedureStepDescription, rq.step_description}};
        for (const auto& a : asked) ok = ok && (a.value.empty() || request->putAndInsertString(a.tag, a.value.c_str()).good());
    }
    const struct { DcmTagKey tag; Uint16 value; } words[] = {
        {DCM_SamplesPerPixel, 1},
        {DCM_Rows, static_cast<Uint16>(rq.height)},
        {DCM_Columns, static_cast<Uint16>(rq.width)},
        {DCM_BitsAllocated, 16},
        {DCM_BitsStored, static_cast<Uint16>(rq.bits_stored)},
        {DCM_HighBit, static_cast<Uint16>(rq.bits_stored - 1)},
        {DCM_PixelRepresentation, 0},
    };
    for (const auto& w : words) ok = ok && ds->putAndInsertUint16(w.tag, w.value).good();
    ok = ok && ds->insertEmptyElement(DCM_AcquisitionContextSequence).good() &&
         ds->insertEmptyElement(DCM_AnatomicRegionSequence).good();
    if (!ok) {
        std::fprintf(stderr, "tavirex dicom: the DICOM object for %s could not be made\n", out.c_str());
        return 1;
    }
    return save(file, out) ? 0 : 1;
}

#endif

}  // namespace cli
