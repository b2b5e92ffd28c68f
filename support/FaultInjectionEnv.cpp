// The layer that lets tests make a named point fail or kill the process:
// every change passes its point through Step, so this is the one place that
// asks the failpoint table.
#include "support/Env.h"

#include "support/Failpoint.h"

namespace qx {

namespace {

class FaultInjection final : public EnvWrapper {
public:
    using EnvWrapper::EnvWrapper;
    int Step(std::string_view point) override {
        if (const int rc = Failpoint(point)) return rc;
        return target().Step(point);
    }
};

}  // namespace

std::unique_ptr<Env> NewFaultInjectionEnv(Env& base) { return std::make_unique<FaultInjection>(base); }

}  // namespace qx
