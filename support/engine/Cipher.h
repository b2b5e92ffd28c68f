#pragma once
// How an archive password becomes the key of an encrypted file, and the
// cipher settings every open must repeat (they are not stored in the file).
// docs/archive-format.md describes the same for other programs.
#include <string>
#include <string_view>

struct sqlite3;

namespace qx::sql {

inline constexpr int kCipherPageSize = 16384;

// For the benchmark that compares page sizes only: files written with another
// page size cannot be opened by a normal build.
void OverrideCipherPageSizeForBenchmark(int pageSize);
// The page size every keyed open sets: kCipherPageSize unless overridden.
int CipherPageSize();

// "x'<64 hex digits>'": SHA-256 of the password's bytes, used as a raw key so
// that opening a file costs no key stretching. Cached per password.
std::string RawKeyFor(std::string_view passwordBytes);

// Applies key and settings to a freshly opened handle; returns the library's
// result code.
int ApplyKey(sqlite3* db, std::string_view passwordBytes);

}  // namespace qx::sql
