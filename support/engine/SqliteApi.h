#pragma once
// Private to the engine: the one place that includes SQLCipher's header.
#include <sqlite3.h>

// The system's plain sqlite3.h must not win over SQLCipher's: only the
// SQLCipher header declares the keying functions.
static_assert(sizeof(&sqlite3_key) != 0, "SQLCipher's sqlite3.h must come first on the include path");
static_assert(SQLITE_VERSION_NUMBER >= 3015000, "SQLCipher 3.4 (SQLite 3.15) or later is required");
#ifndef SQLITE_HAS_CODEC
#error "the engine must be compiled with SQLITE_HAS_CODEC"
#endif
