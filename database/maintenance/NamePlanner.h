#pragma once
// Free names for files set aside ("x.pdb.obsolete", then "x.pdb_001.obsolete",
// ...): taken is what exists, or what an earlier step of the same plan will
// put there. The renumbering and the reorganize plan name files alike.
#include "support/Env.h"

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace qx {

class NamePlanner {
public:
    explicit NamePlanner(Env& env) : m_env(env) {}
    std::string free(const std::string& path, const char* suffix) {
        std::string candidate = path + suffix;
        for (int n = 1; taken(candidate); ++n) {
            char counter[16];
            std::snprintf(counter, sizeof counter, "_%03d", n);
            candidate = path + counter + suffix;
        }
        m_reserved.insert(candidate);
        return candidate;
    }

private:
    bool taken(const std::string& p) const { return m_reserved.count(p) > 0 || m_env.KindOf(p) != EntryKind::None; }
    Env& m_env;
    std::set<std::string> m_reserved;
};

// The index of the first of `refs` that names the very file `file`; -1 when
// none does. Two list entries for one file are renumbered as one.
template <class Ref>
int FirstOfFile(const std::vector<Ref>& refs, const FileId& file) {
    for (std::size_t j = 0; j < refs.size(); ++j)
        if (refs[j].file == file) return static_cast<int>(j);
    return -1;
}

}  // namespace qx
