#pragma once
// What a check found, kept in one place: the list, the counters, the JSON
// and the exit code are all read from these records, so they cannot tell
// different stories about the same run.
#include <cstddef>
#include <string>
#include <vector>

namespace qx {

struct Finding {
    long id = 0;              // the document; 0 for a finding about a file
    short code = 0;
    std::string subDatabase;  // as reported (a path or a file name)
    std::string name, virtualPath;
    bool repaired = false;    // IsRepaired(code): one rule for every code
    bool inMemory = false;    // a report-only run made the repair in memory only
    std::string state;        // the state text the list shows
};

class CheckFindings {
public:
    // A new check begins: nothing found, nothing cancelled, nothing in use.
    void clear() { *this = CheckFindings(); }
    void add(Finding finding);
    // The document was removed: its findings no longer count. True when it had any.
    bool forget(long id);

    const std::vector<Finding>& all() const { return m_findings; }
    // The findings from `first` on, put in `order` (positions counted from
    // `first`; a permutation of them).
    void reorder(std::size_t first, const std::vector<std::size_t>& order);
    long damaged() const { return m_damaged; }
    long fixed() const { return m_fixed; }

    // The check stopped before its end (Cancel, Ctrl-C, a refused
    // compaction): what it did not reach was not looked at.
    bool cancelled = false;
    long checked = 0, total = 0;  // documents reached and documents in the walk
    // Files another program held, which were therefore not read (once each).
    std::vector<std::string> inUse;
    void noteInUse(const std::string& path);
    // A write was refused because the disk is full.
    bool diskFull = false;
    // Why the check stopped before it read anything (a file it must not
    // write through); empty when it ran.
    std::string stopped;

private:
    std::vector<Finding> m_findings;
    long m_damaged = 0, m_fixed = 0;
};

}  // namespace qx
