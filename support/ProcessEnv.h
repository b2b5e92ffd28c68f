#pragma once
// The Env the free file helpers (support/FileOperations.h,
// support/DurableFiles.h) use until their callers are handed the session's:
// the newest live report-only view, else the real files with fault injection.
#include "support/Env.h"

namespace qx {

Env& ProcessEnv();

}  // namespace qx
