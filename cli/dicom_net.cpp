#include "dicom_net.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "dicom.h"

#if TAVIREX_WITH_DICOM
#include <filesystem>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/diutil.h>
#endif

#include "checks.h"
#include "common.h"
#include "output_args.h"

namespace cli {

namespace {

// An AE title: 1 to 16 characters of the basic set, no backslash or control
// character, not only spaces.
bool ae_title(const std::string& t) {
    if (t.empty() || t.size() > 16 || t.find_first_not_of(' ') == std::string::npos) return false;
    return std::all_of(t.begin(), t.end(), [](char c) { return c >= 0x20 && c < 0x7F && c != '\\'; });
}

}  // namespace

bool peer_option(const char* command, const std::string& pacs, const std::string& aet, Peer* out) {
    const std::size_t at = pacs.find('@'), colon = pacs.rfind(':');
    char* end = nullptr;
    const long port = colon == std::string::npos ? 0 : std::strtol(pacs.c_str() + colon + 1, &end, 10);
    if (at == std::string::npos || colon == std::string::npos || colon < at || !ae_title(pacs.substr(0, at)) ||
        colon == at + 1 || *end != '\0' || port < 1 || port > 65535) {
        std::fprintf(stderr,
                     "tavirex %s: --pacs takes the archive as AET@HOST:PORT (AE title of 1 to 16 characters, "
                     "port 1 to 65535), not '%s'\n",
                     command, pacs.c_str());
        return false;
    }
    if (!aet.empty() && !ae_title(aet)) {
        std::fprintf(stderr, "tavirex %s: --aet takes an AE title of 1 to 16 characters (no backslash), not '%s'\n",
                     command, aet.c_str());
        return false;
    }
    out->called = pacs.substr(0, at);
    out->host = pacs.substr(at + 1, colon - at - 1);
    out->port = static_cast<unsigned>(port);
    if (!aet.empty()) out->calling = aet;
    return true;
}

#if !TAVIREX_WITH_DICOM

bool query_worklist(const Peer&, const std::string&, const std::string&, const std::string&, std::vector<WorklistItem>*,
                    std::string* error) {
    *error = "not in this build (it needs DCMTK, on Linux)";
    return false;
}

int send_all(const Args&) { return kRefused; }

#else

namespace {

std::string hex4(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", v & 0xFFFF);
    return text;
}

// One association with the archive, released (or aborted) and freed on every path.
class Association {
public:
    Association() = default;
    Association(const Association&) = delete;
    Association& operator=(const Association&) = delete;
    ~Association() { close(false); }

    // Proposes each abstract syntax in explicit and implicit VR little endian.
    bool open(const Peer& p, std::initializer_list<const char*> syntaxes, std::string* error) {
        const std::string where = p.called + "@" + p.host + ":" + std::to_string(p.port);
        dcmConnectionTimeout.set(p.timeout);
        timeout_ = p.timeout;
        OFCondition cond = ASC_initializeNetwork(NET_REQUESTOR, 0, p.timeout, &net_);
        T_ASC_Parameters* params = nullptr;
        if (cond.good()) cond = ASC_createAssociationParameters(&params, ASC_DEFAULTMAXPDU);
        if (cond.good()) cond = ASC_setAPTitles(params, p.calling.c_str(), p.called.c_str(), nullptr);
        const std::string address = p.host + ":" + std::to_string(p.port);
        if (cond.good()) cond = ASC_setPresentationAddresses(params, "localhost", address.c_str());
        const char* ts[] = {UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax};
        T_ASC_PresentationContextID id = 1;
        for (const char* s : syntaxes) {
            if (cond.good()) cond = ASC_addPresentationContext(params, id, s, ts, 2);
            id = static_cast<T_ASC_PresentationContextID>(id + 2);
        }
        if (cond.bad()) {
            if (params) ASC_destroyAssociationParameters(&params);
            *error = std::string("the network could not be set up (") + cond.text() + ")";
            return false;
        }
        cond = ASC_requestAssociation(net_, params, &assoc_);
        if (cond.good() && ASC_countAcceptedPresentationContexts(params) > 0) return true;
        if (cond.good()) {
            *error = "the archive " + where + " accepted none of the services asked for";
            ASC_abortAssociation(assoc_);
        } else if (cond == DUL_ASSOCIATIONREJECTED) {
            T_ASC_RejectParameters rej{};
            ASC_getRejectParameters(params, &rej);
            if (rej.reason == ASC_REASON_SU_CALLEDAETITLENOTRECOGNIZED)
                *error = "the archive at " + address + " refused the association: its AE title is not '" + p.called +
                         "' (called AE title not recognised; check --pacs)";
            else if (rej.reason == ASC_REASON_SU_CALLINGAETITLENOTRECOGNIZED)
                *error = "the archive " + where + " refused the association: it does not know our AE title '" +
                         p.calling + "' (calling AE title not recognised; check --aet)";
            else
                *error = "the archive " + where + " refused the association (reason " + hex4(rej.reason) + ")";
        } else {
            *error = "no answer from the archive " + where + " (" + cond.text() + ")";
        }
        // The association, once made, owns the parameters; a refused one has nothing to abort.
        if (!assoc_) ASC_destroyAssociationParameters(&params);
        broken_ = true;
        close(false);
        return false;
    }

    T_ASC_PresentationContextID context(const char* syntax) const {
        return ASC_findAcceptedPresentationContextID(assoc_, syntax);
    }

    bool echo(std::string* error) {
        DIC_US status = 0;
        DcmDataset* detail = nullptr;
        const OFCondition cond = DIMSE_echoUser(assoc_, assoc_->nextMsgID++, DIMSE_NONBLOCKING, timeout_, &status, &detail);
        delete detail;
        if (cond.good() && status == STATUS_Success) return true;
        *error = cond.bad() ? std::string("verification failed (") + cond.text() + ")"
                            : "verification answered with status " + hex4(status);
        return false;
    }

    // C-STORE of the data set; the response status in `status`. False when no response came.
    bool store(DcmDataset* ds, const std::string& sop_class, const std::string& sop_instance, unsigned* status,
               std::string* error) {
        T_DIMSE_C_StoreRQ rq{};
        rq.MessageID = assoc_->nextMsgID++;
        OFStandard::strlcpy(rq.AffectedSOPClassUID, sop_class.c_str(), sizeof rq.AffectedSOPClassUID);
        OFStandard::strlcpy(rq.AffectedSOPInstanceUID, sop_instance.c_str(), sizeof rq.AffectedSOPInstanceUID);
        rq.DataSetType = DIMSE_DATASET_PRESENT;
        rq.Priority = DIMSE_PRIORITY_MEDIUM;
        T_DIMSE_C_StoreRSP rsp{};
        DcmDataset* detail = nullptr;
        const OFCondition cond = DIMSE_storeUser(assoc_, context(sop_class.c_str()), &rq, nullptr, ds, nullptr, nullptr,
                                                 DIMSE_NONBLOCKING, timeout_, &rsp, &detail);
        delete detail;
        *status = rsp.DimseStatus;
        if (cond.good()) return true;
        *error = std::string("the connection broke before the archive confirmed it (") + cond.text() + ")";
        broken_ = true;
        return false;
    }

    // C-FIND on the modality worklist; every pending answer's identifier to `on_item`.
    template <typename Fn>
    bool find(DcmDataset* query, Fn on_item, std::string* error) {
        T_DIMSE_C_FindRQ rq{};
        rq.MessageID = assoc_->nextMsgID++;
        OFStandard::strlcpy(rq.AffectedSOPClassUID, UID_FINDModalityWorklistInformationModel, sizeof rq.AffectedSOPClassUID);
        rq.DataSetType = DIMSE_DATASET_PRESENT;
        rq.Priority = DIMSE_PRIORITY_MEDIUM;
        T_DIMSE_C_FindRSP rsp{};
        DcmDataset* detail = nullptr;
        int count = 0;
        auto callback = [](void* data, T_DIMSE_C_FindRQ*, int, T_DIMSE_C_FindRSP*, DcmDataset* found) {
            if (found) (*static_cast<Fn*>(data))(found);
        };
        const OFCondition cond =
            DIMSE_findUser(assoc_, context(UID_FINDModalityWorklistInformationModel), &rq, query, count, callback, &on_item,
                           DIMSE_NONBLOCKING, timeout_, &rsp, &detail);
        delete detail;
        if (cond.good() && rsp.DimseStatus == STATUS_Success) return true;
        *error = cond.bad() ? std::string("the worklist query failed (") + cond.text() + ")"
                            : "the worklist query ended with status " + hex4(rsp.DimseStatus);
        broken_ = cond.bad();
        return false;
    }

    void close(bool release) {
        if (assoc_) {
            if (release && !broken_) ASC_releaseAssociation(assoc_);
            else if (!broken_) ASC_abortAssociation(assoc_);
            ASC_destroyAssociation(&assoc_);
        }
        if (net_) ASC_dropNetwork(&net_);
    }

private:
    T_ASC_Network* net_ = nullptr;
    T_ASC_Association* assoc_ = nullptr;
    int timeout_ = 30;
    bool broken_ = false;
};

std::string text_of(DcmItem* item, const DcmTagKey& tag) {
    OFString value;
    if (item && item->findAndGetOFStringArray(tag, value).good()) return value.c_str();
    return "";
}

// The worklist's text in UTF-8 whatever character set it answers in (kept as it is where it cannot be converted).
WorklistItem item_of(DcmDataset* ds) {
    ds->convertToUTF8().good();
    DcmItem* step = nullptr;
    ds->findAndGetSequenceItem(DCM_ScheduledProcedureStepSequence, step, 0).good();
    return {text_of(ds, DCM_PatientName),       text_of(ds, DCM_PatientID),
            text_of(ds, DCM_PatientBirthDate),  text_of(ds, DCM_PatientSex),
            text_of(ds, DCM_AccessionNumber),   text_of(ds, DCM_StudyInstanceUID),
            text_of(ds, DCM_ReferringPhysicianName), text_of(ds, DCM_RequestedProcedureDescription),
            text_of(ds, DCM_RequestedProcedureID), text_of(step, DCM_Modality),
            text_of(step, DCM_ScheduledProcedureStepID), text_of(step, DCM_ScheduledProcedureStepDescription),
            text_of(step, DCM_ScheduledProcedureStepStartDate), text_of(step, DCM_ScheduledProcedureStepStartTime)};
}

}  // namespace

bool query_worklist(const Peer& peer, const std::string& date, const std::string& modality, const std::string& accession,
                    std::vector<WorklistItem>* items, std::string* error) {
    DcmDataset q;
    DcmItem* step = nullptr;
    bool ok = q.putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 192").good() &&
              q.findOrCreateSequenceItem(DCM_ScheduledProcedureStepSequence, step, -2).good();
    for (const auto& key : {DCM_PatientName, DCM_PatientID, DCM_PatientBirthDate, DCM_PatientSex, DCM_StudyInstanceUID,
                            DCM_ReferringPhysicianName, DCM_RequestedProcedureDescription, DCM_RequestedProcedureID})
        ok = ok && q.insertEmptyElement(key).good();
    ok = ok && q.putAndInsertString(DCM_AccessionNumber, accession.c_str()).good();
    for (const auto& key : {DCM_ScheduledStationAETitle, DCM_ScheduledProcedureStepID,
                            DCM_ScheduledProcedureStepDescription, DCM_ScheduledProcedureStepStartTime})
        ok = ok && step->insertEmptyElement(key).good();
    ok = ok && step->putAndInsertString(DCM_Modality, modality.c_str()).good() &&
         step->putAndInsertString(DCM_ScheduledProcedureStepStartDate, date.c_str()).good();
    if (!ok) {
        *error = "the worklist query could not be made";
        return false;
    }
    Association a;
    if (!a.open(peer, {UID_FINDModalityWorklistInformationModel}, error)) return false;
    auto add = [items](DcmDataset* found) { items->push_back(item_of(found)); };
    if (!a.find(&q, add, error)) return false;
    a.close(true);
    return true;
}

namespace {

// `path`, or the first of path-1.ext, path-2.ext, ... that names nothing: a sent file
// never replaces an earlier one of the same name.
std::filesystem::path unused_name(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path name = path;
    for (int n = 1; std::filesystem::exists(name, ec); ++n)
        name = path.parent_path() / (path.stem().string() + "-" + std::to_string(n) + path.extension().string());
    return name;
}

// A file of the outbox or of the command line, loaded whole; "" or the reason it cannot be sent.
std::string load_picture(const std::string& path, DcmFileFormat* file, std::string* sop_class, std::string* sop_instance) {
    const OFCondition cond = file->loadFile(path.c_str());
    if (cond.bad()) return std::string("not a readable DICOM file (") + cond.text() + ")";
    *sop_class = text_of(file->getDataset(), DCM_SOPClassUID);
    *sop_instance = text_of(file->getDataset(), DCM_SOPInstanceUID);
    if (*sop_class != UID_DigitalXRayImageStorageForPresentation)
        return "not a digital X-ray image for presentation (SOP class '" + *sop_class + "')";
    if (sop_instance->empty()) return "it has no SOP instance UID";
    return "";
}

// The archive's answer in words; true when it holds the picture (success, or a warning with the picture stored).
bool stored(unsigned status, std::string* words) {
    if (status == STATUS_Success) return true;
    if (status == STATUS_STORE_Warning_CoercionOfDataElements || status == STATUS_STORE_Warning_DataSetDoesNotMatchSOPClass ||
        status == STATUS_STORE_Warning_ElementsDiscarded) {
        *words = "stored with a warning (" + hex4(status) + ")";
        return true;
    }
    const char* why = (status & 0xFF00) == 0xA700   ? "out of resources"
                      : (status & 0xFF00) == 0xA900 ? "the data set does not match its SOP class"
                      : (status & 0xF000) == 0xC000 ? "it cannot understand the data set"
                      : status == 0x0122            ? "it does not store this SOP class"
                                                    : "failure";
    *words = std::string("the archive refused it: ") + why + " (status " + hex4(status) + ")";
    return false;
}

}  // namespace

// tavirex send after its help: the files stored, the outbox kept.
int send_all(const Args& args) {
    const char* cmd = "send";
    Peer peer;
    if (!args.has("pacs")) {
        std::fprintf(stderr, "tavirex send: --pacs AET@HOST:PORT names the archive (see --help)\n");
        return kRefused;
    }
    if (!peer_option(cmd, args.get("pacs"), args.get("aet"), &peer) ||
        !option_int(args, cmd, "timeout", 30, &peer.timeout, 1, 3600))
        return kRefused;
    const std::string outbox = args.get("outbox");
    std::vector<std::string> files = args.positional;
    namespace fs = std::filesystem;
    std::error_code ec;
    if (args.has("outbox") == !files.empty()) {
        std::fprintf(stderr, "tavirex send: give either FILE... or --outbox DIR (see --help)\n");
        return kRefused;
    }
    if (args.has("outbox")) {
        if (!fs::is_directory(outbox, ec)) {
            std::fprintf(stderr, "tavirex send: --outbox %s is not a folder\n", outbox.c_str());
            return kRefused;
        }
        for (const auto& e : fs::directory_iterator(outbox, ec)) {
            const std::string name = e.path().filename().string();
            if (e.is_regular_file(ec) && name[0] != '.' && !(name.size() > 4 && name.ends_with(".tmp")))
                files.push_back(e.path().string());
        }
        std::sort(files.begin(), files.end());
    } else {
        for (const auto& f : files)
            if (!input_file(cmd, "DICOM file", f)) return kRefused;
    }
    std::string error;
    Association a;
    if (!a.open(peer, {UID_VerificationSOPClass, UID_DigitalXRayImageStorageForPresentation}, &error) ||
        !a.echo(&error)) {
        std::fprintf(stderr, "tavirex send: %s; nothing sent%s\n", error.c_str(),
                     outbox.empty() ? "" : ", every file stays in the outbox");
        return 1;
    }
    if (!files.empty() && a.context(UID_DigitalXRayImageStorageForPresentation) == 0) {
        std::fprintf(stderr, "tavirex send: the archive %s does not accept digital X-ray images for presentation; "
                             "nothing sent\n", peer.called.c_str());
        return 1;
    }
    std::printf("  %s@%s:%u answers (verification)\n", peer.called.c_str(), peer.host.c_str(), peer.port);
    std::size_t sent = 0;
    bool broken = false;
    for (const auto& path : files) {
        std::string sop_class, sop_instance, why;
        DcmFileFormat file;
        if (broken) {
            why = "not sent: the connection broke";
        } else if ((why = load_picture(path, &file, &sop_class, &sop_instance)).empty()) {
            std::printf("  sending %s (%s)\n", path.c_str(), sop_instance.c_str());
            std::fflush(stdout);
            unsigned status = 0;
            if (!a.store(file.getDataset(), sop_class, sop_instance, &status, &why)) {
                broken = true;
            } else if (stored(status, &why)) {
                if (!why.empty()) std::printf("  %s: %s\n", path.c_str(), why.c_str());
                why.clear();
                std::string moved;
                if (!outbox.empty()) {
                    const fs::path to = unused_name(fs::path(outbox) / "sent" / fs::path(path).filename());
                    fs::create_directories(to.parent_path(), ec);
                    fs::rename(path, to, ec);
                    if (ec) why = "stored, but it could not be moved to " + to.string() + " (" + ec.message() + ")";
                    moved = " -> " + to.string();
                }
                if (why.empty()) {
                    ++sent;
                    std::printf("  stored %s%s\n", path.c_str(), moved.c_str());
                    continue;
                }
            }
        }
        std::fprintf(stderr, "tavirex send: %s: %s; it stays where it is\n", path.c_str(), why.c_str());
    }
    a.close(true);
    std::printf("  %zu of %zu file(s) stored in %s\n", sent, files.size(), peer.called.c_str());
    return sent == files.size() ? 0 : 1;
}

#endif

int worklist_item(const char* command, const Peer& peer, const std::string& accession, WorklistItem* item) {
    std::vector<WorklistItem> items;
    std::string error;
    if (!query_worklist(peer, "", "", accession, &items, &error)) {
        std::fprintf(stderr, "tavirex %s: --worklist: %s\n", command, error.c_str());
        return 1;
    }
    const auto it = std::find_if(items.begin(), items.end(), [&](const WorklistItem& i) { return i.accession == accession; });
    if (it == items.end()) {
        std::fprintf(stderr, "tavirex %s: --worklist: no scheduled step with accession number '%s' on the worklist of %s\n",
                     command, accession.c_str(), peer.called.c_str());
        return kRefused;
    }
    *item = *it;
    return 0;
}

int cmd_worklist(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2, {"pacs", "aet", "date", "modality", "timeout"}, {}, &args)) return kRefused;
    if (args.help) {
        std::printf(
            "usage: tavirex worklist --pacs AET@HOST:PORT [--aet OURS] [--date YYYYMMDD] [--modality PX|DX]\n"
            "                        [--timeout S]\n\n"
            "Asks the clinic's modality worklist (C-FIND) for the scheduled procedure steps, those of one\n"
            "day and of one modality when given, and prints one line per step: date and time, modality,\n"
            "step ID, accession number, patient ID, patient name, requested procedure. The archive is\n"
            "called by its AE title AET as TAVIREX or --aet. tavirex dicom --worklist ACCESSION stamps a\n"
            "picture with the patient and study of that step.%s\n",
            dicom_in_build() ? "" : "\nNot in this build: it needs DCMTK, on Linux.");
        return 0;
    }
    const char* cmd = "worklist";
    if (!dicom_command_in_build(cmd)) return kRefused;
    Peer peer;
    const std::string date = args.get("date"), modality = args.get("modality");
    if (!positionals(args, 0, cmd, "no words besides the options")) return kRefused;
    if (!args.has("pacs")) {
        std::fprintf(stderr, "tavirex worklist: --pacs AET@HOST:PORT names the archive (see --help)\n");
        return kRefused;
    }
    if (!peer_option(cmd, args.get("pacs"), args.get("aet"), &peer) ||
        !option_int(args, cmd, "timeout", 30, &peer.timeout, 1, 3600))
        return kRefused;
    if (args.has("date") && (date.size() != 8 || date.find_first_not_of("0123456789") != std::string::npos)) {
        std::fprintf(stderr, "tavirex worklist: --date takes a day as YYYYMMDD, not '%s'\n", date.c_str());
        return kRefused;
    }
    if (args.has("modality") && modality != "PX" && modality != "DX") {
        std::fprintf(stderr, "tavirex worklist: --modality takes PX or DX, not '%s'\n", modality.c_str());
        return kRefused;
    }
    std::vector<WorklistItem> items;
    std::string error;
    if (!query_worklist(peer, date, modality, "", &items, &error)) {
        std::fprintf(stderr, "tavirex worklist: %s\n", error.c_str());
        return 1;
    }
    std::printf("%-8s %-6s %-3s %-12s %-16s %-16s %-24s %s\n", "date", "time", "mod", "step", "accession", "patient ID",
                "patient", "procedure");
    for (const auto& i : items)
        std::printf("%-8s %-6.6s %-3s %-12s %-16s %-16s %-24s %s\n", i.date.c_str(), i.time.c_str(), i.modality.c_str(),
                    i.step_id.c_str(), i.accession.c_str(), i.patient_id.c_str(), i.patient_name.c_str(),
                    (i.procedure.empty() ? i.step_description : i.procedure).c_str());
    std::printf("%zu scheduled step(s)\n", items.size());
    return 0;
}

int cmd_send(int argc, char** argv) {
    Args args;
    if (!parse_args(argc, argv, 2, {"pacs", "aet", "outbox", "timeout"}, {}, &args)) return kRefused;
    if (args.help) {
        std::printf(
            "usage: tavirex send FILE... --pacs AET@HOST:PORT [--aet OURS] [--timeout S]\n"
            "       tavirex send --outbox DIR --pacs AET@HOST:PORT [--aet OURS] [--timeout S]\n\n"
            "Stores DICOM digital X-ray images (for presentation) in the clinic's archive: verification\n"
            "(C-ECHO) first, then one C-STORE per file in one association, calling the archive by its AE\n"
            "title AET as TAVIREX or --aet. With --outbox, every file in DIR (not those beginning with a\n"
            "dot or ending in .tmp) is sent, and each moves to DIR/sent/ only once the archive confirmed\n"
            "it (as NAME-1.dcm, NAME-2.dcm, ... where sent/ already holds that name); a file the archive\n"
            "did not confirm (no answer, association refused, failure status, connection lost) stays\n"
            "where it is. Sending a file again is harmless: the archive keeps one\n"
            "instance per SOP instance UID. --timeout: seconds to wait for the connection and each\n"
            "answer (default 30). Exit status 0 when every file was stored, 1 when any was not.%s\n",
            dicom_in_build() ? "" : "\nNot in this build: it needs DCMTK, on Linux.");
        return 0;
    }
    if (!dicom_command_in_build("send")) return kRefused;
    return send_all(args);
}

}  // namespace cli
