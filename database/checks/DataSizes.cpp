// The sizes of the stored data, read as one stream per sub database beside
// the walk, and the rows with data under the ID of a document of another
// sub database, found from what the streams met and no document asked for.

#include "database/CDatabase.h"
#include "database/ProgressWindow.h"
#include "database/access/FileNames.h"
#include "database/access/SubDatabasePlace.h"
#include "database/checks/Backup.h"
#include "database/checks/CheckSupport.h"
#include "database/checks/CheckResume.h"
#include "database/checks/ImagesAhead.h"
#include "database/checks/ResultCodes.h"
#include "database/maintenance/WorkProgress.h"
#include "support/HumanFormat.h"
#include "support/FileOperations.h"
#include "support/Log.h"
#include "support/Settings.h"
#include "support/TextResources.h"
#include "support/Tools.h"
#include "support/engine/Recordset.h"

#include <QDateTime>

#include <optional>
#include <algorithm>
#include <climits>
#include <cmath>
#include <map>
#include <numeric>
#include <tuple>

namespace qx {

void CDatabase::ReportSecondCopies(DataSizes& sizes, const std::unordered_map<long, std::string>& readFrom,
                                   std::vector<ConnectionPtr>& keptOpen, ErrorTrap& trap) {
    sizes.endStream();
    // A file the walk closed again is opened once more, for reading only.
    std::vector<ConnectionPtr> reopened;
    auto reach = [&](const std::string& path) -> engine::Connection* {
        if (Connected(m_AdoCnPdb) && m_AdoCnPdb->dataSource() == path) return m_AdoCnPdb.get();
        for (auto* pool : {&keptOpen, &reopened})
            for (ConnectionPtr& cn : *pool)
                if (Connected(cn) && cn->dataSource() == path) return cn.get();
        auto cn = std::make_unique<engine::Connection>(*m_env);
        if (!cn->open(ReadOnlyConnectString(ConnectString(path, Settings::Get().DatabasePassword)))) return nullptr;
        reopened.push_back(std::move(cn));
        return reopened.back().get();
    };
    // Every file is read to its end: rows past its last document's ID may
    // be copies as well.
    std::vector<std::string> paths;
    for (const auto& [path, file] : sizes.files) paths.push_back(path);
    std::sort(paths.begin(), paths.end());
    for (const std::string& path : paths) {
        DataSizes::File& file = sizes.files.at(path);
        if (file.failed || file.ended) continue;
        engine::Connection* cn = reach(path);
        if (!cn) {
            file.failed = true;  // not read to its end: no judgement from it
            continue;
        }
        sql::Error error;
        if (!sizes.finish(*cn, file, error)) {
            // Damage behind the last document is damage of the file all the same.
            trap.logReported(error);
            m_walkPlace = {true, LONG_MAX, LONG_MAX};
            ReportResult(0, ResultPdbDamaged, GetFileNamePart(path), "", "");
        }
    }
    // The IDs with data no document asked for, and the files holding it.
    std::map<std::int64_t, std::vector<std::string>> unasked;
    for (const auto& [path, file] : sizes.files)
        if (!file.failed && file.ended)
            for (const std::int64_t id : file.unasked) unasked[id].push_back(path);
    std::sort(sizes.relinked.begin(), sizes.relinked.end());
    std::vector<std::pair<long, std::string>> read(readFrom.begin(), readFrom.end());
    std::sort(read.begin(), read.end());
    sql::Statement* docRow =
        m_AdoCnMain->prepared("SELECT PARENT, NAME, DATABASEID FROM FOLDERS WHERE ID = ? AND NOT ISFOLDER");
    if (!docRow) return trap(*m_AdoCnMain);
    for (const auto& [id, holders] : unasked) {
        // A document the walk moved had no data of its own where it was.
        if (std::binary_search(sizes.relinked.begin(), sizes.relinked.end(), id)) continue;
        docRow->bind(1, id);
        const sql::Step found = docRow->step();
        if (found != sql::Step::Row) {
            if (found == sql::Step::Failed) trap(docRow->error());
            docRow->reset();
            continue;
        }
        const bool inFolder = !docRow->isNull(0);
        const long parent = static_cast<long>(docRow->getInt64(0));
        const std::string name = docRow->isNull(1) ? std::string() : docRow->getText(1);
        const long databaseId = static_cast<long>(docRow->getInt64(2));
        docRow->reset();
        // Another sub database's row with data under a document's ID, while
        // the document's own sub database holds its data, belongs to no
        // document: said, never moved onto it.
        const auto own = readFrom.find(databaseId);
        if (own == readFrom.end()) continue;
        const auto ownFile = sizes.files.find(own->second);
        if (ownFile == sizes.files.end() || ownFile->second.failed || !ownFile->second.ended) continue;
        engine::Connection* ownCn = reach(own->second);
        if (!ownCn) continue;
        sql::Statement* size = ownCn->prepared("SELECT length(PICTURE) FROM PICTURES WHERE ID = ?");
        if (!size) continue;
        size->bind(1, id);
        const bool ownHasData = size->step() == sql::Step::Row && !size->isNull(0) && size->getInt64(0) > 0;
        size->reset();
        if (!ownHasData) continue;
        for (const auto& [otherId, other] : read) {
            // Two rows may name one file: that is no second copy.
            if (otherId == databaseId || other == own->second ||
                std::find(holders.begin(), holders.end(), other) == holders.end())
                continue;
            std::string virtualPath;
            long pathId = static_cast<long>(id);
            if (VirtualDocumentPath(pathId, virtualPath) != 0) virtualPath = "\\";
            m_walkPlace = {inFolder, inFolder ? parent : 0, static_cast<long>(id)};
            WriteLog(std::to_string(id) + " - Unreferenced data with the ID of a document of another sub database");
            ReportResult(static_cast<long>(id), ResultStrayDuplicate, other, name, virtualPath);
        }
    }
}

CDatabase::DataSizes::Answer CDatabase::DataSizes::streamTo(engine::Connection& pdb, File& file, std::int64_t id) {
    Answer answer;
    if (file.ended) {
        answer.kind = Kind::Absent;  // asked past the last row
        return answer;
    }
    if (!stream) {
        // Going on after the rows already passed, or from the first row.
        stream.emplace(pdb.database(), file.started
                                           ? "SELECT ID, length(PICTURE) FROM PICTURES WHERE ID > ? ORDER BY ID"
                                           : "SELECT ID, length(PICTURE) FROM PICTURES ORDER BY ID");
        if (file.started) stream->bind(1, file.readTo);
        haveRow = false;
    }
    for (;;) {
        if (!haveRow) {
            const sql::Step s = stream->ok() ? stream->step() : sql::Step::Failed;
            if (s == sql::Step::Done) {
                file.ended = true;
                break;
            }
            if (s == sql::Step::Failed) {
                answer.kind = Kind::Unreadable;
                answer.error = stream->ok() ? stream->error() : pdb.database().lastError();
                answer.firstFailure = true;
                file.failed = true;
                file.unasked.clear();
                const auto core = streamCore;
                endStream();
                streamCore = core;
                streamFile = &file;
                return answer;
            }
            rowId = stream->getInt64(0);
            rowSize = stream->isNull(1) ? 0 : stream->getInt64(1);
            haveRow = true;
        }
        if (rowId >= id) break;
        if (rowSize > 0) file.unasked.push_back(rowId);
        file.readTo = rowId;
        file.started = true;
        haveRow = false;
    }
    if (haveRow && rowId == id) {
        answer.kind = Kind::Found;
        answer.size = rowSize;
        haveRow = false;
    } else {
        answer.kind = Kind::Absent;
    }
    if (!file.ended) {
        file.readTo = id;
        file.started = true;
    }
    return answer;
}

bool CDatabase::DataSizes::finish(engine::Connection& pdb, File& file, sql::Error& error) {
    endStream();
    streamCore = pdb.core();
    streamFile = &file;
    while (!file.ended && !file.failed) {
        const Answer a = streamTo(pdb, file, INT64_MAX);
        if (a.kind == Kind::Unreadable) error = a.error;
        else if (a.kind == Kind::Found && a.size > 0) file.unasked.push_back(INT64_MAX);
    }
    endStream();
    return !file.failed;
}

CDatabase::DataSizes::Answer CDatabase::DataSizes::sizeOf(engine::Connection& pdb, long id) {
    Answer answer;
    if (!perDocument) {
        if (!streamFile || streamCore != pdb.core()) {
            endStream();
            streamCore = pdb.core();
            streamFile = &files[pdb.dataSource()];
        }
        File& file = *streamFile;
        // Asked again for an ID the pass went by: that row alone.
        if (!file.failed && !(file.started && id <= file.readTo)) {
            answer = streamTo(pdb, file, id);
            if (answer.kind != Kind::Unreadable) return answer;
            // The sub database is damaged somewhere: this document's row is
            // asked for alone, and so are the ones after it.
        }
    }
    sql::Statement* one = pdb.prepared("SELECT length(PICTURE) FROM PICTURES WHERE ID = ?");
    if (!one) {
        answer.kind = Kind::Unreadable;
        answer.error = pdb.database().lastError();
        return answer;
    }
    one->bind(1, static_cast<std::int64_t>(id));
    const sql::Step step = one->step();
    if (step == sql::Step::Row) {
        answer.kind = Kind::Found;
        answer.size = one->isNull(0) ? 0 : one->getInt64(0);
    } else if (step == sql::Step::Done) {
        answer.kind = Kind::Absent;
    } else {
        answer.kind = Kind::Unreadable;
        answer.error = one->error();
    }
    one->reset();
    return answer;
}

}  // namespace qx
