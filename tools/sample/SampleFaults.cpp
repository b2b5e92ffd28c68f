// The named faults of a sample archive, written on top of the healthy ones.
#include "tools/sample/SampleWriter.h"

namespace qx::sample {

bool Writer::plainDoc(const std::string& fault, long parent, std::size_t slot, long databaseId, bool withData) {
    DocRow d = newDoc(parent, databaseId);
    Template& t = pick(ContentKind::Scan);
    d.width = t.width, d.height = t.height;
    record(fault, d.id);
    return docRow(d) && (!withData || data(slot, d.id, t.stamp(d.id)));
}

bool Writer::writeSpecial(const sample::Special& sp, std::size_t home) {
    const std::string& f = sp.fault;
    const std::size_t other = (home + 1) % m_plan.regularSubs;
    const long homeNo = m_plan.subs[home].number;
    const long parent = randomFolder();
    m_man.documents += f.rfind("unreferenced-", 0) == 0 ? 0 : f == "orphan-page-container-not-mp" ? 2 : 1;

    if (f == "no-data-row") return plainDoc(f, parent, home, homeNo, false);
    if (f == "parent-missing") return plainDoc(f, m_plan.deletedFolder, home, homeNo, true);
    if (f == "parent-cycle") return plainDoc(f, sp.k % 2 ? m_plan.cycleB : m_plan.cycleA, home, homeNo, true);
    // At the top level: opening the archive deletes these rows, and a folder
    // must not turn empty because of it.
    if (f == "databaseid-zero") return plainDoc(f, 0, home, 0, false);
    if (f == "databases-row-missing" || f == "sub-database-file-missing" || f == "unopenable-sub-database") {
        const sample::SlotRole role = f == "databases-row-missing" ? sample::SlotRole::RowMissing
                                      : f == "sub-database-file-missing" ? sample::SlotRole::FileMissing
                                                                          : sample::SlotRole::Unopenable;
        const std::size_t slot = static_cast<std::size_t>(m_plan.slotOf(role));
        if (sp.k == 0) m_man.faultFiles[f].push_back(m_man.subDatabases[slot].path);
        return plainDoc(f, parent, slot, m_plan.subs[slot].number, role == sample::SlotRole::RowMissing);
    }
    if (f == "data-in-other-sub-database" || f == "empty-data-with-copy" || f == "empty-data-without-copy" ||
        f == "same-id-different-data") {
        DocRow d = newDoc(parent, homeNo);
        Template& t = pick(ContentKind::Scan);
        d.width = t.width, d.height = t.height;
        record(f, d.id);
        if (!docRow(d)) return false;
        if (f == "data-in-other-sub-database") return data(other, d.id, t.stamp(d.id));
        if (f == "empty-data-without-copy") return data(home, d.id, {}, true);
        if (f == "empty-data-with-copy") return data(home, d.id, {}, true) && data(other, d.id, t.stamp(d.id));
        // Different sizes: copies of equal size count as the same document.
        const auto& mine = t.stamp(d.id);
        if (!data(home, d.id, mine)) return false;
        std::vector<std::uint8_t> theirs = m_alternative.stamp(d.id);
        if (theirs.size() == mine.size()) theirs.push_back('\n');
        return data(other, d.id, theirs);
    }
    if (f == "damaged-copy-in-other-sub-database") {
        DocRow d = newDoc(parent, homeNo);
        d.width = 320, d.height = 240;
        record(f, d.id);
        return docRow(d) && data(other, d.id, sample::TruncatedJpeg(320, 240, 60, static_cast<std::uint32_t>(d.id)));
    }
    if (f == "unreferenced-empty-data" || f == "unreferenced-data") {
        // The document row was deleted; its number is never handed out again.
        const long id = m_nextId++;
        record(f, id);
        if (f == "unreferenced-empty-data") return data(home, id, {}, true);
        return data(home, id, pick(ContentKind::Photo).stamp(id));
    }
    if (f == "orphan-page-no-container" || f == "orphan-page-container-not-mp") {
        long container = m_nextId++;  // deleted, unless it becomes a plain document below
        DocRow base = newDoc(parent, homeNo);
        base.id = container;
        if (f == "orphan-page-container-not-mp") {
            Template& t = pick(ContentKind::Photo);
            base.width = t.width, base.height = t.height;
            if (!docRow(base) || !data(home, base.id, t.stamp(base.id))) return false;
        }
        for (int p = 2; p <= 4; ++p) {
            DocRow page = base;
            page.id = m_nextId++;
            page.template1 = "MC" + std::to_string(container);
            page.page = p;
            Template& t = pick(ContentKind::Scan);
            page.width = t.width, page.height = t.height;
            record(f, page.id);
            if (!docRow(page) || !data(home, page.id, t.stamp(page.id))) return false;
        }
        return true;
    }
    DocRow d = newDoc(parent, homeNo);
    record(f, d.id);
    if (f == "double-byte-pdf" || f == "zero-upper-half") {
        d.template1 = "PDF";
        const auto& pdf = pick(ContentKind::Pdf).stamp(d.id);
        const auto bytes = f == "double-byte-pdf" ? sample::Widened(pdf) : sample::ZeroUpperHalf(pdf);
        return docRow(d) && data(home, d.id, bytes);
    }
    if (f == "worked-example-pdf") {
        d.template1 = "PDF";
        return docRow(d) && data(home, d.id, sample::WidenedPdfExample());
    }
    if (f == "truncated-jpeg" || f == "damaged-tiff-page") {
        const std::uint32_t seed = static_cast<std::uint32_t>(d.id);
        const auto bytes = f == "truncated-jpeg" ? sample::TruncatedJpeg(320, 240, 60, seed)
                                                 : sample::MultipageTiff(3, 400, 560, seed, true);
        d.width = f == "truncated-jpeg" ? 320 : 400, d.height = f == "truncated-jpeg" ? 240 : 560;
        return docRow(d) && data(home, d.id, bytes);
    }
    if (f == "oversized-images") {
        d.width = d.height = 30000;
        return docRow(d) && data(home, d.id, sample::OversizedImage(sp.k % 3, 30000));
    }
    if (f == "undecodable-image") {
        const auto bytes = sample::UndecodableImage(m_opt.documentSize, m_byteRng);
        return docRow(d) && data(home, d.id, bytes);
    }
    if (f == "trashed-without-trash-rows") {
        Template& t = pick(ContentKind::Scan);
        d.width = t.width, d.height = t.height;
        d.trashed = true;
        return docRow(d) && data(home, d.id, t.stamp(d.id));
    }
    if (f == "large-documents") {
        d.width = m_large.width, d.height = m_large.height;
        return docRow(d) && data(home, d.id, m_large.stamp(d.id));
    }
    m_err = {sql::kMisuse, "No document shape for the fault '" + f + "'."};
    return false;
}

bool Writer::writeItems() {
    m_nextId = m_plan.firstItemId;
    auto next = m_plan.schedule.begin();
    const std::uint64_t total = m_plan.totalItems;
    const std::uint64_t regular = m_plan.regularSubs;
    for (std::uint64_t pos = 0; pos < total; ++pos) {
        // Sub databases fill one after the other, as the product fills them.
        const std::size_t slot = static_cast<std::size_t>(pos * regular / total);
        const bool ok = next != m_plan.schedule.end() && next->first == pos ? writeSpecial((next++)->second, slot)
                                                                             : writeHealthy(slot);
        if (!ok) return false;
    }
    return true;
}

}  // namespace qx::sample
