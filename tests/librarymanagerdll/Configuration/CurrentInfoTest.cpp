// The binary info block: what a set writes, byte for byte, and how a set is
// restored from one, in this and in the other byte order, and from damaged
// blocks.
#include "ConfigurationTestSupport.hpp"

#include "KR/DebugChannel.hpp"

using namespace LMTest;
using namespace ConfigTest;

namespace {

class CountingObserver : public LM::LibrarySetObserver {
public:
    void SomethingHappened() override { ++calls; }
    int calls = 0;
};

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

TEST_F(CurrentInfoTest, EmptySetWritesMagicFlagUrlCacheTwoZeroCountsAndMagic)
{
    const std::string expected =
        BlockBytes().Magic().Bool(false).Location(urlCache.GetText()).Int32(0).Int32(0).Magic().Str();
    EXPECT_EQ(std::string("\x36\x30\x32\x4C", 4), expected.substr(0, 4));
    EXPECT_EQ(expected, InfoOf(*set, true, 0));
    EXPECT_EQ(expected, InfoOf(*set, false, LM::LibrarySet::InfoCurrentVersion));

    char* sentinel = nullptr;
    char** info = &sentinel;
    EXPECT_EQ(0, set->GetActiveLibrariesInfo(&info, true, 7));
    EXPECT_EQ(nullptr, info);
    EXPECT_EQ(KR::ErrParam, set->GetActiveLibrariesInfo(nullptr, true, 0));
}

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
    EXPECT_EQ(block(3, true), InfoOf(*set, true));
    EXPECT_EQ(block(2, false), InfoOf(*set, false));
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
    CountingObserver observer;
    target->Attach(observer);

    EXPECT_EQ(0, Restore(*target, InfoOf(*set)));
    EXPECT_EQ(Libraries(*set), Libraries(*target));
    EXPECT_EQ(OtherObjects(*set), OtherObjects(*target));
    EXPECT_TRUE(target->IsUseLanCache());
    EXPECT_FALSE(target->IsEnumerated());
    EXPECT_EQ(0, observer.calls);
    // The missing folder (first by name) comes back, not existing.
    EXPECT_FALSE(target->IsExistActiveLibrary(0));
    EXPECT_TRUE(target->IsExistActiveLibrary(1));
    IO::Location location;
    target->GetLanCacheLocation(&location);
    EXPECT_EQ(otherLan, location);
    target->GetFtpCacheLocation(&location);
    EXPECT_TRUE(location.IsEmpty());
    target->Detach(observer);

    // Repeated and empty records add nothing; the first of two equal ones wins.
    const IO::Location a = dir.MakeFolder("A");
    const std::string repeats = BlockBytes().Magic().Bool(false).Location("")
                                    .Int32(4).Library(true, false, a.GetText()).Library(false, true, a.GetText())
                                    .Library(true, true, "").UrlLibrary(true, true, "")
                                    .Int32(2).Location("").Text("").Location("").Text("http://h/y.gsm")
                                    .Magic().Str();
    EXPECT_EQ(0, Restore(*target, repeats));
    EXPECT_EQ(std::vector<LibraryView>({{a.GetText(), "", true, false}}), Libraries(*target));
    EXPECT_EQ(std::vector<OtherView>({{"", "http://h/y.gsm", true, "y.gsm"}}), OtherObjects(*target));
}

TEST_F(CurrentInfoTest, BigEndianBlockIsRestoredOnlyWithSwapBytes)
{
    const IO::Location lib = dir.MakeFolder("BigLib");
    auto build = [&](bool big) {
        return BlockBytes(big).Magic().Bool(false).Location("http://cache/").Int32(2)
            .Library(true, true, lib.GetText()).UrlLibrary(false, false, "http://h/U/").Int32(1)
            .Location(dir.Loc("o.gsm").GetText()).Text("http://h/o.gsm").Magic().Str();
    };
    const std::string big = build(true);
    EXPECT_EQ(std::string("\x4C\x32\x30\x36", 4), big.substr(0, 4));

    set->AddActiveLibrary(dir.MakeFolder("Kept"), LM::NotPermanent, false, true);
    const auto before = Libraries(*set);
    set->SetEnumerated(true);
    EXPECT_EQ(LM::ErrBadIndex, Restore(*set, big, false));
    EXPECT_EQ(LM::ErrBadIndex, Restore(*set, build(false), true));
    EXPECT_EQ(before, Libraries(*set));
    EXPECT_TRUE(set->IsEnumerated());

    EXPECT_EQ(0, Restore(*set, big, true));
    auto little = NewSet();
    EXPECT_EQ(0, Restore(*little, build(false), false));
    EXPECT_EQ(2u, Libraries(*set).size());
    EXPECT_EQ(Libraries(*little), Libraries(*set));
    EXPECT_EQ(OtherObjects(*little), OtherObjects(*set));
}

TEST_F(CurrentInfoTest, DamagedBlocksStopWhereTheyEndAndNeverReadPastIt)
{
    for (int i = 0; i < 3; ++i)
        set->AddActiveLibrary(dir.MakeFolder("L" + std::to_string(i)), LM::NotPermanent, false, true);
    set->AddOtherObject(dir.Loc("o.gsm"));
    const std::string block = InfoOf(*set);
    const auto full = Libraries(*set);

    // Too short to have a version, or of none: refused, nothing changes.
    for (std::size_t length : {0, 1, 3})
        EXPECT_EQ(LM::ErrBadIndex, Restore(*set, block.substr(0, length)));
    EXPECT_EQ(LM::ErrBadIndex, Restore(*set, "L206"));
    EXPECT_EQ(LM::ErrBadIndex, set->SetActiveLibrariesFromInfo(nullptr, false));
    EXPECT_EQ(full, Libraries(*set));

    // Every other length: the lists are replaced by what was read.
    auto target = NewSet();
    for (std::size_t length = 4; length < block.size(); ++length) {
        target->AddActiveLibrary(dir.MakeFolder("Old"), LM::NotPermanent, false, true);
        ASSERT_EQ(KR::ErrEndOfChannel, Restore(*target, block.substr(0, length))) << length;
        const auto restored = Libraries(*target);
        ASSERT_LE(restored.size(), full.size());
        EXPECT_TRUE(std::equal(restored.begin(), restored.end(), full.begin())) << length;
    }
    // Only the end magic missing: everything is there.
    EXPECT_EQ(full, Libraries(*target));
    EXPECT_EQ(1, target->GetOtherObjectNum());

    // Forged counts and lengths.
    const IO::Location a = dir.MakeFolder("A");
    auto head = [] { return BlockBytes().Magic().Bool(false).Location(""); };
    EXPECT_EQ(0, Restore(*set, head().Int32(0xFFFFFFFF).Int32(0x80000000).Magic().Str()));
    EXPECT_EQ(0, set->GetActiveLibraryNum());
    EXPECT_EQ(KR::ErrEndOfChannel, Restore(*set, head().Int32(0x7FFFFFFF).Library(false, false, a.GetText()).Str()));
    EXPECT_EQ(1, set->GetActiveLibraryNum());
    EXPECT_EQ(KR::ErrEndOfChannel,
              Restore(*set, head().Int32(1).Bool(false).Bool(false).Bool(true).Int32(0x7FFFFFF0).Raw("abc").Str()));
    EXPECT_EQ(KR::ErrBadFormat,
              Restore(*set, head().Int32(1).Bool(false).Bool(false).Bool(false).Raw("\x01").Text("rel").Str()));
    EXPECT_EQ(0, set->GetActiveLibraryNum());
}

}  // namespace
