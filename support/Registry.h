#pragma once
// Reading the product's own settings: the Windows registry there, the
// platform's native settings store (QSettings) elsewhere.
#include <string>
#include <string_view>

namespace qx {

enum class RegistryRoot { CurrentUser, LocalMachine };

// The string value `valueName` under `subKey` ("Software\Tarnwick\Vellumo 8"),
// up to its first NUL; "" when the key or the value is missing.
// Off Windows the sub key maps onto QSettings: a leading "Software" part is
// dropped, the next part is the organisation, the one after it the
// application, and any further parts become groups in front of the value name.
// CurrentUser is the user scope, LocalMachine the system scope.
std::string RegReadString(RegistryRoot root, std::string_view subKey, std::string_view valueName);
inline std::string RegReadString(std::string_view subKey, std::string_view valueName) {
    return RegReadString(RegistryRoot::CurrentUser, subKey, valueName);
}

}  // namespace qx
