#pragma once
// Reaches CDatabase's private operations the way its other operations do.
#include "database/CDatabase.h"

namespace qx {

struct CDatabaseTestAccess {
    static bool CreateSubDatabase(CDatabase& db, const std::string& path) { return db.CreateSubDatabase(path); }
    static void ReportResult(CDatabase& db, long id, short code, const std::string& picbase, const std::string& name,
                             const std::string& virtualPath) {
        db.ReportResult(id, code, picbase, name, virtualPath);
    }
    static void AnalyseFolders(CDatabase& db) { db.AnalyseFolders(); }
    static void SetWalkBudget(CDatabase& db, std::size_t bytes) { db.m_walkBudgetBytes = bytes; }
    static void AnalyseLargeDocs(CDatabase& db) { db.AnalyseLargeDocs(); }
    static void AnalyseLinkTo(CDatabase& db) { db.AnalyseLinkTo(); }
    static bool BackupOriginalField(CDatabase& db, const std::string& mask, long id,
                                    std::span<const std::uint8_t> data, const std::string& path) {
        return db.BackupOriginalField(mask, id, data, path);
    }
    static bool EnableTrashSupport(CDatabase& db) { return db.EnableTrashSupport(); }
    static bool OfferPreCheckCompaction(CDatabase& db) { return db.OfferPreCheckCompaction(); }
    static long FindAlternativePicbase(CDatabase& db, long databaseId, long id) {
        return db.FindAlternativePicbase(databaseId, id);
    }
    static std::unique_ptr<CDatabase::KeepAlternativeCandidates> KeepAlternativeCandidates(CDatabase& db) {
        return std::make_unique<CDatabase::KeepAlternativeCandidates>(db);
    }
};

}  // namespace qx
