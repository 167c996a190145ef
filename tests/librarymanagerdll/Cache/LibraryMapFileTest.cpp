// The map file: where it lives, what is written and read back, and what a
// map file that is unfinished, foreign or damaged, or a failing disk, gives.
#include "Cache/LibraryMap.hpp"

#include "Support/FaultPlatform.hpp"
#include "Support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

using LM::LibraryMap;
using TestSupport::TempDir;

const IO::Name MapName("Library Map");

// The map as Write puts it, with the complete word set as in a finished file.
std::string FileBytes(const LibraryMap& map, const IO::Name& library)
{
    KR::StringOChannel out(KR::binOProtocol);
    EXPECT_EQ(0, map.Write(out, library));
    std::string bytes = out.Take();
    const std::int32_t one = 1;
    std::memcpy(bytes.data(), &one, 4);
    return bytes;
}

void Put32(std::string& bytes, std::size_t offset, std::int32_t value)
{
    std::memcpy(bytes.data() + offset, &value, 4);
}

KR::ErrorCode ReadBytes(LibraryMap& map, const std::string& bytes, const IO::Name& library)
{
    KR::StringIChannel in(bytes);
    return map.Read(in, library, bytes.size());
}

class MapFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir.WriteFile("Lib/a.gsm", "a");
        dir.WriteFile("Lib/Sub/b.gsm", "b");
        dir.WriteFile("Lib/Sub/c.gsm", "c");
        cacheRoot = dir.MakeFolder("cache");
        copy = dir.Loc("cache/Lib");
        walked = std::make_unique<LibraryMap>(IO::Folder(dir.Loc("Lib")));
        ASSERT_EQ(0, walked->Build());
        walked->SetState(walked->GetFirstEntry(), LM::MapState::Upload | LM::MapState::Replace);
    }
    std::string MapFilePath() const { return dir / "cache/Library Map/Lib/Library Map"; }

    TempDir dir;
    IO::Location cacheRoot, copy;
    std::unique_ptr<LibraryMap> walked;
};

TEST_F(MapFileTest, WrittenMapReadsBackUnderTheCacheRoot)
{
    // Before it is written there is no map: reading leaves an empty one.
    LibraryMap read{IO::Folder()};
    read.AddNode(LibraryMap::RootNode, "left over", false);
    EXPECT_EQ(IO::ErrNotFound, read.ReadMapFile(MapName, cacheRoot, copy));
    EXPECT_NE(0, read.ReadMapFile(IO::Name(), cacheRoot, copy));  // no map name: no map file
    EXPECT_EQ(1, read.GetNodeCount());

    ASSERT_EQ(0, walked->WriteMapFile(MapName, cacheRoot, copy));
    IO::Location where;
    ASSERT_EQ(0, LibraryMap::GetMapFileLocation(MapName, cacheRoot, copy, &where));
    EXPECT_EQ(IO::Location(MapFilePath()), where);
    EXPECT_EQ(FileBytes(*walked, "Lib"), TestSupport::ReadFileBytes(MapFilePath()));
    EXPECT_EQ((std::vector<std::string>{"Library Map"}), TestSupport::NamesIn(dir / "cache/Library Map/Lib"));

    ASSERT_EQ(0, read.ReadMapFile(MapName, cacheRoot, copy));
    EXPECT_EQ(FileBytes(*walked, "Lib"), FileBytes(read, "Lib"));
    // The read map works like the walked one.
    const std::int32_t sub = read.FindChild(read.GetFirstEntry(), "sub");
    EXPECT_NE(0, read.FindChild(read.GetNode(sub).firstChild, "c.gsm"));
}

// One row per kind of check (the fuzz replay tries every other damage):
// a damaged map is refused before the map takes anything from it.
TEST_F(MapFileTest, DamagedMapsAreRefusedWhole)
{
    const std::string good = FileBytes(*walked, "Lib");
    const std::size_t header = 4 + 4 + 3;  // complete, library name
    const std::size_t nodes = header + 20;
    const std::int32_t count = walked->GetNodeCount();
    const std::size_t pool = nodes + 25 * static_cast<std::size_t>(count);
    auto node = [&](std::int32_t n, std::size_t field) { return nodes + 25 * static_cast<std::size_t>(n - 1) + field; };
    const std::int32_t sub = walked->FindChild(walked->GetFirstEntry(), "Sub");
    const std::int32_t b = walked->FindChild(walked->GetNode(sub).firstChild, "b.gsm");

    struct Damage {
        const char* what;
        std::size_t offset;
        std::int32_t value;
        KR::ErrorCode expected = 0;  // 0: any error
    };
    const Damage damages[] = {
        {"a write that never finished", 0, 0, LM::ErrMapIncomplete},
        {"complete word neither 0 nor 1", 0, 7},
        {"more nodes than bytes", header, 1 << 24},
        {"capacity far above the pool used", header + 4, walked->GetPoolUsed() + LibraryMap::MaxPoolSlack + 1},
        {"name outside the used pool", node(b, 12), walked->GetPoolUsed()},
        {"sibling loop", node(b, 0), b},
        {"child twice", node(1, 4), sub},  // the root's chain then skips nodes
    };
    LibraryMap read{IO::Folder()};
    ASSERT_EQ(0, ReadBytes(read, good, "Lib"));
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.what);
        std::string bytes = good;
        Put32(bytes, damage.offset, damage.value);
        const KR::ErrorCode err = ReadBytes(read, bytes, "Lib");
        EXPECT_TRUE(damage.expected != 0 ? err == damage.expected : err != 0) << err;
        EXPECT_EQ(1, read.GetNodeCount());
        EXPECT_EQ(LibraryMap::PoolStep, read.GetPoolCapacity());
    }
    // A map written for another cache copy; a name "..", which would lead out
    // of the library; a pool without its last terminator.
    EXPECT_EQ(LM::ErrMapOtherLibrary, ReadBytes(read, good, "Other"));
    std::string dotdot = good;
    std::memcpy(dotdot.data() + pool + walked->GetNode(b).name, "..\0", 3);
    EXPECT_EQ(KR::ErrBadFormat, ReadBytes(read, dotdot, "Lib"));
    std::string unterminated = good;
    unterminated.back() = 'x';
    EXPECT_EQ(KR::ErrBadFormat, ReadBytes(read, unterminated, "Lib"));
    EXPECT_NE(0, ReadBytes(read, good.substr(0, good.size() - 1), "Lib"));  // truncated
    EXPECT_EQ(1, read.GetNodeCount());
}

// Whichever system call of a rewrite fails, the old map file stays whole
// and no scratch file is left beside it.
TEST_F(MapFileTest, FailedRewriteKeepsTheOldMap)
{
    ASSERT_EQ(0, walked->WriteMapFile(MapName, cacheRoot, copy));
    const std::string oldBytes = TestSupport::ReadFileBytes(MapFilePath());
    LibraryMap changed{IO::Folder(dir.Loc("Lib"))};
    dir.WriteFile("Lib/Sub/new.gsm", "new");
    ASSERT_EQ(0, changed.Build());
    const std::string newBytes = FileBytes(changed, "Lib");

    TestSupport::FaultPlatform faults;
    std::uint64_t failed = 0;
    const std::uint64_t calls = TestSupport::SweepFaults(faults, EIO, [&](std::uint64_t n) {
        TestSupport::WriteFileBytes(MapFilePath(), oldBytes);
        const KR::ErrorCode err = changed.WriteMapFile(MapName, cacheRoot, copy);
        const std::string now = TestSupport::ReadFileBytes(MapFilePath());
        if (err != 0) {
            ++failed;
            EXPECT_EQ(oldBytes, now) << "call " << n;
        } else {
            EXPECT_TRUE(now == oldBytes || now == newBytes) << "call " << n;
        }
        EXPECT_EQ((std::vector<std::string>{"Library Map"}), TestSupport::NamesIn(dir / "cache/Library Map/Lib"))
            << "call " << n;
    });
    EXPECT_GT(calls, 5u);
    EXPECT_GT(failed, 0u);
    faults.Clear();
    ASSERT_EQ(0, changed.WriteMapFile(MapName, cacheRoot, copy));
    EXPECT_EQ(newBytes, TestSupport::ReadFileBytes(MapFilePath()));
}

}  // namespace
