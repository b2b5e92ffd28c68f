#pragma once
// A sample archive written by the sample writer into a test's folder.
#include "tests/core/TestUtil.h"
#include "tools/sample/SampleArchive.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qx::test {

// Writes the sample into DIR/archive with the given faults (none: a sound archive).
inline SampleManifest WriteSample(const TempDir& dir, const std::vector<std::string>& faults, long documents = 60,
                                  long folders = 6) {
    SampleOptions o;
    o.directory = dir.file("archive");
    o.documents = documents;
    o.folders = folders;
    o.faults = faults;
    SampleManifest m;
    std::string error;
    EXPECT_TRUE(WriteSampleArchive(o, m, error)) << error;
    return m;
}

}  // namespace qx::test
