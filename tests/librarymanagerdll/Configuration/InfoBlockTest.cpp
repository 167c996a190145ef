// The info block that stores a set's configuration: restoring a set from a
// block (from the old text form, from damaged blocks), comparing a set with a block and merging one into a set. Blocks
// are built byte by byte from their format description; the fuzz replays
// convert, compare and merge every other kind of block.
#include "FTM/FileTypes.hpp"
#include "KR/DebugChannel.hpp"
#include "LibrarySet.hpp"
#include "Support/Handles.hpp"
#include "librarymanagerdll/LibrarySet/LibrarySetTestSupport.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using namespace LMTest;
using namespace std::string_literals;
using TestSupport::OwnedHandle;

namespace {

// The bytes of a block, item by item; numbers (and the counts of texts) are
// little-endian.
class BlockBytes {
public:
    BlockBytes& Int32(std::uint32_t value)
    {
        for (int i = 0; i < 4; ++i)
            bytes_ += static_cast<char>((value >> 8 * i) & 0xFF);
        return *this;
    }
    BlockBytes& Magic() { return Int32(0x4C323036); }
    BlockBytes& Bool(bool value) { return Raw(std::string(1, value ? '\1' : '\0')); }
    // A counted text: 32-bit byte count, then the bytes.
    BlockBytes& Text(std::string_view text) { return Int32(static_cast<std::uint32_t>(text.size())).Raw(text); }
    // A location: kind byte (0 empty, 1 local, 2 URL, 3 bad), then its text.
    BlockBytes& Location(std::string_view path)
    {
        char kind = 0;
        if (!path.empty())
            kind = path.front() == '/' ? 1 : (path.find("://") != std::string_view::npos ? 2 : 3);
        return Raw(std::string(1, kind)).Text(path);
    }
    BlockBytes& Library(bool vital, bool permanent, std::string_view location)
    {
        return Bool(vital).Bool(permanent).Bool(false).Location(location);
    }
    BlockBytes& Raw(std::string_view bytes)
    {
        bytes_.append(bytes);
        return *this;
    }
    const std::string& Str() const noexcept { return bytes_; }

private:
    std::string bytes_;
};

// What a set holds, for comparing whole configurations.
struct LibraryView {
    std::string location, url;
    bool vital = false, permanent = false;
    bool operator==(const LibraryView&) const = default;
};
struct OtherView {
    std::string location, url;
    bool urlFlag = false;
    std::string name;
    bool operator==(const OtherView&) const = default;
};

std::vector<LibraryView> Libraries(LM::LibrarySet& set)
{
    std::vector<LibraryView> out;
    for (std::int32_t i = 0; i < set.GetActiveLibraryNum(); ++i) {
        IO::Location location;
        KR::String url;
        set.GetActiveLibraryLocation(i, &location);
        set.GetActiveLibraryUrl(i, &url);
        out.push_back({location.GetText(), url.Std(), set.IsVitalActiveLibrary(i), set.IsPermanentActiveLibrary(i)});
    }
    return out;
}

std::vector<OtherView> OtherObjects(LM::LibrarySet& set)
{
    std::vector<OtherView> out;
    for (std::int32_t i = 0; i < set.GetOtherObjectNum(); ++i) {
        IO::Location location;
        KR::String url, name;
        set.GetOtherObjectLocation(i, &location);
        set.GetOtherObjectUrl(i, &url);
        set.GetOtherObjectName(i, &name);
        out.push_back({location.GetText(), url.Std(), set.IsUrlOtherObject(i), name.Std()});
    }
    return out;
}

// The block that `set` writes; empty when it gives none.
std::string InfoOf(LM::LibrarySet& set, bool withPermanent = true)
{
    char** info = nullptr;
    return set.GetActiveLibrariesInfo(&info, withPermanent, 0) == KR::NoError ? OwnedHandle(info).Bytes() : "";
}

std::int32_t Restore(LM::LibrarySet& set, std::string_view bytes)
{
    return set.SetActiveLibrariesFromInfo(OwnedHandle(bytes).h, false);
}

bool IsEqual(const LM::LibrarySet& set, std::string_view bytes, bool withPermanent, bool compareCaches)
{
    return set.IsEqualActiveLibraries(OwnedHandle(bytes).h, withPermanent, compareCaches);
}

std::int32_t Merge(LM::LibrarySet& set, std::string_view bytes)
{
    return set.MergeActiveLibraries(OwnedHandle(bytes).h);
}

// A set with its own LAN and URL cache folders, and two library folders.
class InfoBlockTest : public SetFixture {
protected:
    void SetUp() override
    {
        SetFixture::SetUp();
        ASSERT_EQ(0, set->SetLanCacheLocation(dir.MakeFolder("lan")));
        ASSERT_EQ(0, set->SetFtpCacheLocation(dir.MakeFolder("url")));
        a = dir.MakeFolder("A");
        b = dir.MakeFolder("B");
    }

    // A permanent vital folder, a plain folder, a URL library, an object with
    // a location and a URL, one with only a URL.
    void Fill(LM::LibrarySet& target)
    {
        target.AddActiveLibrary(a, LM::Permanent, true, true);
        target.AddActiveLibrary(b, LM::NotPermanent, false, true);
        target.AddActiveLibrary(KR::String("http://h/Web/"), LM::NotPermanent, false);
        target.SetOtherObjectUrl(target.AddOtherObject(dir.Loc("o.gsm")), KR::String("http://h/o.gsm"));
        target.AddOtherObject(KR::String("http://h/p.gsm"));
    }

    IO::Location a, b;
    KR::DebugCapture quiet;  // damaged blocks print their exception
};

class InfoBlockRestore : public InfoBlockTest {};
class InfoBlockCompare : public InfoBlockTest {};
class InfoBlockMerge : public InfoBlockTest {};

// One row per way a block is refused or stops early; the fuzz replay tries
// every other damage.
TEST_F(InfoBlockRestore, DamagedBlocksAreRefusedOrRestoredUpToTheDamage)
{
    const auto head = [] { return BlockBytes().Magic().Bool(false).Location(""); };
    struct Row {
        std::string bytes;
        KR::ErrorCode result;
        std::int32_t libraries;  // -1: the set is left as it was
    };
    const Row rows[] = {
        {"L2", LM::ErrBadIndex, -1},    // too short for a version
        {"L206", LM::ErrBadIndex, -1},  // no known version, e.g. the other byte order
        {head().Int32(0xFFFFFFFF).Int32(0x80000000).Magic().Str(), KR::NoError, 0},  // negative counts
        // A count beyond the block: what was read before the end stays.
        {head().Int32(0x7FFFFFFF).Library(false, false, a.GetText()).Str(), KR::ErrEndOfChannel, 1},
        {head().Int32(1).Bool(false).Bool(false).Bool(true).Int32(0x7FFFFFF0).Raw("abc").Str(), KR::ErrEndOfChannel,
         0},  // a text longer than the block
        {head().Int32(1).Bool(false).Bool(false).Bool(false).Raw("\x01").Text("rel").Str(), KR::ErrBadFormat, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.bytes.size());
        set->AddActiveLibrary(b, LM::NotPermanent, false, true);
        const std::int32_t before = set->GetActiveLibraryNum();
        EXPECT_EQ(row.result, Restore(*set, row.bytes));
        EXPECT_EQ(row.libraries < 0 ? before : row.libraries, set->GetActiveLibraryNum());
    }
    EXPECT_EQ(LM::ErrBadIndex, set->SetActiveLibrariesFromInfo(nullptr, false));
}

TEST_F(InfoBlockRestore, FromTheTextFormOnlyExistingFilesOfAStorableTypeBecomeOtherObjects)
{
    static const FTM::TypeID partType = [] {
        FTM::FileType type("Configuration test part");
        type.AddExtension("cfgpart");
        return FTM::FileTypeManager::AddType(type);
    }();
    const IO::Location part = dir.WriteFile("parts/Door.cfgpart", "x");
    const std::string block = "Ws\0WW"s + part.GetText() + "\0WW"s + dir.WriteFile("parts/Notes.txt", "x").GetText() +
                              "\0WW"s + dir.Loc("parts/Missing.cfgpart").GetText() + "\0WW"s +
                              dir.MakeFolder("Lib.cfgpart").GetText() + "\0\0"s;
    EXPECT_EQ(0, Restore(*set, block));
    EXPECT_EQ(4, set->GetActiveLibraryNum());  // no storable type yet

    set->AddStorableFileType(7);
    set->AddStorableFileType(partType);
    set->AddStorableFileType(7);
    set->RemoveStorableFileType(7);
    std::vector<FTM::GeneralID> types;
    for (auto it = set->EnumerateStorableFileTypes(); !it.IsEnd(); ++it)
        types.push_back(*it);
    EXPECT_EQ(std::vector<FTM::GeneralID>({partType}), types);
    EXPECT_EQ(0, Restore(*set, block));
    EXPECT_EQ(std::vector<OtherView>({{part.GetText(), "", false, "Door.cfgpart"}}), OtherObjects(*set));
    EXPECT_EQ(3, set->GetActiveLibraryNum());
}

TEST_F(InfoBlockCompare, ABlockEqualsTheSetThatWroteItUnlessItsCachesChange)
{
    Fill(*set);
    const std::string block = InfoOf(*set);
    EXPECT_TRUE(IsEqual(*set, block, true, true));
    // Counted without permanent folder libraries the set has one fewer.
    EXPECT_FALSE(IsEqual(*set, block, false, false));
    EXPECT_TRUE(IsEqual(*set, InfoOf(*set, false), false, true));
    set->SetOtherObjectUrl(0, KR::String("http://h/changed.gsm"));
    EXPECT_FALSE(IsEqual(*set, block, true, false));
    set->SetOtherObjectUrl(0, KR::String("http://h/o.gsm"));

    ASSERT_EQ(0, set->SetUseLanCache(true));
    EXPECT_TRUE(IsEqual(*set, block, true, false));
    EXPECT_FALSE(IsEqual(*set, block, true, true));
    const std::string withLan = InfoOf(*set);
    ASSERT_EQ(0, set->SetLanCacheLocation(dir.MakeFolder("lan2")));
    EXPECT_FALSE(IsEqual(*set, withLan, true, true));
    EXPECT_TRUE(IsEqual(*set, withLan, true, false));
}

TEST_F(InfoBlockMerge, AddsWhatIsNewAndKeepsWhatIsPresent)
{
    set->AddActiveLibrary(a, LM::NotPermanent, false, true);
    set->AddOtherObject(dir.Loc("o.gsm"));
    const std::string block = BlockBytes().Magic().Bool(false).Location("").Int32(2)
                                  .Library(true, true, a.GetText())  // present: flags stay
                                  .Library(true, true, b.GetText()).Int32(2)
                                  .Location(dir.Loc("o.gsm").GetText())  // present: takes the URL
                                  .Text("http://h/o.gsm").Location("").Text("http://h/q.gsm").Magic().Str();
    EXPECT_EQ(0, Merge(*set, block));
    EXPECT_EQ(std::vector<LibraryView>({{a.GetText(), "", false, false}, {b.GetText(), "", true, true}}),
              Libraries(*set));
    EXPECT_EQ(std::vector<OtherView>({{dir.Loc("o.gsm").GetText(), "http://h/o.gsm", true, "o.gsm"},
                                      {"", "http://h/q.gsm", true, "q.gsm"}}),
              OtherObjects(*set));

    // A text block is not merged.
    const auto before = Libraries(*set);
    EXPECT_EQ(0, Merge(*set, "Ws\0WW"s + dir.MakeFolder("C").GetText() + "\0\0"s));
    EXPECT_EQ(0, set->MergeActiveLibraries(nullptr));
    EXPECT_EQ(before, Libraries(*set));
    // A damaged block keeps what was merged before the damage.
    EXPECT_EQ(KR::ErrEndOfChannel,
              Merge(*set, BlockBytes().Magic().Bool(false).Location("").Int32(2)
                              .Library(false, false, dir.MakeFolder("D").GetText()).Str()));
    EXPECT_EQ(before.size() + 1, Libraries(*set).size());
}

}  // namespace
