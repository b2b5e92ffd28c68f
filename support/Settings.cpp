#include "support/Settings.h"

namespace qx {

Settings& Settings::Get() {
    static Settings s;
    return s;
}

void Settings::Reset() { Get() = Settings{}; }

}  // namespace qx
