#pragma once
// What a sample archive will hold, decided before any file is written: the
// faults that apply, the sub database files and their numbers, the folder
// tree, and where in the stream of documents each damaged one goes. Small
// whatever the number of documents, so that writing can stream.
#include "tools/sample/SampleArchive.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qx::sample {

// The archive's folder, absolute, and the main database in it.
std::string AbsoluteDirectory(const SampleOptions& o);
std::string MainPath(const SampleOptions& o);

struct FaultInfo {
    const char* name;
    int documents;        // documents with a FOLDERS row it uses up
    int items;            // places it takes in the document stream
    int minSubDatabases;  // needs another sub database to hold a copy
    int minGeneration;
    bool needsTrash;
};
const std::vector<FaultInfo>& Faults();

enum class SlotRole {
    Regular,       // holds the documents
    RowMissing,    // file with documents, but no DATABASES row
    Unreferenced,  // registered, no document refers to it
    FileMissing,   // registered, documents refer to it, no file
    Unopenable,    // registered, documents refer to it, the file is no database
};

struct Slot {
    SlotRole role = SlotRole::Regular;
    long number = 0;
    bool registered = true;
};

struct Folder {
    long id = 0;
    long parent = 0;
    std::string name;
};

struct Special {
    std::string fault;
    int k = 0;  // which of the fault's victims
};

class Plan {
public:
    // Usage problems (ranges, names, faults that do not fit) fail here.
    // Options with subDatabases 0 get their count here (SampleSubDatabaseCount).
    bool build(const SampleOptions& asked, std::string& error);

    bool has(std::string_view fault) const { return applied.count(std::string(fault)) != 0; }
    // Index of the slot with the role, or -1.
    int slotOf(SlotRole role) const;
    // "\A\B\" for a folder B inside top-level folder A; "\" for 0.
    std::string virtualPath(long folderId) const;

    std::set<std::string> applied;
    std::map<std::string, std::string> skipped;

    std::vector<Slot> subs;
    std::size_t regularSubs = 0;

    std::vector<Folder> folders;  // every folder row, ids 1 .. n in order
    std::vector<long> leaves;     // regular folders without sub-folders
    long regularFolders = 0;
    long cycleA = 0, cycleB = 0;
    std::vector<long> emptyFolders;
    long deletedFolder = 0;  // an id that once was a folder

    long firstItemId = 0;
    long healthy = 0;             // documents without a fault
    std::uint64_t totalItems = 0;  // healthy + special
    std::vector<std::pair<std::uint64_t, Special>> schedule;  // by position

    bool trashRows = false;  // trashed healthy documents get their trash row

private:
    bool resolveFaults(const SampleOptions& o, std::string& error);
    void buildFolders(const SampleOptions& o);
    void buildSchedule(const SampleOptions& o);
};

}  // namespace qx::sample
