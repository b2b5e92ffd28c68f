#pragma once
// The sub-database numbers that documents refer to, ascending; shared by the
// list management and the renumbering, which must agree on them.
#include "support/engine/Connection.h"

#include <vector>

namespace qx {

bool ReferencedSubDatabases(engine::Connection& cn, std::vector<long>& numbers, sql::Error& err);

}  // namespace qx
