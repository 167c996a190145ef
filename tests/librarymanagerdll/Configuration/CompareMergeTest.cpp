// Comparing a set with a stored block, merging a block into a set, and
// resetting a set.
#include "ConfigurationTestSupport.hpp"

#include "KR/DebugChannel.hpp"

using namespace LMTest;
using namespace ConfigTest;
using namespace std::string_literals;

namespace {

class CompareMergeTest : public SetFixture {
protected:
    void SetUp() override
    {
        SetFixture::SetUp();
        lanCache = dir.MakeFolder("lan");
        ASSERT_EQ(0, set->SetLanCacheLocation(lanCache));
        ASSERT_EQ(0, set->SetFtpCacheLocation(dir.MakeFolder("url")));
        a = dir.MakeFolder("A");
        b = dir.MakeFolder("B");
    }

    // A permanent vital folder, a plain folder, a URL library, an object with
    // a location and a URL, one with only a URL; libraries in either order.
    void Fill(LM::LibrarySet& target, bool reversed = false)
    {
        for (int i = 0; i < 3; ++i) {
            switch (reversed ? 2 - i : i) {
            case 0: target.AddActiveLibrary(a, LM::Permanent, true, true); break;
            case 1: target.AddActiveLibrary(b, LM::NotPermanent, false, true); break;
            default: target.AddActiveLibrary(KR::String("http://h/Web/"), LM::NotPermanent, false);
            }
        }
        target.SetOtherObjectUrl(target.AddOtherObject(dir.Loc("o.gsm")), KR::String("http://h/o.gsm"));
        target.AddOtherObject(KR::String("http://h/p.gsm"));
    }

    IO::Location lanCache, a, b;
    KR::DebugCapture quiet;
};

TEST_F(CompareMergeTest, ABlockEqualsTheSetThatWroteItUnlessItsCachesChange)
{
    Fill(*set);
    const std::string block = InfoOf(*set);
    EXPECT_TRUE(IsEqual(*set, block, true, false));
    EXPECT_TRUE(IsEqual(*set, block, true, true));
    // Counted without permanent folder libraries the set has one fewer.
    EXPECT_FALSE(IsEqual(*set, block, false, false));
    EXPECT_TRUE(IsEqual(*set, InfoOf(*set, false), false, true));

    ASSERT_EQ(0, set->SetUseLanCache(true));
    EXPECT_TRUE(IsEqual(*set, block, true, false));
    EXPECT_FALSE(IsEqual(*set, block, true, true));
    const std::string withLan = InfoOf(*set);
    ASSERT_EQ(0, set->SetLanCacheLocation(dir.MakeFolder("lan2")));
    EXPECT_FALSE(IsEqual(*set, withLan, true, true));
    EXPECT_TRUE(IsEqual(*set, withLan, true, false));
}

TEST_F(CompareMergeTest, LibraryOrderAndFlagsDoNotCountObjectOrderAndUrlsDo)
{
    Fill(*set);
    auto other = NewSet();
    Fill(*other, true);
    other->RemoveActiveLibrary(other->GetActiveLibraryIndex(a));
    other->AddActiveLibrary(a, LM::NotPermanent, false, true);
    EXPECT_TRUE(IsEqual(*set, InfoOf(*other), true, false));
    other->SetOtherObjectUrl(0, KR::String("http://h/changed.gsm"));
    EXPECT_FALSE(IsEqual(*set, InfoOf(*other), true, false));

    // The same two objects in the other order (a new URL renames an object
    // without moving it).
    auto swapped = NewSet();
    swapped->AddOtherObject(KR::String("http://h/a.gsm"));
    swapped->AddOtherObject(dir.Loc("o.gsm"));
    swapped->SetOtherObjectUrl(0, KR::String("http://h/p.gsm"));
    swapped->SetOtherObjectUrl(1, KR::String("http://h/o.gsm"));
    auto plain = NewSet();
    Fill(*plain);
    for (int i = 0; i < 3; ++i)
        plain->RemoveActiveLibrary(0);
    EXPECT_TRUE(IsEqual(*plain, InfoOf(*plain), true, false));
    EXPECT_FALSE(IsEqual(*plain, InfoOf(*swapped), true, false));
}

TEST_F(CompareMergeTest, TextBlocksAreConvertedAndDamagedBlocksAreUnequal)
{
    set->AddActiveLibrary(a, LM::NotPermanent, false, true);
    // The converted block takes the set's URL cache location, so it matches.
    EXPECT_TRUE(IsEqual(*set, "Ws\0WW"s + a.GetText() + "\0\0"s, true, true));
    EXPECT_FALSE(IsEqual(*set, "Ws\0WW"s + b.GetText() + "\0\0"s, true, false));

    // A cut block or a wrong end magic (the fuzz replay tries other damage).
    const std::string block = InfoOf(*set);
    EXPECT_FALSE(IsEqual(*set, block.substr(0, block.size() - 5), true, false));
    EXPECT_FALSE(IsEqual(*set, block.substr(0, block.size() - 1) + "\x4D", true, false));
    // Always read in this platform's byte order: the same content written
    // big-endian is not equal.
    EXPECT_FALSE(IsEqual(*set,
                         BlockBytes(true).Magic().Bool(false).Location(dir.Loc("url").GetText()).Int32(1)
                             .Library(false, false, a.GetText()).Int32(0).Magic().Str(),
                         true, false));
}

TEST_F(CompareMergeTest, MergingIntoAnEmptySetIsRestoringWithoutTheCacheFlag)
{
    Fill(*set);
    ASSERT_EQ(0, set->SetUseLanCache(true));
    const std::string block = InfoOf(*set);

    auto restored = NewSet();
    ASSERT_EQ(0, Restore(*restored, block));
    auto merged = NewSet();
    merged->SetEnumerated(true);
    EXPECT_EQ(0, Merge(*merged, block));
    EXPECT_EQ(Libraries(*restored), Libraries(*merged));
    EXPECT_EQ(OtherObjects(*restored), OtherObjects(*merged));
    EXPECT_FALSE(merged->IsUseLanCache());
    EXPECT_TRUE(merged->IsEnumerated());

    // Into the set that wrote it: nothing changes.
    EXPECT_EQ(0, Merge(*set, block));
    EXPECT_EQ(Libraries(*restored), Libraries(*set));
    EXPECT_EQ(OtherObjects(*restored), OtherObjects(*set));
}

TEST_F(CompareMergeTest, MergeAddsWhatIsNewAndKeepsWhatIsPresent)
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

    // Neither a text block nor a block of the other byte order is merged.
    const auto before = Libraries(*set);
    EXPECT_EQ(0, Merge(*set, "Ws\0WW"s + dir.MakeFolder("C").GetText() + "\0\0"s));
    EXPECT_EQ(0, Merge(*set, BlockBytes(true).Magic().Bool(false).Location("").Int32(1)
                                 .Library(false, false, "/x").Str()));
    EXPECT_EQ(0, set->MergeActiveLibraries(nullptr));
    EXPECT_EQ(before, Libraries(*set));
    // A damaged block keeps what was merged before the damage.
    EXPECT_EQ(KR::ErrEndOfChannel,
              Merge(*set, BlockBytes().Magic().Bool(false).Location("").Int32(2)
                              .Library(false, false, dir.MakeFolder("D").GetText()).Str()));
    EXPECT_EQ(before.size() + 1, Libraries(*set).size());
}

TEST_F(CompareMergeTest, ResetEmptiesTheListsAndKeepsTheCacheLocations)
{
    Fill(*set);
    ASSERT_EQ(0, set->SetUseLanCache(true));
    set->SetEnumerated(true);
    EXPECT_EQ(0, set->ResetActiveLibraries());
    EXPECT_TRUE(set->GetActiveLibraryNum() == 0 && set->GetOtherObjectNum() == 0);
    EXPECT_FALSE(set->IsEnumerated() || set->IsUseLanCache());
    IO::Location location;
    set->GetLanCacheLocation(&location);
    EXPECT_EQ(lanCache, location);
}

}  // namespace
