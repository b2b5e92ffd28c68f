#pragma once
// Sample archives for the benchmarks: written anew into `dir` (whatever was
// there goes), timed, and described in one line; a failure ends the run.
#include "tools/sample/SampleArchive.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace qx::bench {

// The options every benchmark starts from: one folder per 500 documents.
inline SampleOptions SampleFor(const std::string& dir, long documents) {
    SampleOptions o;
    o.directory = dir;
    o.documents = documents;
    o.folders = std::max<long>(20, documents / 500);
    return o;
}

inline SampleManifest WriteFresh(const SampleOptions& o) {
    std::filesystem::remove_all(o.directory);
    SampleManifest m;
    std::string error;
    const auto t0 = std::chrono::steady_clock::now();
    if (!WriteSampleArchive(o, m, error)) {
        std::fprintf(stderr, "sample failed: %s\n", error.c_str());
        std::exit(8);
    }
    std::printf("  (archive of %ld document rows, %ld page rows, %zu sub databases, %.0f MB, written in %.1f s)\n",
                m.documentRows, m.pageRows, m.subDatabases.size(), m.dataBytes / 1048576.0,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    return m;
}

}  // namespace qx::bench
