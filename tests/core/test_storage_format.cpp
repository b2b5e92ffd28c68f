// The storage format of imported documents: how stored bytes are classified,
// how each damaged format is repaired, and the command-line switch that
// makes correct documents logged too.
#include "database/checks/StorageFormat.h"
#include "support/Settings.h"
#include "tests/core/SubDatabaseArchive.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qx;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Wide(const std::string& s) {
    Bytes out;
    for (unsigned char c : s) out.push_back(c), out.push_back(0);
    return out;
}

class StorageFormat : public ::testing::Test {
protected:
    void SetUp() override {
        Settings::Reset();
        Settings::Get().LogFileName = dir.file("Kantoor.log");
    }
    void TearDown() override { Settings::Reset(); }
    qx::test::TempDir dir;
};

}  // namespace

TEST_F(StorageFormat, DetectionClassifiesTheStoredBytes) {
    // 20 bytes, 9 of the 10 odd positions zero, the upper half not zero:
    // an indicator of exactly 0.9 still counts as correct.
    Bytes ninety(20, 'x');
    for (int i = 1; i < 19; i += 2) ninety[static_cast<std::size_t>(i)] = 0;
    struct Case {
        const char* name;
        Bytes data;
        short type;
        const char* logged;  // the line it writes; "" for none
    } cases[] = {
        {"empty data", {}, StorageCorrect, ""},
        {"the widened PDF of the example", Bytes{0x25, 0, 0x50, 0, 0x44, 0, 0x46, 0, 0x2D, 0, 0x31, 0}, StorageDoubleByte,
         "Incorrect (pdf) data storage type #1 detected"},
        {"two bytes 41 00", Bytes{0x41, 0}, StorageDoubleByte, "Incorrect data storage type #1 detected (indicator = 1.00)"},
        {"three bytes 41 00 00", Bytes{0x41, 0, 0}, StorageUpperHalfZero, "Incorrect data storage type #2 detected"},
        {"only zero bytes", Bytes(5, 0), StorageUpperHalfZero, "Incorrect data storage type #2 detected"},
        {"indicator of exactly 0.9", ninety, StorageCorrect, ""},
        {"a PDF stored plainly", Text("%PDF-1.4\n%abcdefgh"), StorageCorrect, ""},
        {"a widened text shorter than 11 bytes is no widened PDF", Wide("%PDF-"), StorageDoubleByte,
         "Incorrect data storage type #1 detected (indicator = 1.00)"},
        {"a document followed by as many zeros", Bytes{'a', 'b', 'c', 'd', 0, 0, 0, 0}, StorageUpperHalfZero,
         "Incorrect data storage type #2 detected"},
    };
    for (const Case& c : cases) {
        const std::size_t before = qx::test::LogLines().size();
        EXPECT_EQ(DetectConversionError(c.data), c.type) << c.name;
        const auto lines = qx::test::LogLines();
        // A correct document is logged only with -showindicators.
        EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end()),
                  *c.logged ? std::vector<std::string>{c.logged} : std::vector<std::string>{}) << c.name;
    }
}

TEST_F(StorageFormat, RepairGivesTheDocumentBack) {
    Bytes big;  // more than two 16384-byte pieces, a first piece of 7232 bytes
    std::string text;
    for (int i = 0; i < 20000; ++i) text += static_cast<char>('A' + i % 26);
    struct Case {
        const char* name;
        short type;
        Bytes data;
        Bytes fixed;
        long corrected;  // -1: left untouched
    } cases[] = {
        {"the widened PDF of the example", StorageDoubleByte,
         Bytes{0x25, 0, 0x50, 0, 0x44, 0, 0x46, 0, 0x2D, 0, 0x31, 0}, Bytes{0x25, 0x50, 0x44, 0x46, 0x2D, 0x31, 0}, 6},
        {"type 1 over several pieces", StorageDoubleByte, Wide(text), Text(text + '\0'), 20000},
        {"Windows-1252 characters map back to their bytes", StorageDoubleByte,
         Bytes{0xAC, 0x20, 0xE9, 0x00, 0x00, 0x01}, Bytes{0x80, 0xE9, '?', 0}, 3},
        {"10 bytes of type 2 give 6", StorageUpperHalfZero, Bytes{1, 2, 3, 4, 5, 0, 0, 0, 0, 0}, Bytes{1, 2, 3, 4, 5, 0}, -1},
        {"empty data", StorageDoubleByte, {}, Bytes{0}, -1},
        {"an unknown type", 7, Bytes{1, 2}, Bytes{0}, -1},
    };
    for (const Case& c : cases) {
        Bytes fixed;
        long corrected = -1;
        int pumped = 0;
        EXPECT_TRUE(FixConversionError(c.type, c.data, fixed, corrected, [&] { ++pumped; })) << c.name;
        EXPECT_EQ(fixed, c.fixed) << c.name;
        EXPECT_EQ(corrected, c.corrected) << c.name;
        EXPECT_EQ(pumped, static_cast<int>(c.data.size() / 16384)) << c.name << ": once per whole piece";
    }
}

TEST(CommandLine, SplitsAsTheSwitchTestReadsIt) {
    struct Case {
        const char* name;
        const char* line;
        int maximum;
        std::vector<std::string> args;
    } cases[] = {
        {"blanks and tabs separate", "a  b\tc", 4, {"a", "b", "c"}},
        {"a quoted argument keeps its blanks", "x 'a b' y", 4, {"x", "a b", "y"}},
        {"a quote starts a new argument", "ab'c d'", 4, {"ab", "c d"}},
        {"a blank after a dash is skipped", "- showindicators", 4, {"-showindicators"}},
        {"never more than the maximum", "a b c d e f", 4, {"a", "b", "c", "d"}},
        {"the closing quote at the maximum ends it", "'a' 'b' c", 2, {"a", "b"}},
        {"empty", "", 4, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(SplitCommandLine(c.line, c.maximum), c.args) << c.name;
}
