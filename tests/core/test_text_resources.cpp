#include "support/FileOperations.h"
#include "support/TextResources.h"
#include "tests/core/TestUtil.h"

#include <gtest/gtest.h>

#include <vector>

namespace qx {
namespace {

constexpr const char* kNotFound = "Resources not found";

class ResStringTest : public ::testing::Test {
protected:
    void TearDown() override { SetStringLibraryFolder({}); }
};

TEST_F(ResStringTest, KnownTextComesFromTheLibraryBesideTheProgram) {
    ASSERT_TRUE(FileExists(StringLibraryPath())) << "the string library is built beside the tests";
    std::string title = GetResString(1, kNotFound);
    EXPECT_FALSE(title.empty());
    EXPECT_NE(title, kNotFound);
    // Loading again after the release gives the same text.
    EXPECT_EQ(GetResString(1, kNotFound), title);
}

TEST_F(ResStringTest, UnknownIdsGiveTheDefault) {
    for (long id : {0L, -1L, 9999L}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(GetResString(id, "fallback"), "fallback");
    }
    if constexpr (sizeof(long) > 4) {
        // Cut to 32 bits this would be text 1.
        EXPECT_EQ(GetResString(static_cast<long>(0x100000001LL), "fallback"), "fallback");
    }
    EXPECT_EQ(GetResString(9999, ""), "");
}

TEST_F(ResStringTest, MissingOrBrokenLibraryGivesTheDefaults) {
    test::TempDir empty;
    ASSERT_FALSE(empty.path().empty());
    SetStringLibraryFolder(empty.path());
    EXPECT_EQ(GetResString(1, kNotFound), kNotFound);
    EXPECT_EQ(GetResString(25, "Verwijderen?"), "Verwijderen?");

    test::TempDir broken;
    test::WriteFile(broken.file(QUILLEX_STRING_LIBRARY), "not a library");
    SetStringLibraryFolder(broken.path() + "/");  // a trailing separator is fine too
    EXPECT_EQ(StringLibraryPath(), broken.file(QUILLEX_STRING_LIBRARY));
    EXPECT_EQ(GetResString(1, kNotFound), kNotFound);
}

struct FormatCase {
    const char* name;
    const char* tmpl;
    std::vector<Variant> args;
    const char* expected;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class FormatMsgTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatMsgTest, FillsPlaceholders) {
    const FormatCase& c = GetParam();
    EXPECT_EQ(FormatMsg(c.tmpl, c.args), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatMsgTest,
    ::testing::Values(
        FormatCase{"numbers_in_order", "%i van %i", {3, 7}, "3 van 7"},
        FormatCase{"line_break_without_args", "a%n%nb", {}, "a\r\n\r\nb"},
        FormatCase{"inserted_placeholder_first", "%s-%s", {"x%sy", "1", "2"}, "x1y-2"},
        FormatCase{"capital_s_counts", "%S en %s", {"A", "B"}, "A en B"},
        FormatCase{"surplus_placeholders_stay", "%s [%s MB, %s items]", {"db"}, "db [%s MB, %s items]"},
        FormatCase{"surplus_arguments_ignored", "beschadigd: %s", {5, 6}, "beschadigd: 5"},
        FormatCase{"capital_i_and_n_untouched", "%I %N", {"x"}, "%I %N"},
        FormatCase{"i_in_argument_not_converted", "%s %s", {"%i", "x"}, "%i x"},
        FormatCase{"n_in_argument_becomes_break", "%s", {"a%nb"}, "a\r\nb"},
        FormatCase{"null_and_floating_point", "[%s|%s|%s]", {Variant(), 2.5, 1234567890123LL}, "[|2.5|1234567890123]"},
        FormatCase{"percent_at_end", "100%", {"x"}, "100%"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FormatMsgOverloads, InitializerListAndNoArguments) {
    EXPECT_EQ(FormatMsg("%s/%i", {"a", 2}), "a/2");
    EXPECT_EQ(FormatMsg("%s%n"), "%s\r\n");
}

}  // namespace
}  // namespace qx
