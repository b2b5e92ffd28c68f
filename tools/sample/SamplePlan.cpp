#include "tools/sample/SamplePlan.h"

#include "database/access/Schema.h"
#include "support/FileOperations.h"
#include "tools/sample/SampleContent.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace qx::sample {

namespace {

const char* kTopFolders[] = {"Administratie", "Klanten", "Leveranciers", "Personeel",
                             "Projecten", "Correspondentie", "Contracten", "Belastingen"};
constexpr int kMaxDepth = 4;

}  // namespace

const std::vector<FaultInfo>& Faults() {
    // name, documents, items, min sub databases, min generation, needs trash
    static const std::vector<FaultInfo> all = {
        {"no-data-row", 3, 3, 1, 4, false},
        {"data-in-other-sub-database", 3, 3, 2, 4, false},
        {"empty-data-with-copy", 3, 3, 2, 4, false},
        {"empty-data-without-copy", 3, 3, 1, 4, false},
        {"unreferenced-empty-data", 0, 3, 1, 4, false},
        {"unreferenced-data", 0, 3, 1, 4, false},
        {"orphan-page-no-container", 1, 1, 1, 4, false},
        {"orphan-page-container-not-mp", 2, 1, 1, 4, false},
        {"parent-missing", 3, 3, 1, 4, false},
        {"parent-cycle", 3, 3, 1, 4, false},
        {"databaseid-zero", 3, 3, 1, 4, false},
        {"databases-row-missing", 3, 3, 1, 4, false},
        {"sub-database-file-missing", 3, 3, 1, 4, false},
        {"archive-folder-moved", 0, 0, 1, 4, false},
        {"unopenable-sub-database", 3, 3, 1, 4, false},
        // The storage format is only examined in generation-8 archives.
        {"double-byte-pdf", 3, 3, 1, 8, false},
        {"zero-upper-half", 3, 3, 1, 8, false},
        {"undecodable-image", 3, 3, 1, 4, false},
        {"trashed-without-trash-rows", 3, 3, 1, 4, true},
        {"empty-folders", 0, 0, 1, 4, false},
        {"large-documents", 2, 2, 1, 4, false},
        {"same-id-different-data", 3, 3, 2, 4, false},
        {"sub-database-number-gaps", 0, 0, 1, 4, false},
        {"unreferenced-sub-database", 0, 0, 1, 4, false},
        {"omd-missing", 0, 0, 1, 4, false},
        {"omd-damaged", 0, 0, 1, 4, false},
        // For the thorough check: a photograph cut short, a scan whose last
        // page is lost, the 12-byte widened PDF of the storage-format
        // example, and a generation-8 main database from before the trash.
        {"truncated-jpeg", 3, 3, 1, 4, false},
        {"damaged-tiff-page", 3, 3, 1, 4, false},
        // A document whose only copy, in another sub database, does not load.
        {"damaged-copy-in-other-sub-database", 3, 3, 2, 4, false},
        // JPEG, progressive JPEG and PNG headers declaring 30000x30000 pixels.
        {"oversized-images", 3, 3, 1, 4, false},
        {"worked-example-pdf", 1, 1, 1, 8, false},
        {"no-trash-support", 0, 0, 1, 8, false},
    };
    return all;
}

std::string AbsoluteDirectory(const SampleOptions& o) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(PathFromUtf8(o.directory), ec).lexically_normal();
    std::string s = PathToUtf8(p);
    while (s.size() > 1 && IsPathSeparator(s.back())) s.pop_back();
    return s;
}

std::string MainPath(const SampleOptions& o) {
    return AbsoluteDirectory(o) + PathSeparator() + o.name + ".dat";
}

bool Plan::resolveFaults(const SampleOptions& o, std::string& error) {
    std::vector<std::string> asked = o.faults;
    if (o.allFaults) {
        asked.clear();
        for (const FaultInfo& f : Faults()) asked.push_back(f.name);
    }
    for (const std::string& name : asked) {
        auto it = std::find_if(Faults().begin(), Faults().end(), [&](const FaultInfo& f) { return name == f.name; });
        if (it == Faults().end()) {
            error = "Unknown fault '" + name + "'.";
            return false;
        }
        std::string why;
        if (o.subDatabases < it->minSubDatabases)
            why = "needs at least " + std::to_string(it->minSubDatabases) + " sub databases";
        else if (o.generation < it->minGeneration)
            why = "needs generation " + std::to_string(it->minGeneration) + " or later";
        else if (it->needsTrash && !GenerationHasTrash(o.generation))
            why = "needs a generation with trash support (7 or 8)";
        if (why.empty()) {
            applied.insert(name);
        } else if (o.allFaults) {
            skipped[name] = why;
        } else {
            error = "The fault '" + name + "' " + why + ".";
            return false;
        }
    }
    if (has("omd-missing") && has("omd-damaged")) {
        if (!o.allFaults) {
            error = "The faults 'omd-missing' and 'omd-damaged' exclude each other.";
            return false;
        }
        applied.erase("omd-missing");
        skipped["omd-missing"] = "the OCR database is damaged instead; one file cannot be both";
    }
    if (has("no-trash-support") && has("trashed-without-trash-rows")) {
        if (!o.allFaults) {
            error = "The faults 'no-trash-support' and 'trashed-without-trash-rows' exclude each other.";
            return false;
        }
        applied.erase("no-trash-support");
        skipped["no-trash-support"] = "trashed documents need the trash column; one archive cannot lack it and have them";
    }
    return true;
}

int Plan::slotOf(SlotRole role) const {
    for (std::size_t i = 0; i < subs.size(); ++i)
        if (subs[i].role == role) return static_cast<int>(i);
    return -1;
}

std::string Plan::virtualPath(long folderId) const {
    std::string path;
    for (int steps = 0; folderId > 0 && steps <= 128; ++steps) {
        if (folderId > static_cast<long>(folders.size())) break;
        const Folder& f = folders[static_cast<std::size_t>(folderId - 1)];
        path = f.name + "\\" + path;
        folderId = f.parent;
    }
    return "\\" + path;
}

// A tree a few levels deep with no more leaves than there are healthy
// documents to put in them, so that no folder is empty by accident: once
// the leaves are as many as the documents, a new folder goes below a leaf.
void Plan::buildFolders(const SampleOptions& o) {
    Rng rng(o.seed ^ 0x85ebca6bu);
    const long budget = std::max(1L, healthy);
    const long count = o.folders;
    std::vector<int> depth, children;
    std::vector<long> open;        // indexes with room below
    std::vector<long> leafList;    // indexes of current leaves
    std::vector<long> leafAt;      // index -> position in leafList, -1 when none
    const long top = std::min({count, budget, std::max(1L, std::lround(std::sqrt(static_cast<double>(count))))});
    for (long i = 0; i < count; ++i) {
        Folder f;
        f.id = i + 1;
        long parentIndex = -1;
        if (i >= top) {
            if (static_cast<long>(leafList.size()) < budget && !open.empty())
                parentIndex = open[rng.below(open.size())];
            else
                parentIndex = leafList[rng.below(leafList.size())];
        }
        int d = 1;
        if (parentIndex >= 0) {
            f.parent = parentIndex + 1;
            d = depth[parentIndex] + 1;
            const int nth = children[parentIndex]++;
            f.name = d == 2 ? std::to_string(2004 + nth % 9) + (nth >= 9 ? " " + std::to_string(nth / 9 + 1) : "")
                            : "Map " + std::to_string(nth + 1);
            if (leafAt[parentIndex] >= 0) {  // the parent is a leaf no more
                const long pos = leafAt[parentIndex];
                leafAt[leafList.back()] = pos;
                leafList[pos] = leafList.back();
                leafList.pop_back();
                leafAt[parentIndex] = -1;
            }
        } else {
            f.name = kTopFolders[i % 8];
            if (i >= 8) f.name += " " + std::to_string(i / 8 + 1);
        }
        depth.push_back(d);
        children.push_back(0);
        leafAt.push_back(static_cast<long>(leafList.size()));
        leafList.push_back(i);
        if (d < kMaxDepth) open.push_back(i);
        folders.push_back(std::move(f));
    }
    regularFolders = count;
    std::sort(leafList.begin(), leafList.end());
    for (long i : leafList) leaves.push_back(i + 1);

    auto add = [&](long parent, std::string name) {
        Folder f;
        f.id = static_cast<long>(folders.size()) + 1;
        f.parent = parent;
        f.name = std::move(name);
        folders.push_back(f);
        return f.id;
    };
    if (has("parent-cycle")) {
        cycleA = add(0, "Oud archief");
        cycleB = add(cycleA, "Overdracht");
        folders[static_cast<std::size_t>(cycleA - 1)].parent = cycleB;
    }
    if (has("empty-folders")) {
        auto somewhere = [&]() { return count > 0 ? static_cast<long>(rng.below(static_cast<std::uint64_t>(count))) + 1 : 0L; };
        emptyFolders.push_back(add(0, "Nieuwe map"));
        emptyFolders.push_back(add(somewhere(), "Te verwerken"));
        // Only the innermost of two nested new folders is empty.
        const long outer = add(somewhere(), "Scans");
        emptyFolders.push_back(add(outer, "Nog te sorteren"));
    }
    if (has("parent-missing")) deletedFolder = static_cast<long>(folders.size()) + 1;
    firstItemId = static_cast<long>(folders.size()) + (deletedFolder ? 2 : 1);
}

void Plan::buildSchedule(const SampleOptions& o) {
    std::vector<Special> specials;
    for (const FaultInfo& f : Faults())
        if (has(f.name))
            for (int k = 0; k < f.items; ++k) specials.push_back({f.name, k});
    totalItems = static_cast<std::uint64_t>(healthy) + specials.size();
    Rng rng(o.seed ^ 0xc2b2ae35u);
    std::set<std::uint64_t> used;
    for (Special& s : specials) {
        std::uint64_t pos;
        do pos = rng.below(totalItems);
        while (!used.insert(pos).second);
        schedule.emplace_back(pos, std::move(s));
    }
    std::sort(schedule.begin(), schedule.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
}

bool Plan::build(const SampleOptions& asked, std::string& error) {
    if (asked.subDatabases == 0 && asked.subDatabaseBytes < 1)
        return error = "The size limit of a sub database must be at least 1 byte.", false;
    SampleOptions o = asked;
    o.subDatabases = SampleSubDatabaseCount(asked);
    if (o.directory.empty()) return error = "No folder was given.", false;
    if (o.name.empty() || o.name.find_first_of("/\\:*?\"<>|") != std::string::npos || o.name == "." ||
        o.name == "..")
        return error = "The archive name '" + o.name + "' is not a plain file name.", false;
    if (PasswordForGeneration(o.generation).empty() || o.generation < kOldestGeneration ||
        o.generation > kCurrentGeneration)
        return error = "The generation must lie between 4 and 8.", false;
    if (o.documents < 0 || o.documents > 100'000'000) return error = "--documents must lie between 0 and 100000000.", false;
    if (o.folders < 0 || o.folders > 1'000'000) return error = "--folders must lie between 0 and 1000000.", false;
    if (o.subDatabases < 1 || o.subDatabases > 1000) return error = "--sub-databases must lie between 1 and 1000.", false;
    if (o.documentSize < 1 || o.documentSize > 16L * 1024 * 1024)
        return error = "--document-size must lie between 1 and 16777216 bytes.", false;
    if (!resolveFaults(o, error)) return false;

    long victims = 0;
    for (const FaultInfo& f : Faults())
        if (has(f.name)) victims += f.documents;
    healthy = o.documents - victims;
    if (healthy < 0 || (o.folders > 0 && healthy < 1)) {
        error = "The faults asked for use " + std::to_string(victims) + " documents";
        error += o.folders > 0 ? " and the folders need at least one healthy document" : "";
        error += "; ask for at least " + std::to_string(victims + (o.folders > 0 ? 1 : 0)) + " documents.";
        return false;
    }

    const bool gaps = has("sub-database-number-gaps");
    std::vector<SlotRole> roles(static_cast<std::size_t>(o.subDatabases), SlotRole::Regular);
    if (has("databases-row-missing")) roles.push_back(SlotRole::RowMissing);
    if (has("unreferenced-sub-database")) roles.push_back(SlotRole::Unreferenced);
    // Last, because the link check stops at the first sub database it cannot open.
    if (has("sub-database-file-missing")) roles.push_back(SlotRole::FileMissing);
    if (has("unopenable-sub-database")) roles.push_back(SlotRole::Unopenable);
    for (std::size_t j = 0; j < roles.size(); ++j) {
        Slot s;
        s.role = roles[j];
        s.number = gaps ? 2 * static_cast<long>(j + 1) : static_cast<long>(j + 1);
        s.registered = s.role != SlotRole::RowMissing;
        subs.push_back(s);
    }
    regularSubs = static_cast<std::size_t>(o.subDatabases);
    trashRows = GenerationHasTrash(o.generation) && !(o.generation == 8 && has("trashed-without-trash-rows")) &&
                !has("no-trash-support");

    buildFolders(o);
    buildSchedule(o);
    return true;
}

}  // namespace qx::sample

namespace qx {

int SampleSubDatabaseCount(const SampleOptions& o) {
    if (o.subDatabases != 0 || o.documents < 0 || o.subDatabaseBytes < 1) return o.subDatabases;
    // A page of a 16 KiB-page file holds rows of a few hundred bytes with
    // little waste, so the rows' own bytes are what fills it.
    constexpr long long kSmallestDocument = 450;
    const long long perDocument = std::max<long long>(o.documentSize, kSmallestDocument);
    const long double bytes = static_cast<long double>(o.documents) * perDocument * 6 / 5;
    const long double files = std::ceil(bytes / static_cast<long double>(o.subDatabaseBytes));
    return static_cast<int>(std::clamp<long double>(files, 3, 1000));
}

bool ParseSampleSize(std::string_view text, long long& bytes) {
    long long unit = 1;
    if (!text.empty() && (text.back() == 'K' || text.back() == 'k')) unit = 1024;
    else if (!text.empty() && (text.back() == 'M' || text.back() == 'm')) unit = 1024 * 1024;
    if (unit != 1) text.remove_suffix(1);
    if (text.empty() || text.size() > 12) return false;
    long long n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    bytes = n * unit;
    return true;
}

}  // namespace qx
