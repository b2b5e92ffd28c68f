#pragma once
// What the string library exports, with C linkage, for the core to bind by name.
#if defined(_WIN32)
#define QX_EXPORT __declspec(dllexport)
#else
#define QX_EXPORT __attribute__((visibility("default")))
#endif
