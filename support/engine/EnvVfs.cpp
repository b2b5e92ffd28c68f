// The engine's file layer of an Env. Placeholder: connections use the base
// layer directly until the reporting layer is in place.
#include "support/Env.h"

namespace qx {

struct Env::EngineLayer {};

Env::Env() = default;
Env::~Env() = default;

const char* Env::EngineVfs() { return BaseEngineVfs(); }

int Env::EngineWrite(const std::string&, std::int64_t, std::int64_t) { return 0; }
int Env::EngineTruncate(const std::string&, std::int64_t) { return 0; }
int Env::EngineSync(const std::string&) { return 0; }
void Env::EngineSynced(const std::string&) {}
void Env::EngineCreated(const std::string&) {}
int Env::EngineDelete(const std::string&, bool) { return 0; }

}  // namespace qx
