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

    std::unique_ptr<LM::LibrarySet> NewSet() { return std::make_unique<LM::LibrarySet>(handler, NoTypes()); }

    IO::Location urlCache;
    IO::Location lanCache;
    KR::DebugCapture quiet;  // damaged blocks print their exception
};

TEST_F(CurrentInfoTest, EmptySetWritesMagicFlagUrlCacheTwoZeroCountsAndMagic)
{
    const std::string expected =
        BlockBytes().Magic().Bool(false).Location(urlCache.GetText()).Int32(0).Int32(0).Magic().Str();
    EXPECT_EQ(expected.substr(0, 4), std::string("\x36\x30\x32\x4C", 4));
    EXPECT_EQ(expected, InfoOf(*set, true, 0));
    EXPECT_EQ(expected, InfoOf(*set, false, LM::LibrarySet::InfoCurrentVersion));

    char* sentinel = nullptr;
    char** info = &sentinel;  // must be overwritten
    EXPECT_EQ(0, set->GetActiveLibrariesInfo(&info, true, 7));
    EXPECT_EQ(nullptr, info);
    EXPECT_EQ(LM::ErrParameter, set->GetActiveLibrariesInfo(nullptr, true, 0));
}

TEST_F(CurrentInfoTest, WritesEveryItemInListOrderAndLeavesOutPermanentFolderLibraries)
{
    const IO::Location beta = dir.MakeFolder("libs/Beta");
    const IO::Location alpha = dir.MakeFolder("libs/Alpha");
    ASSERT_EQ(0, set->AddActiveLibrary(beta, LM::Permanent, true, true));
    ASSERT_EQ(0, set->AddActiveLibrary(alpha, LM::NotPermanent, false, true));
    ASSERT_EQ(2, set->AddActiveLibrary(KR::String("http://host/web/Web/"), LM::Permanent, true));
    const IO::Location part = dir.Loc("other/Door.gsm");
    ASSERT_EQ(0, set->AddOtherObject(part));
    ASSERT_EQ(0, set->SetOtherObjectUrl(0, KR::String("http://host/Door.gsm")));
    ASSERT_EQ(1, set->AddOtherObject(KR::String("http://host/x/Window.gsm")));
    ASSERT_EQ(0, set->SetUseLanCache(true));

    auto head = [&] { return BlockBytes().Magic().Bool(true).Location(lanCache.GetText()).Location(urlCache.GetText()); };
    auto tail = [&](BlockBytes bytes) {
        return bytes.Int32(2)
            .Location(part.GetText())
            .Text("http://host/Door.gsm")
            .Location("")
            .Text("http://host/x/Window.gsm")
            .Magic()
            .Str();
    };
    EXPECT_EQ(tail(head()
                       .Int32(3)
                       .Library(false, false, alpha.GetText())
                       .Library(true, true, beta.GetText())
                       .UrlLibrary(true, true, "http://host/web/Web/")),
              InfoOf(*set, true));
    EXPECT_EQ(tail(head().Int32(2).Library(false, false, alpha.GetText()).UrlLibrary(true, true, "http://host/web/Web/")),
              InfoOf(*set, false));
}

TEST_F(CurrentInfoTest, RestoreGivesBackLibrariesFlagsAndObjectsButKeepsCacheLocations)
{
    const IO::Location folder = dir.MakeFolder("Lib");
    const IO::Location gone = dir.Loc("Gone");
    set->AddActiveLibrary(folder, LM::Permanent, true, true);
    set->AddActiveLibrary(gone, LM::NotPermanent, false, true);
    set->AddActiveLibrary(KR::String("http://host/Web/"), LM::Permanent, true);
    set->AddOtherObject(dir.Loc("Both.gsm"));
    set->SetOtherObjectUrl(0, KR::String("http://host/Both.gsm"));
    set->AddOtherObject(KR::String("http://host/OnlyUrl.gsm"));
    ASSERT_EQ(0, set->SetUseLanCache(true));
    const std::string block = InfoOf(*set);

    auto target = NewSet();
    const IO::Location otherLan = dir.MakeFolder("otherlan");
    ASSERT_EQ(0, target->SetLanCacheLocation(otherLan));
    target->AddActiveLibrary(dir.MakeFolder("Replaced"), LM::NotPermanent, false, true);
    target->AddOtherObject(dir.Loc("Replaced.gsm"));
    target->SetEnumerated(true);
    CountingObserver observer;
    target->Attach(observer);

    EXPECT_EQ(0, Restore(*target, block));
    EXPECT_EQ(Libraries(*set), Libraries(*target));
    EXPECT_EQ(OtherObjects(*set), OtherObjects(*target));
    EXPECT_TRUE(target->IsUseLanCache());
    EXPECT_FALSE(target->IsEnumerated());
    EXPECT_EQ(0, observer.calls);
    // The missing folder comes back, not existing; the URL library exists.
    EXPECT_EQ(std::vector<bool>({false, true, true}),
              (std::vector<bool>{target->IsExistActiveLibrary(0), target->IsExistActiveLibrary(1),
                                 target->IsExistActiveLibrary(2)}));
    IO::Location location;
    target->GetLanCacheLocation(&location);
    EXPECT_EQ(otherLan, location);
    target->GetFtpCacheLocation(&location);
    EXPECT_TRUE(location.IsEmpty());
    target->Detach(observer);
}

TEST_F(CurrentInfoTest, RestoreDropsRepeatedAndEmptyRecords)
{
    const IO::Location a = dir.MakeFolder("A");
    const std::string block = BlockBytes()
                                  .Magic()
                                  .Bool(false)
                                  .Location("")
                                  .Int32(4)
                                  .Library(true, false, a.GetText())
                                  .Library(false, true, a.GetText())  // the first record wins
                                  .Library(true, true, "")
                                  .UrlLibrary(true, true, "")
                                  .Int32(3)
                                  .Location("")
                                  .Text("")
                                  .Location(dir.Loc("x.gsm").GetText())
                                  .Text("")
                                  .Location("")
                                  .Text("http://h/y.gsm")
                                  .Magic()
                                  .Str();
    EXPECT_EQ(0, Restore(*set, block));
    EXPECT_EQ(std::vector<LibraryView>({{a.GetText(), "", true, false}}), Libraries(*set));
    EXPECT_EQ(std::vector<OtherView>({{dir.Loc("x.gsm").GetText(), "", false, "x.gsm"},
                                      {"", "http://h/y.gsm", true, "y.gsm"}}),
              OtherObjects(*set));
}

TEST_F(CurrentInfoTest, BigEndianBlockIsRestoredOnlyWithSwapBytes)
{
    const IO::Location lib = dir.MakeFolder("BigLib");
    auto build = [&](bool big) {
        return BlockBytes(big)
            .Magic()
            .Bool(false)
            .Location("http://cache/")
            .Int32(2)
            .Library(true, true, lib.GetText())
            .UrlLibrary(false, false, "http://h/U/")
            .Int32(1)
            .Location(dir.Loc("o.gsm").GetText())
            .Text("http://h/o.gsm")
            .Magic()
            .Str();
    };
    const std::string big = build(true);
    EXPECT_EQ(std::string("\x4C\x32\x30\x36", 4), big.substr(0, 4));

    set->AddActiveLibrary(dir.MakeFolder("Kept"), LM::NotPermanent, false, true);
    const auto before = Libraries(*set);
    set->SetEnumerated(true);
    EXPECT_EQ(LM::ErrBadIndex, Restore(*set, big, false));
    EXPECT_EQ(before, Libraries(*set));
    EXPECT_TRUE(set->IsEnumerated());
    // This platform's block is refused with swapBytes for the same reason.
    EXPECT_EQ(LM::ErrBadIndex, Restore(*set, build(false), true));
    EXPECT_EQ(before, Libraries(*set));

    EXPECT_EQ(0, Restore(*set, big, true));
    auto little = NewSet();
    EXPECT_EQ(0, Restore(*little, build(false), false));
    EXPECT_EQ(Libraries(*little), Libraries(*set));
    EXPECT_EQ(OtherObjects(*little), OtherObjects(*set));
    EXPECT_EQ(2, set->GetActiveLibraryNum());
}

TEST_F(CurrentInfoTest, BlocksTooShortOrOfNoVersionChangeNothing)
{
    set->AddActiveLibrary(dir.MakeFolder("Kept"), LM::NotPermanent, false, true);
    const auto before = Libraries(*set);
    for (std::string bytes : {std::string(), std::string("\x36"), std::string("\x36\x30\x32", 3),
                              std::string("L206"), std::string("\x36\x30\x32\x4D", 4)}) {
        EXPECT_EQ(LM::ErrBadIndex, Restore(*set, bytes)) << bytes.size();
        EXPECT_EQ(before, Libraries(*set));
    }
    EXPECT_EQ(LM::ErrBadIndex, set->SetActiveLibrariesFromInfo(nullptr, false));
    char* notAHandle = nullptr;
    EXPECT_EQ(LM::ErrBadIndex, set->SetActiveLibrariesFromInfo(&notAHandle, false));
    EXPECT_EQ(before, Libraries(*set));
}

TEST_F(CurrentInfoTest, TruncatedBlocksKeepWhatWasReadAndReportTheEnd)
{
    for (int i = 0; i < 3; ++i)
        set->AddActiveLibrary(dir.MakeFolder("L" + std::to_string(i)), LM::NotPermanent, false, true);
    set->AddOtherObject(dir.Loc("o.gsm"));
    const std::string block = InfoOf(*set);
    const auto full = Libraries(*set);

    auto target = NewSet();
    for (std::size_t length = 4; length < block.size(); ++length) {
        target->AddActiveLibrary(dir.MakeFolder("Old"), LM::NotPermanent, false, true);
        ASSERT_EQ(KR::ErrEndOfChannel, Restore(*target, block.substr(0, length))) << length;
        // A prefix of the libraries, never anything that was not in the block.
        const auto restored = Libraries(*target);
        ASSERT_LE(restored.size(), full.size());
        EXPECT_TRUE(std::equal(restored.begin(), restored.end(), full.begin())) << length;
        EXPECT_LE(target->GetOtherObjectNum(), 1);
    }
    // Only the end magic missing: everything is restored, the end reported.
    EXPECT_EQ(full, Libraries(*target));
    EXPECT_EQ(1, target->GetOtherObjectNum());
}

TEST_F(CurrentInfoTest, ForgedCountsAreBoundedByTheBytesPresent)
{
    const IO::Location a = dir.MakeFolder("A");
    auto head = [] { return BlockBytes().Magic().Bool(false).Location(""); };

    // A negative count reads no record.
    EXPECT_EQ(0, Restore(*set, head().Int32(0xFFFFFFFF).Int32(0x80000000).Magic().Str()));
    EXPECT_EQ(0, set->GetActiveLibraryNum());
    // A count far above the records present: those present are added.
    EXPECT_EQ(KR::ErrEndOfChannel, Restore(*set, head().Int32(0x7FFFFFFF).Library(false, false, a.GetText()).Str()));
    EXPECT_EQ(1, set->GetActiveLibraryNum());
    // A text count above the bytes left is refused before it is read.
    EXPECT_EQ(KR::ErrEndOfChannel,
              Restore(*set, head().Int32(1).Bool(false).Bool(false).Bool(true).Int32(0x7FFFFFF0).Raw("abc").Str()));
    EXPECT_EQ(0, set->GetActiveLibraryNum());
    // A location whose kind does not match its text is malformed.
    EXPECT_EQ(KR::ErrBadFormat, Restore(*set, head().Int32(1).Bool(false).Bool(false).Bool(false).Raw("\x01").Text("rel").Str()));
}

}  // namespace
