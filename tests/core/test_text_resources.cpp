#include "support/FileOperations.h"
#include "support/TextResources.h"
#include "tests/core/TestUtil.h"

#include "support/Env.h"

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
    ASSERT_TRUE(qx::RealEnv().FileExists(StringLibraryPath())) << "the string library is built beside the tests";
    const std::string title = GetResString(1, kNotFound);
    EXPECT_NE(title, kNotFound);
    EXPECT_EQ(GetResString(1, kNotFound), title);  // loading again after the release
}

TEST_F(ResStringTest, UnknownIdsGiveTheDefault) {
    for (long id : {0L, -1L, 9999L}) EXPECT_EQ(GetResString(id, "fallback"), "fallback") << id;
    if constexpr (sizeof(long) > 4) {  // cut to 32 bits this would be text 1
        EXPECT_EQ(GetResString(static_cast<long>(0x100000001LL), "fallback"), "fallback");
    }
}

TEST_F(ResStringTest, MissingOrBrokenLibraryGivesTheDefaults) {
    test::TempDir empty;
    SetStringLibraryFolder(empty.path());
    EXPECT_EQ(GetResString(25, "Verwijderen?"), "Verwijderen?");

    test::TempDir broken;
    test::WriteFile(broken.file(QUILLEX_STRING_LIBRARY), "not a library");
    SetStringLibraryFolder(broken.path() + "/");  // a trailing separator is fine too
    EXPECT_EQ(StringLibraryPath(), broken.file(QUILLEX_STRING_LIBRARY));
    EXPECT_EQ(GetResString(1, kNotFound), kNotFound);
}

TEST(FormatMsg, FillsPlaceholders) {
    const struct { const char *name, *tmpl; std::vector<Variant> args; const char* expected; } cases[] = {
        {"numbers in order", "%i van %i", {3, 7}, "3 van 7"},
        {"line break without args", "a%n%nb", {}, "a\r\n\r\nb"},
        {"placeholder in a value stays", "%s-%s", {"x%sy", "1", "2"}, "x%sy-1"},
        {"capital S counts", "%S en %s", {"A", "B"}, "A en B"},
        {"surplus placeholders stay", "%s [%s MB, %s items]", {"db"}, "db [%s MB, %s items]"},
        {"surplus arguments ignored", "beschadigd: %s", {5, 6}, "beschadigd: 5"},
        {"capital I and N untouched", "%I %N", {"x"}, "%I %N"},
        {"i in argument not converted", "%s %s", {"%i", "x"}, "%i x"},
        {"n in a value stays", "%s", {"a%nb"}, "a%nb"},
        {"hostile names keep their place", "Map '%s' in '%s' (%s)", {"%s", "%1%%", "%S%n%i"}, "Map '%s' in '%1%%' (%S%n%i)"},
        {"a value ending in percent meets the text", "%ss", {"50%", "x"}, "50%s"},
        {"double percent before s", "%%s|%s", {"a", "b"}, "%a|b"},
        {"surplus i stays as s", "%i en %i", {"1"}, "1 en %s"},
        {"null and floating point", "[%s|%s|%s]", {Variant(), 2.5, 1234567890123LL}, "[|2.5|1234567890123]"},
        {"percent at end", "100%", {"x"}, "100%"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatMsg(c.tmpl, c.args), c.expected) << c.name;
    EXPECT_EQ(FormatMsg("%s%n"), "%s\r\n");  // without arguments
}

}  // namespace
}  // namespace qx
