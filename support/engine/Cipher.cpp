#include "support/engine/Cipher.h"

#include "support/engine/SqliteApi.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <map>
#include <mutex>

namespace qx::sql {

std::string RawKeyFor(std::string_view passwordBytes) {
    static std::mutex lock;
    static std::map<std::string, std::string, std::less<>> cache;
    std::lock_guard guard(lock);
    if (auto it = cache.find(passwordBytes); it != cache.end()) return it->second;
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray(passwordBytes.data(), static_cast<qsizetype>(passwordBytes.size())), QCryptographicHash::Sha256);
    std::string key = "x'" + digest.toHex().toStdString() + "'";
    cache.emplace(std::string(passwordBytes), key);
    return key;
}

namespace {
int g_pageSize = kCipherPageSize;
}

void OverrideCipherPageSizeForBenchmark(int pageSize) { g_pageSize = pageSize; }
int CipherPageSize() { return g_pageSize; }

int ApplyKey(sqlite3* db, std::string_view passwordBytes) {
    const std::string key = RawKeyFor(passwordBytes);
    int rc = sqlite3_key(db, key.data(), static_cast<int>(key.size()));
    if (rc != SQLITE_OK) return rc;
    // The page size must be set after the key and be the same at every open.
    const std::string pragma = "PRAGMA cipher_page_size = " + std::to_string(g_pageSize) + ";";
    return sqlite3_exec(db, pragma.c_str(), nullptr, nullptr, nullptr);
}

}  // namespace qx::sql
