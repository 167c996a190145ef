// Locations, names and relative locations made from arbitrary text, and a
// location and a name read from a channel of arbitrary bytes. A location
// must survive its own round trips: through its path, its URL, a channel,
// and a walk up to the root and back down by GetDifference.
#include "FuzzTarget.hpp"

#include "IO/Errors.hpp"
#include "IO/Location.hpp"
#include "KR/Channel.hpp"
#include "KR/String.hpp"

namespace {

void CheckLocation(const IO::Location& location)
{
    (void)location.Hash();
    KR::StringOChannel text;
    location.Print(text);

    KR::StringOChannel out(KR::binOProtocol);
    LmFuzz::Expect(location.Write(out) == KR::NoError, "a location is written");
    KR::StringIChannel in(out.Take());
    IO::Location back("/placeholder");
    LmFuzz::Expect(back.Read(in) == KR::NoError && back == location && back.GetStatus() == location.GetStatus(),
                   "a location reads back from a channel");

    if (location.GetStatus() != KR::NoError || location.IsEmpty())
        return;
    KR::String url;
    LmFuzz::Expect(location.ToURL(&url) == KR::NoError, "a good location has a URL");
    LmFuzz::Expect(IO::Location(url.Std()) == location, "a location's URL makes the same location");
    if (!location.IsLocal())
        return;

    KR::String path;
    LmFuzz::Expect(location.ToPath(&path) == KR::NoError && IO::Location(path.Std()) == location,
                   "a local location's path makes the same location");
    // Up to the root, then back down by the difference.
    IO::Location root = location;
    int depth = 0;
    while (root.DeleteLastLocalName() == KR::NoError)
        ++depth;
    LmFuzz::Expect(root == IO::Location("/"), "every local location lies below the root");
    IO::RelativeLocation relative;
    LmFuzz::Expect(root.GetDifference(location, &relative) == KR::NoError &&
                       relative.GetLength() == static_cast<std::uint32_t>(depth),
                   "the root reaches every local location");
    LmFuzz::Expect(depth == 0 || root.IsAncestorOf(location), "the root is an ancestor");
    IO::Location down = root;
    LmFuzz::Expect(down.AppendToLocal(relative) == KR::NoError && down == location,
                   "the difference leads back down");
    IO::Name last;
    LmFuzz::Expect(location.GetLastLocalName(&last) == KR::NoError, "a local location has a last name");
    LmFuzz::Expect(depth == 0 || last.IsValid(), "the last name of a local location is valid");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const IO::Location location(text);
    CheckLocation(location);
    if (location.GetStatus() == KR::NoError && location.IsLocal()) {
        IO::Location child = location;
        if (child.AppendToLocal(IO::Name(text)) == KR::NoError)
            CheckLocation(child);
    }

    const IO::Name name(text);
    (void)name.FindExtension();
    if (name.IsValid()) {
        IO::Location child("/base");
        LmFuzz::Expect(child.AppendToLocal(name) == KR::NoError, "a valid name appends");
        IO::Name last;
        LmFuzz::Expect(child.GetLastLocalName(&last) == KR::NoError && last == name, "a valid name comes back");
        CheckLocation(child);
        CheckLocation(IO::Location(IO::Location("/base"), name));
    }

    IO::RelativeLocation relative(text);
    IO::Name part;
    for (std::uint32_t i = 0; i < relative.GetLength(); ++i)
        LmFuzz::Expect(relative.GetName(i, &part) == KR::NoError && (part.IsValid() || !relative.IsValid()),
                       "the names of a valid relative location are valid");
    if (relative.IsValid())
        LmFuzz::Expect(IO::RelativeLocation(relative.ToString()) == relative, "a relative location's text reads back");
    (void)relative.GetLastName();
    (void)relative.DeleteLastName();

    // The same bytes as a channel.
    KR::StringIChannel in{std::string(text)};
    IO::Location read("/kept");
    if (read.Read(in) == KR::NoError)
        CheckLocation(read);
    KR::StringIChannel names{std::string(text)};
    IO::Name readName;
    (void)readName.Read(names);
    return 0;
}

std::vector<std::string> LmFuzz::Seeds()
{
    return {"/a//b/./c/", "/a/b/../c", "/..x/.y/...", "///", "relative/path", "/a/..", "/a/../..",
            std::string("/a\0b", 4), "http://host/x?q#f", "svn+ssh://host/x", "file:///tmp/a%20b/%25/../c",
            "file://localhost/x", "file://otherhost/x", "file:///a%2", "file:///a%zz", "file:///a%00b",
            "file://", "/lib/a b#c?d%e/\xC3\xA4\\~_.-", "name.ext", "",
            std::string("\x01\x06\x00\x00\x00/a/b c", 11), std::string("\x02\x0A\x00\x00\x00http://h/x", 15)};
}
