// The binary info block: what a set writes, byte for byte, and how a set is
// restored from one, in this and in the other byte order, and from damaged
// blocks.
#include "ConfigurationTestSupport.hpp"

#include "KR/DebugChannel.hpp"

using namespace LMTest;
using namespace ConfigTest;

namespace {

class CurrentInfoTest : public SetFixture {
protected:
    void SetUp() override
    {
        SetFixture::SetUp();
        urlCache = dir.MakeFolder("urlcache");
        lanCache = dir.MakeFolder("lancache");
        ASSERT_EQ(0, set->SetFtpCacheLocation(urlCache));
        ASSERT_EQ(0, set->SetLanCacheLocation(lanCache));
    }

    IO::Location urlCache;
    IO::Location lanCache;
    KR::DebugCapture quiet;  // damaged blocks print their exception
};

TEST_F(CurrentInfoTest, WritesEveryItemInListOrderAndLeavesOutPermanentFolderLibraries)
{
    const IO::Location beta = dir.MakeFolder("libs/Beta");
    const IO::Location alpha = dir.MakeFolder("libs/Alpha");
    set->AddActiveLibrary(beta, LM::Permanent, true, true);
    set->AddActiveLibrary(alpha, LM::NotPermanent, false, true);
    set->AddActiveLibrary(KR::String("http://host/web/Web/"), LM::Permanent, true);
    const IO::Location part = dir.Loc("other/Door.gsm");
    set->SetOtherObjectUrl(set->AddOtherObject(part), KR::String("http://host/Door.gsm"));
    set->AddOtherObject(KR::String("http://host/x/Window.gsm"));
    ASSERT_EQ(0, set->SetUseLanCache(true));

    auto block = [&](std::uint32_t n, bool withBeta) {
        BlockBytes bytes;
        bytes.Magic().Bool(true).Location(lanCache.GetText()).Location(urlCache.GetText()).Int32(n);
        bytes.Library(false, false, alpha.GetText());
        if (withBeta)
            bytes.Library(true, true, beta.GetText());
        return bytes.UrlLibrary(true, true, "http://host/web/Web/").Int32(2).Location(part.GetText())
            .Text("http://host/Door.gsm").Location("").Text("http://host/x/Window.gsm").Magic().Str();
    };
    EXPECT_EQ(block(3, true), InfoOf(*set, true, LM::LibrarySet::InfoCurrentVersion));
    EXPECT_EQ(block(2, false), InfoOf(*set, false));

    // An unknown version gives no block; no place for it is refused.
    char* sentinel = nullptr;
    char** info = &sentinel;
    EXPECT_EQ(0, set->GetActiveLibrariesInfo(&info, true, 7));
    EXPECT_EQ(nullptr, info);
    EXPECT_EQ(KR::ErrParam, set->GetActiveLibrariesInfo(nullptr, true, 0));
}

TEST_F(CurrentInfoTest, RestoreGivesBackLibrariesFlagsAndObjectsButKeepsCacheLocations)
{
    set->AddActiveLibrary(dir.MakeFolder("Lib"), LM::Permanent, true, true);
    set->AddActiveLibrary(dir.Loc("Gone"), LM::NotPermanent, false, true);
    set->AddActiveLibrary(KR::String("http://host/Web/"), LM::Permanent, true);
    set->SetOtherObjectUrl(set->AddOtherObject(dir.Loc("Both.gsm")), KR::String("http://host/Both.gsm"));
    set->AddOtherObject(KR::String("http://host/OnlyUrl.gsm"));
    ASSERT_EQ(0, set->SetUseLanCache(true));

    auto target = NewSet();
    const IO::Location otherLan = dir.MakeFolder("otherlan");
    ASSERT_EQ(0, target->SetLanCacheLocation(otherLan));
    target->AddActiveLibrary(dir.MakeFolder("Replaced"), LM::NotPermanent, false, true);
    target->AddOtherObject(dir.Loc("Replaced.gsm"));
    target->SetEnumerated(true);

    EXPECT_EQ(0, Restore(*target, InfoOf(*set)));
    EXPECT_EQ(Libraries(*set), Libraries(*target));
    EXPECT_EQ(OtherObjects(*set), OtherObjects(*target));
    EXPECT_TRUE(target->IsUseLanCache());
    EXPECT_FALSE(target->IsEnumerated());
    // The missing folder (first by name) comes back, not existing.
    EXPECT_FALSE(target->IsExistActiveLibrary(0));
    EXPECT_TRUE(target->IsExistActiveLibrary(1));
    IO::Location location;
    target->GetLanCacheLocation(&location);
    EXPECT_EQ(otherLan, location);
    target->GetFtpCacheLocation(&location);
    EXPECT_TRUE(location.IsEmpty());
}

TEST_F(CurrentInfoTest, BigEndianBlockIsRestoredOnlyWithSwapBytes)
{
    const IO::Location lib = dir.MakeFolder("BigLib");
    auto build = [&](bool big) {
        return BlockBytes(big).Magic().Bool(false).Location("http://cache/").Int32(2)
            .Library(true, true, lib.GetText()).UrlLibrary(false, false, "http://h/U/").Int32(1)
            .Location(dir.Loc("o.gsm").GetText()).Text("http://h/o.gsm").Magic().Str();
    };
    // Without the flag it has no known version (a row of the damaged blocks).
    EXPECT_EQ(0, Restore(*set, build(true), true));
    auto little = NewSet();
    EXPECT_EQ(0, Restore(*little, build(false), false));
    EXPECT_EQ(2u, Libraries(*set).size());
    EXPECT_EQ(Libraries(*little), Libraries(*set));
    EXPECT_EQ(OtherObjects(*little), OtherObjects(*set));
}

// One row per way a block is refused or stops early; the fuzz replay tries
// every other damage.
TEST_F(CurrentInfoTest, DamagedBlocksAreRefusedOrRestoredUpToTheDamage)
{
    const IO::Location a = dir.MakeFolder("A");
    const auto head = [] { return BlockBytes().Magic().Bool(false).Location(""); };
    struct Row {
        std::string bytes;
        KR::ErrorCode result;
        std::int32_t libraries;  // -1: the set is left as it was
    };
    const Row rows[] = {
        {"L2", LM::ErrBadIndex, -1},                                                 // too short for a version
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
        set->AddActiveLibrary(dir.MakeFolder("Old"), LM::NotPermanent, false, true);
        const std::int32_t before = set->GetActiveLibraryNum();
        EXPECT_EQ(row.result, Restore(*set, row.bytes));
        EXPECT_EQ(row.libraries < 0 ? before : row.libraries, set->GetActiveLibraryNum());
    }
    EXPECT_EQ(LM::ErrBadIndex, set->SetActiveLibrariesFromInfo(nullptr, false));
}

}  // namespace
