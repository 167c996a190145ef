// The library map file. The input is the content of a map file of the cache
// copy "Lib". It is read from a channel and, as a file, from its place under
// a cache root; both must agree. A refused map must be empty. An accepted
// map must write back to the same bytes and survive every query and some
// additions: links that the reader lets through must not make a walk of the
// map loop or leave its arrays.
#include "FuzzTarget.hpp"

#include "Cache/LibraryMap.hpp"
#include "Support/TempDir.hpp"

#include "KR/Channel.hpp"
#include "KR/Text.hpp"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

using LM::LibraryMap;

const IO::Name LibraryName("Lib");
const IO::Name MapName("Map");

std::string Finished(const LibraryMap& map)
{
    KR::StringOChannel out(KR::binOProtocol);
    LmFuzz::Expect(map.Write(out, LibraryName) == KR::NoError, "a map is written");
    std::string bytes = out.Take();
    const std::int32_t one = 1;
    std::memcpy(bytes.data(), &one, 4);
    return bytes;
}

void Query(LibraryMap& map)
{
    const std::int32_t count = map.GetNodeCount();
    LmFuzz::Expect(map.CountFiles(LibraryMap::RootNode) <= count, "no more files than nodes");
    // Bounded, so that a large map does not make the run quadratic.
    for (std::int32_t n = 1; n <= std::min(count, 300); ++n) {
        IO::Location location;
        (void)map.GetNodeLocation(n, IO::Location("/r"), &location);
        (void)map.CountFiles(n);
        if (n != LibraryMap::RootNode) {
            // Searched from the first of its siblings, a node's name is found.
            const char* name = map.GetNameText(n);
            const std::int32_t found = map.FindChild(map.GetNode(map.GetNode(n).parent).firstChild, name);
            LmFuzz::Expect(found != 0 && KR::ch04Manager.Compare(map.GetNameText(found), name, 1) == 0,
                           "a node's name is found among its siblings");
        }
        (void)map.FindChild(map.GetNode(n).firstChild, "a");
    }
    (void)map.FindOrAddPath(IO::RelativeLocation("a/b/c"), false);
    (void)map.AddNode(map.GetCurrentNode(), "z", true);
    (void)map.FindChild(map.GetFirstEntry(), "z");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    LibraryMap map{IO::Folder()};
    KR::StringIChannel in(bytes);
    const KR::ErrorCode err = map.Read(in, LibraryName, bytes.size());

    // Every eighth input also goes through a real map file: the file
    // system makes that slow, and the reader is the same.
    static std::uint64_t inputs = 0;
    std::unique_ptr<LibraryMap> fromFile;
    if (inputs++ % 8 == 0) {
        const std::string root = LmFuzz::ScratchFolder();
        TestSupport::WriteFileBytes(root + "/Map/Lib/Map", bytes);
        fromFile = std::make_unique<LibraryMap>(IO::Folder());
        const KR::ErrorCode fileErr =
            fromFile->ReadMapFile(MapName, IO::Location(root), IO::Location(root + "/Lib"));
        LmFuzz::ClearScratchFolder();
        LmFuzz::Expect((err == KR::NoError) == (fileErr == KR::NoError), "a channel and a file read agree");
    }

    if (err != KR::NoError) {
        LmFuzz::Expect(map.GetNodeCount() == 1 && map.GetFirstEntry() == 0 && map.GetFileCount() == 0,
                       "a refused map is empty");
        return 0;
    }
    const std::string written = Finished(map);
    if (fromFile)
        LmFuzz::Expect(written == Finished(*fromFile), "a channel and a file read give the same map");
    LibraryMap again{IO::Folder()};
    KR::StringIChannel back(written);
    LmFuzz::Expect(again.Read(back, LibraryName, written.size()) == KR::NoError, "a written map reads back");
    LmFuzz::Expect(Finished(again) == written, "a map reads back to the same bytes");
    Query(map);
    return 0;
}

std::vector<std::string> LmFuzz::Seeds()
{
    std::vector<std::string> seeds;
    LibraryMap map{IO::Folder()};
    seeds.push_back(Finished(map));  // the empty map
    map.FindOrAddPath(IO::RelativeLocation("Doors/Door 1.gsm"), false);
    map.FindOrAddPath(IO::RelativeLocation("Doors/door 2.gsm"), false);
    map.FindOrAddPath(IO::RelativeLocation("Windows"), true);
    map.SetState(2, LM::MapState::Download | LM::MapState::Replace);
    map.SetModificationTime(3, 0x12345678);
    seeds.push_back(Finished(map));
    // A family long enough to be indexed, and a deeper chain.
    for (int i = 0; i < 24; ++i)
        map.AddNode(LibraryMap::RootNode, ("f" + std::to_string(i)).c_str(), i % 5 == 0);
    std::int32_t node = LibraryMap::RootNode;
    for (int i = 0; i < 6; ++i)
        node = map.AddNode(node, "d", true);
    seeds.push_back(Finished(map));
    return seeds;
}
