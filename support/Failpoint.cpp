#include "support/Failpoint.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#else
#include <windows.h>
#endif

namespace qx {

namespace {

struct Armed {
    std::string name;
    int nth = 0;  // counted from `base`, the hits before it was armed
    FailAction action = FailAction::Kill;
    int base = 0;
};

struct State {
    std::mutex mutex;
    bool environmentRead = false;
    std::vector<Armed> armed;
    std::map<std::string, int, std::less<>> hits;
    int anyHits = 0;
    std::string traceFile;
};

State& S() {
    static State s;
    return s;
}

bool ParseAction(std::string_view text, FailAction& action) {
    if (text == "kill") action = FailAction::Kill;
    else if (text == "enospc") action = FailAction::NoSpace;
    else if (text == "eio") action = FailAction::IoError;
    else return false;
    return true;
}

// A malformed setting is said once on stderr and ignored: a test that
// misspells it must not silently run without its fault.
void ReadEnvironment(State& s) {
    s.environmentRead = true;
    if (const char* trace = std::getenv("QUILLEX_FAILPOINT_TRACE")) s.traceFile = trace;
    const char* setting = std::getenv("QUILLEX_FAILPOINTS");
    if (!setting) return;
    std::string_view rest(setting);
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        const std::size_t at = item.find('@'), eq = item.find('=');
        Armed a;
        if (at == std::string_view::npos || eq == std::string_view::npos || eq < at ||
            !ParseAction(item.substr(eq + 1), a.action)) {
            std::fprintf(stderr, "QUILLEX_FAILPOINTS: cannot read '%.*s'\n", static_cast<int>(item.size()),
                         item.data());
            continue;
        }
        a.name = std::string(item.substr(0, at));
        const std::string nth(item.substr(at + 1, eq - at - 1));
        char* end = nullptr;
        const long n = std::strtol(nth.c_str(), &end, 10);
        if (a.name.empty() || nth.empty() || *end != '\0' || n < 1) {
            std::fprintf(stderr, "QUILLEX_FAILPOINTS: cannot read '%.*s'\n", static_cast<int>(item.size()),
                         item.data());
            continue;
        }
        a.nth = static_cast<int>(n);
        s.armed.push_back(std::move(a));
    }
}

[[noreturn]] void KillNow() {
#ifdef _WIN32
    TerminateProcess(GetCurrentProcess(), 137);
#else
    ::kill(::getpid(), SIGKILL);
#endif
    std::abort();
}

}  // namespace

int Failpoint(std::string_view name) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    if (!s.environmentRead) ReadEnvironment(s);
    if (!s.traceFile.empty()) {
        if (std::FILE* f = std::fopen(s.traceFile.c_str(), "ab")) {
            std::fprintf(f, "%.*s\n", static_cast<int>(name.size()), name.data());
            std::fclose(f);
        }
    }
    auto it = s.hits.find(name);
    if (it == s.hits.end()) it = s.hits.emplace(std::string(name), 0).first;
    const int hit = ++it->second;
    const int any = ++s.anyHits;
    for (const Armed& a : s.armed) {
        const bool matches = a.name == "*" ? a.nth == any - a.base : (a.name == name && a.nth == hit - a.base);
        if (!matches) continue;
        switch (a.action) {
        case FailAction::Kill: KillNow();
        case FailAction::NoSpace: return ENOSPC;
        case FailAction::IoError: return EIO;
        }
    }
    return 0;
}

namespace failpoints {

void Arm(std::string_view name, int nth, FailAction action) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    if (!s.environmentRead) ReadEnvironment(s);
    int base = s.anyHits;
    if (name != "*") {
        const auto it = s.hits.find(name);
        base = it == s.hits.end() ? 0 : it->second;
    }
    s.armed.push_back({std::string(name), nth, action, base});
}

void Reset() {
    State& s = S();
    std::lock_guard lock(s.mutex);
    s.armed.clear();
    s.hits.clear();
    s.anyHits = 0;
    s.traceFile.clear();
    s.environmentRead = false;
}

std::string Hits() {
    State& s = S();
    std::lock_guard lock(s.mutex);
    std::string out;
    for (const auto& [name, count] : s.hits) out += name + "=" + std::to_string(count) + "\n";
    return out;
}

}  // namespace failpoints

}  // namespace qx
