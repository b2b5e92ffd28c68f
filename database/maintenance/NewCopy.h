#pragma once
// A file with no name yet: its identity can go into the intent record
// before anything can find it, and a crash before it is named leaves
// nothing behind. Where the file system cannot make one, the file is
// created under its name at once (a crash before the record is written
// then leaves an empty copy, which is never overwritten). Compaction and
// salvage make their copies this way.
#include "support/Env.h"
#include "support/FileOperations.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace qx {

class NewCopy {
public:
    // createStep: the failpoint of creating it under its name, when it
    // cannot be made without one.
    NewCopy(Env& env, const std::string& folder, const std::string& path, std::string_view createStep)
        : m_env(env) {
        if (env.CreateUnnamedFile(folder, m_unnamed) == 0) {
            m_id = m_unnamed->Identity();
            return;
        }
        m_unnamed.reset();
        if (env.Step(createStep) == 0 && env.WriteNewEntry(path, {}) == 0) m_id = env.IdentityOf(path);
    }
    NewCopy(const NewCopy&) = delete;
    NewCopy& operator=(const NewCopy&) = delete;
    const std::optional<FileId>& id() const { return m_id; }
    // Gives it its name (EEXIST when taken) and makes the name durable.
    int link(const std::string& path, std::string_view point) {
        if (m_unnamed) {
            if (const int rc = m_env.Step(point)) return rc;
            if (const int rc = m_unnamed->Link(path)) return rc;
        }
        return m_env.SyncFolder(GetFolderPart(path), point);
    }

private:
    Env& m_env;
    std::unique_ptr<UnnamedFile> m_unnamed;
    std::optional<FileId> m_id;
};

}  // namespace qx
