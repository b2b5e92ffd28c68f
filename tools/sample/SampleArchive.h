#pragma once
// Writes archives of the product's shape for tests, benchmarks, the demo and
// anyone who wants to try the tool: a main database with a folder tree and
// documents, sub databases with real images and PDFs, the OCR database, and
// on request named faults, each recorded in a manifest with the documents or
// files that carry it.
#include <QJsonDocument>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qx {

struct SampleOptions {
    std::string directory;         // created when missing
    std::string name = "Archief";  // file name of the main database without ".dat"
    int generation = 8;            // 4 .. 8
    long documents = 200;          // documents with a FOLDERS row; a multipage document counts once
    long folders = 20;             // folders of the regular tree (fault folders come on top)
    // Sub databases that hold the regular documents; 0: as many as keep the
    // data of each below subDatabaseBytes, at least 3.
    int subDatabases = 3;
    // A reorganize stops filling a sub database at 640 MiB; a generated one
    // should not start out larger than the product would let it grow.
    long long subDatabaseBytes = 640LL * 1024 * 1024;
    long documentSize = 4096;      // approximate bytes stored per document
    std::vector<std::string> faults;
    // Every fault that fits the generation and the number of sub databases;
    // the others are listed as skipped instead of refused.
    bool allFaults = false;
    std::uint32_t seed = 1;
};

struct SampleSubDatabase {
    long number = 0;         // DATABASES.ID, or the number its file name carries
    std::string path;        // the file in the archive's folder
    std::string storedPath;  // DATABASES.DATABASE; "" when no row exists
    bool fileWritten = false;
    long dataRows = 0;
};

struct SampleManifest {
    std::string directory;
    std::string mainDatabase;
    std::string omdDatabase;
    int generation = 0;
    std::uint32_t seed = 0;
    long documentSize = 0;
    std::vector<SampleSubDatabase> subDatabases;

    long folders = 0;             // FOLDERS rows with ISFOLDER True
    long documents = 0;           // documents, a multipage document once
    long documentRows = 0;        // FOLDERS rows with ISFOLDER False
    long multipageDocuments = 0;  // healthy containers
    long pageRows = 0;            // rows with TEMPLATE1 "MC..."
    long importedRows = 0;        // documents with a non-graphical TEMPLATE1
    long trashedRows = 0;         // TRASHMARK True
    long trashRows = 0;           // rows of table trash
    long dataRows = 0;            // PICTURES rows over all sub databases
    long long dataBytes = 0;

    // Fault name -> the FOLDERS IDs (documents or folders) that carry it, or
    // the IDs of data rows without a document; and -> the files that carry it.
    std::map<std::string, std::vector<long>> faultIds;
    std::map<std::string, std::vector<std::string>> faultFiles;
    // Fault name -> why it was not applied (only with allFaults).
    std::map<std::string, std::string> skippedFaults;

    std::vector<std::string> appliedFaults() const;
    QJsonDocument toJson() const;
};

// Every fault the generator can inject, in a stable order.
const std::vector<std::string>& SampleFaultNames();

// Checks the options without touching the disk: ranges, the fault names,
// and whether the asked faults fit the generation, the number of sub
// databases and the number of documents. A failure is a usage error.
bool ValidateSampleOptions(const SampleOptions& options, std::string& error);

// The files the generator would create for these options (and the file a
// missing-file fault must not find). None may exist before a run.
std::vector<std::string> SampleArchiveFiles(const SampleOptions& options);

// Writes the archive. Refuses when any file it would write already exists;
// never overwrites. On failure the files it created are removed again and
// `error` says why.
bool WriteSampleArchive(const SampleOptions& options, SampleManifest& out, std::string& error);

// The sub databases the options ask for: subDatabases, or with 0 the number
// that keeps each below subDatabaseBytes. The smallest real picture or PDF
// takes a few hundred bytes whatever documentSize asks, and multipage
// documents add about a fifth in pages; the estimate counts both.
int SampleSubDatabaseCount(const SampleOptions& options);

// "4096", "64", "4K", "16k", "1M": bytes, or KiB and MiB with the suffix.
// False for anything else (fractions, signs, other suffixes, overflow).
bool ParseSampleSize(std::string_view text, long long& bytes);

}  // namespace qx
