// CDatabase: what a reorganize would do, without doing it.
#include "database/maintenance/ReorganizePlan.h"

#include "database/CDatabase.h"

namespace qx {

bool CDatabase::PlanReorganize(ReorganizePlan& plan) {
    plan = ReorganizePlan{};
    return Connected(m_AdoCnMain);
}

std::string DescribePlan(const ReorganizePlan& plan) { return plan.refusal; }

}  // namespace qx
