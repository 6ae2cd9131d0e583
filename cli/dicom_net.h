// The clinic's archive over the DICOM network (DCMTK's network library): the
// modality worklist query (tavirex worklist, --worklist of dicom and demo) and
// storage with verification (tavirex send). Linux builds with DCMTK only.
#pragma once

#include <string>
#include <vector>

namespace cli {

// --pacs AET@HOST:PORT and --aet, checked; false (message naming the option) otherwise.
struct Peer {
    std::string called, host, calling = "TAVIREX";
    unsigned port = 0;
    int timeout = 30;  // seconds to wait for a connection, an association or an answer
};
bool peer_option(const char* command, const std::string& pacs, const std::string& aet, Peer* out);

// One scheduled procedure step of the modality worklist.
struct WorklistItem {
    std::string patient_name, patient_id, birth_date, sex;
    std::string accession, study_uid, referring, procedure, procedure_id;
    std::string modality, step_id, step_description, date, time;
};

// The steps the archive schedules, matched on the non-empty keys; false with the reason in `error`.
bool query_worklist(const Peer& peer, const std::string& date, const std::string& modality, const std::string& accession,
                    std::vector<WorklistItem>* items, std::string* error);

// The one item of the worklist with that accession number; prints why not (and
// returns 1 for a network failure, 2 when the worklist has no such item), 0 when found.
int worklist_item(const char* command, const Peer& peer, const std::string& accession, WorklistItem* item);

// tavirex worklist and tavirex send.
int cmd_worklist(int argc, char** argv);
int cmd_send(int argc, char** argv);

}  // namespace cli
