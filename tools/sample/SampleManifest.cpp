#include "tools/sample/SampleArchive.h"

#include <QJsonArray>
#include <QJsonObject>

namespace qx {

std::vector<std::string> SampleManifest::appliedFaults() const {
    std::vector<std::string> out;
    for (const std::string& name : SampleFaultNames())
        if (faultIds.count(name) || faultFiles.count(name)) out.push_back(name);
    return out;
}

QJsonDocument SampleManifest::toJson() const {
    auto text = [](const std::string& s) { return QString::fromStdString(s); };
    QJsonObject root;
    root["directory"] = text(directory);
    root["main_database"] = text(mainDatabase);
    root["omd_database"] = text(omdDatabase);
    root["generation"] = generation;
    root["seed"] = static_cast<qint64>(seed);
    root["document_size"] = static_cast<qint64>(documentSize);

    QJsonArray subs;
    for (const SampleSubDatabase& s : subDatabases) {
        QJsonObject o;
        o["number"] = static_cast<qint64>(s.number);
        o["path"] = text(s.path);
        o["stored_path"] = s.storedPath.empty() ? QJsonValue() : QJsonValue(text(s.storedPath));
        o["file_written"] = s.fileWritten;
        o["data_rows"] = static_cast<qint64>(s.dataRows);
        subs.append(o);
    }
    root["sub_databases"] = subs;

    QJsonObject counts;
    counts["folders"] = static_cast<qint64>(folders);
    counts["documents"] = static_cast<qint64>(documents);
    counts["document_rows"] = static_cast<qint64>(documentRows);
    counts["multipage_documents"] = static_cast<qint64>(multipageDocuments);
    counts["page_rows"] = static_cast<qint64>(pageRows);
    counts["imported_rows"] = static_cast<qint64>(importedRows);
    counts["trashed_rows"] = static_cast<qint64>(trashedRows);
    counts["trash_rows"] = static_cast<qint64>(trashRows);
    counts["data_rows"] = static_cast<qint64>(dataRows);
    counts["data_bytes"] = static_cast<qint64>(dataBytes);
    root["counts"] = counts;

    QJsonObject faults;
    for (const std::string& name : appliedFaults()) {
        QJsonObject o;
        QJsonArray ids, files;
        if (auto it = faultIds.find(name); it != faultIds.end())
            for (long id : it->second) ids.append(static_cast<qint64>(id));
        if (auto it = faultFiles.find(name); it != faultFiles.end())
            for (const std::string& f : it->second) files.append(text(f));
        o["ids"] = ids;
        o["files"] = files;
        faults[text(name)] = o;
    }
    root["faults"] = faults;
    QJsonObject skipped;
    for (const auto& [name, why] : skippedFaults) skipped[text(name)] = text(why);
    root["skipped_faults"] = skipped;
    return QJsonDocument(root);
}

}  // namespace qx
