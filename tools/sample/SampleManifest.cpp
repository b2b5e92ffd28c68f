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
    root["mainDatabase"] = text(mainDatabase);
    root["omdDatabase"] = text(omdDatabase);
    root["generation"] = generation;
    root["seed"] = static_cast<qint64>(seed);
    root["documentSize"] = static_cast<qint64>(documentSize);

    QJsonArray subs;
    for (const SampleSubDatabase& s : subDatabases) {
        QJsonObject o;
        o["number"] = static_cast<qint64>(s.number);
        o["path"] = text(s.path);
        o["storedPath"] = s.storedPath.empty() ? QJsonValue() : QJsonValue(text(s.storedPath));
        o["fileWritten"] = s.fileWritten;
        o["dataRows"] = static_cast<qint64>(s.dataRows);
        subs.append(o);
    }
    root["subDatabases"] = subs;

    QJsonObject counts;
    counts["folders"] = static_cast<qint64>(folders);
    counts["documents"] = static_cast<qint64>(documents);
    counts["documentRows"] = static_cast<qint64>(documentRows);
    counts["multipageDocuments"] = static_cast<qint64>(multipageDocuments);
    counts["pageRows"] = static_cast<qint64>(pageRows);
    counts["importedRows"] = static_cast<qint64>(importedRows);
    counts["trashedRows"] = static_cast<qint64>(trashedRows);
    counts["trashRows"] = static_cast<qint64>(trashRows);
    counts["dataRows"] = static_cast<qint64>(dataRows);
    counts["dataBytes"] = static_cast<qint64>(dataBytes);
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
    root["skippedFaults"] = skipped;
    return QJsonDocument(root);
}

}  // namespace qx
