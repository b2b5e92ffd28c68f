#include "database/maintenance/IntentRecord.h"
#include "database/maintenance/SalvageCopy.h"
#include "support/Env.h"
#include "support/FileOperations.h"
#include "support/Log.h"

namespace qx::salvage {

Replacement::Replacement(Env& env, std::string file, const std::string& folder, std::string intent)
    : m_env(env), m_file(std::move(file)), m_folder(folder), m_intent(std::move(intent)) {
    m_copyPath = m_env.UniqueFileName(m_file + ".salvaged");
    m_asidePath = m_env.UniqueFileName(m_file + ".damaged");
    m_asideName = GetFileNamePart(m_asidePath);
}

std::string Replacement::begin() {
    const std::optional<FileId> source = m_env.IdentityOf(m_file);
    m_copy.emplace(m_env, m_folder, m_copyPath);
    if (!source || !m_copy->id()) return "the copy cannot be created in " + m_folder;
    const std::string name = GetFileNamePart(m_file), copyName = GetFileNamePart(m_copyPath);
    IntentRecord record;
    record.operation = "salvage " + name;
    record.renames = {{name, m_asideName, *source}, {copyName, name, *m_copy->id()}};
    record.discards = {{copyName, *m_copy->id()}};
    if (const int rc = m_env.CreateDurableFile(m_intent, record.serialize(), "salvage.intent"))
        return "writing '" + m_intent + "': " + ErrorText(rc);
    m_recordWritten = true;
    if (const int rc = m_copy->link(m_copyPath)) return ErrorText(rc);
    return {};
}

void Replacement::discard() {
    // Only the file this run made: a name taken by anything else stays.
    if (m_copy && m_copy->id() && m_env.IdentityOf(m_copyPath) == m_copy->id())
        if (const int rc = m_env.RemoveDurably(m_copyPath, "salvage.discard"))
            WriteLog("Salvage: the copy '" + m_copyPath + "' stays (" + ErrorText(rc) + "); the next open removes it");
    if (m_recordWritten) finish();
}

int Replacement::swap(bool& stuck) {
    stuck = false;
    if (const int rc = m_env.RenameNoReplace(m_file, m_asidePath, "salvage.set_aside")) return rc;
    if (const int rc = m_env.RenameNoReplace(m_copyPath, m_file, "salvage.swap")) {
        if (const int back = m_env.RenameNoReplace(m_asidePath, m_file, "salvage.put_back")) {
            WriteLog("Salvage: " + m_file + " is set aside as '" + m_asidePath + "' (" + ErrorText(back) +
                     "); the next open of the archive puts the salvaged copy in its place");
            stuck = true;
        }
        return rc;
    }
    return 0;
}

void Replacement::finish() {
    if (const int rc = m_env.RemoveDurably(m_intent, "intent.remove"))
        WriteLog("Salvage: the intent record '" + m_intent + "' stays (" + ErrorText(rc) +
                 "); the next open removes it");
    m_recordWritten = false;
}

}  // namespace qx::salvage
