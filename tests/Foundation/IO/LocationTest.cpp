#include "IO/IO.hpp"
#include "KR/Channel.hpp"

#include <gtest/gtest.h>

#include <string>

using IO::Location;
using IO::Name;
using IO::RelativeLocation;

namespace {

std::string PathOf(const Location& location)
{
    KR::String path;
    location.ToPath(&path);
    return path.Std();
}

}  // namespace

TEST(Location, NormalisesPathsAndFileUrlsAndKeepsTheTextOfBadOnes)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/a//b/./c/../d/", "/a/b/d"},
        {"/..x/.y/...", "/..x/.y/..."},  // only "." and ".." are special
        {"/a/..", "/"},
        {"/a\\b/c", "/a\\b/c"},  // a backslash is an ordinary byte of a name
        {"file:///tmp/a%20b/%25/../c", "/tmp/a b/c"},
        {"FILE://localhost/x", "/x"},
    };
    for (const auto& [text, path] : cases)
        EXPECT_EQ(PathOf(Location(text)), path) << text;
    for (const std::string& text : std::vector<std::string>{"relative/path", "/a/../..", "./a", std::string("/a\0b", 4),
                                                            "file:///a%2", "file:///a%00b"}) {
        const Location bad{std::string_view(text)};
        EXPECT_EQ(bad.GetStatus(), IO::ErrBadLocation) << text;
        EXPECT_EQ(bad.GetText(), text);
    }
}

TEST(Location, UrlsAndFileUrlsBothWays)
{
    const Location web("https://example.org/lib/a%20b/");
    EXPECT_TRUE(web.IsURL());
    KR::String text;
    EXPECT_EQ(web.ToPath(&text), IO::ErrNotLocal);
    ASSERT_EQ(web.ToURL(&text), 0);
    EXPECT_EQ(text.Std(), "https://example.org/lib/a%20b/");
    EXPECT_TRUE(Location("file://otherhost/x").IsURL());

    // A local location as a URL escapes what must be and reads back the same.
    const Location odd("/lib/a b#c?d%e/\xC3\xA4\\~_.-");
    ASSERT_EQ(odd.ToURL(&text), 0);
    EXPECT_EQ(text.Std(), "file:///lib/a%20b%23c%3Fd%25e/%C3%A4%5C~_.-");
    EXPECT_EQ(Location(text.Std()), odd);
}

TEST(Location, EditingNames)
{
    Location location("/");
    EXPECT_EQ(location.DeleteLastLocalName(), KR::ErrIllegalArgument);
    ASSERT_EQ(location.AppendToLocal(Name("a")), 0);
    EXPECT_EQ(location.GetText(), "/a");
    for (const char* bad : {"", ".", "..", "a/b"})
        EXPECT_EQ(location.AppendToLocal(Name(bad)), IO::ErrBadName) << bad;
    EXPECT_EQ(location.AppendToLocal(RelativeLocation("b//./c")), 0);
    EXPECT_EQ(location.AppendToLocal(RelativeLocation("d/../e")), IO::ErrBadName);
    ASSERT_EQ(location.DeleteLastLocalName(), 0);
    EXPECT_EQ(location.GetText(), "/a/b");  // unchanged by the refused append
    EXPECT_EQ(Location(Location("/a"), Name("..")).GetStatus(), IO::ErrBadLocation);
}

TEST(Location, AncestryComparesWholeNames)
{
    const Location ab("/a/b");
    EXPECT_TRUE(ab.IsAncestorOf(Location("/a/b/c")));
    EXPECT_FALSE(ab.IsAncestorOf(Location("/a/bc")));
    EXPECT_FALSE(ab.IsAncestorOf(ab));
    EXPECT_TRUE(Location("/").IsAncestorOf(ab));

    RelativeLocation relative;
    ASSERT_EQ(ab.GetDifference(Location("/a/b/c/d"), &relative), 0);
    EXPECT_EQ(relative.ToString(), "c/d");
    EXPECT_EQ(ab.GetDifference(Location("/a/bc/d"), &relative), IO::ErrNotInside);
}

TEST(RelativeLocation, NamesValidityAndExtensions)
{
    EXPECT_STREQ(Name("a.tar.gz").FindExtension(), "gz");
    EXPECT_EQ(Name(".profile").FindExtension(), nullptr);
    EXPECT_EQ(Name("name.").FindExtension(), nullptr);
    RelativeLocation relative("a//./b/");
    ASSERT_EQ(relative.GetLength(), 2u);
    EXPECT_EQ(relative.SetLastName(Name("c")), 0);
    EXPECT_EQ(relative.SetLastName(Name("..")), IO::ErrBadName);
    EXPECT_EQ(relative.ToString(), "a/c");
    EXPECT_FALSE(RelativeLocation("a/../b").IsValid());
    RelativeLocation empty;
    EXPECT_EQ(empty.SetLastName(Name("x")), 0);  // appends when empty
    EXPECT_EQ(empty.ToString(), "x");
}

// A refused read leaves the location as it was.
TEST(Location, ChannelReadRefusesBadData)
{
    const auto readFrom = [](std::uint8_t kind, const std::string& text) {
        KR::StringOChannel out(KR::binOProtocol);
        out.Write(kind);
        out.WriteString(text);
        KR::StringIChannel in(out.GetText());
        Location location("/kept");
        const KR::ErrorCode err = in.Read(location);
        if (err != 0) {
            EXPECT_EQ(location, Location("/kept")) << "a refused read changed the location";
        }
        return err;
    };
    EXPECT_EQ(readFrom(1, "/a//b"), KR::ErrBadFormat);              // local text not normalised
    EXPECT_EQ(readFrom(2, "file:///x"), KR::ErrBadFormat);          // a file URL is stored as local
    EXPECT_EQ(readFrom(1, "/ok"), 0);
}
