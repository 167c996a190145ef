#include "IO/IO.hpp"

#include <gtest/gtest.h>

#include <string>

using IO::Location;
using IO::Name;
using IO::RelativeLocation;

// Normalising, reading from channels and comparing locations are reached
// everywhere in the module's tests and by the location fuzz replay; here
// the rules at their edges and the edits the module does not make.
TEST(Location, NormalisesPathsAndFileUrlsAndKeepsTheTextOfBadOnes)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/a//b/./c/../d/", "/a/b/d"},
        {"/..x/.y/...", "/..x/.y/..."},  // only "." and ".." are special
        {"/a\\b/c", "/a\\b/c"},          // a backslash is an ordinary byte of a name
        {"file:///tmp/a%20b/%25/../c", "/tmp/a b/c"},
    };
    KR::String text;
    for (const auto& [given, path] : cases) {
        EXPECT_EQ(Location(given).ToPath(&text), 0) << given;
        EXPECT_EQ(text.Std(), path) << given;
    }
    for (const std::string& text : std::vector<std::string>{"relative/path", "/a/../..", "file:///a%00b"}) {
        const Location bad{std::string_view(text)};
        EXPECT_EQ(bad.GetStatus(), IO::ErrBadLocation) << text;
        EXPECT_EQ(bad.GetText(), text);
    }
    // A local location as a URL escapes what must be and reads back the same.
    const Location odd("/lib/a b#c?d%e/\xC3\xA4\\~_.-");
    ASSERT_EQ(odd.ToURL(&text), 0);
    EXPECT_EQ(text.Std(), "file:///lib/a%20b%23c%3Fd%25e/%C3%A4%5C~_.-");
    EXPECT_EQ(Location(text.Std()), odd);
    EXPECT_EQ(Location("https://example.org/lib/").ToPath(&text), IO::ErrNotLocal);
}

TEST(Location, EditingNamesAndDifferences)
{
    Location location("/a");
    EXPECT_EQ(location.AppendToLocal(RelativeLocation("b//./c")), 0);
    EXPECT_EQ(location.AppendToLocal(RelativeLocation("d/../e")), IO::ErrBadName);
    EXPECT_EQ(location.GetText(), "/a/b/c");  // unchanged by the refused append
    RelativeLocation relative;
    EXPECT_EQ(Location("/a/b").GetDifference(Location("/a/bc/d"), &relative), IO::ErrNotInside);

    relative = RelativeLocation("a//./b/");
    EXPECT_EQ(relative.SetLastName(Name("c")), 0);
    EXPECT_EQ(relative.SetLastName(Name("..")), IO::ErrBadName);
    EXPECT_EQ(relative.ToString(), "a/c");
    RelativeLocation empty;
    EXPECT_EQ(empty.SetLastName(Name("x")), 0);  // appends when empty
    EXPECT_EQ(empty.ToString(), "x");
}
