#pragma once
// What a salvage of the archive's files found and did, per file: how many
// rows still read, how many came back in the fresh copy (each proved
// byte-equal to what the damaged file gave), and the documents whose data
// was lost, by name and folder path, so that the user knows what to scan
// again.
#include <cstdint>
#include <string>
#include <vector>

namespace qx {

struct SalvageLostDocument {
    long id = 0;
    std::string name;
    std::string path;  // the folder path ("\Facturen\2024\"), "" when it is broken
};

struct SalvageFileReport {
    enum class Kind { Sub, Ocr, Main };
    enum class Outcome {
        Clean,       // every page read: nothing to salvage
        Salvaged,    // the copy took the damaged file's place
        WouldSalvage,  // report only: what a salvage would bring back
        Recreated,   // (OCR) set aside and made anew, empty
        WouldRecreate,
        InUse,       // another program holds the file: not read
        Failed       // not salvaged; `error` says why, nothing changed
    };
    Kind kind = Kind::Sub;
    Outcome outcome = Outcome::Clean;
    std::string file;       // full path
    long databaseId = 0;    // a sub database's number
    std::int64_t rowsRead = 0;      // rows whose every value read
    std::int64_t rowsSalvaged = 0;  // rows in the copy, proved equal
    std::int64_t rowsLost = 0;      // rows known to exist that did not read
    std::int64_t unreadableRanges = 0;  // stretches of row numbers the engine could not walk
    std::vector<SalvageLostDocument> lost;
    std::string setAsideAs;  // the name the damaged file now has ("" when it stayed)
    std::string error;
};

struct SalvageReport {
    std::vector<SalvageFileReport> files;
    bool reportOnly = false;
    // A damaged file could not be salvaged, or was not read.
    bool Failed() const {
        for (const SalvageFileReport& f : files)
            if (f.outcome == SalvageFileReport::Outcome::Failed || f.outcome == SalvageFileReport::Outcome::InUse)
                return true;
        return false;
    }
    std::int64_t LostDocuments() const {
        std::int64_t n = 0;
        for (const SalvageFileReport& f : files) n += static_cast<std::int64_t>(f.lost.size());
        return n;
    }
};

const char* SalvageKindWord(SalvageFileReport::Kind kind);
const char* SalvageOutcomeWord(SalvageFileReport::Outcome outcome);
// What a file gave, in Dutch, for the window's summary and the terminal
// alike; `shown` is the file as the reader should see it named.
std::string SalvageSummaryLine(const SalvageFileReport& file, const std::string& shown);

}  // namespace qx
