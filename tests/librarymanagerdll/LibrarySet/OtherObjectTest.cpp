// Other objects: order, names, the URL flag, the results for bad indices and
// the notification of the set's observers.
#include "LibrarySetTestSupport.hpp"

#include "LibrarySet/OtherObjectList.hpp"

using namespace LMTest;

using OtherObjects = SetFixture;

namespace {

std::string NameAt(LM::LibrarySet& set, std::int32_t index)
{
    KR::String name;
    set.GetOtherObjectName(index, &name);
    return name.Std();
}

}  // namespace

TEST_F(OtherObjects, OtherObjectsAreInsertedByNameEqualNamesFirst)
{
    EXPECT_EQ(0, set->AddOtherObject(dir.Loc("one/Beta")));
    EXPECT_EQ(0, set->AddOtherObject(dir.Loc("one/Alpha")));
    EXPECT_EQ(0, set->AddOtherObject(dir.Loc("two/Alpha")));
    EXPECT_EQ(3, set->AddOtherObject(KR::String("http://h/dir/Gamma")));
    EXPECT_EQ(1, set->AddOtherObject(dir.Loc("one/Alpha")));  // present: its index, nothing added
    EXPECT_EQ(3, set->AddOtherObject(KR::String("http://h/dir/Gamma")));
    EXPECT_EQ(4, set->GetOtherObjectNum());
    IO::Location first;
    EXPECT_EQ(0, set->GetOtherObjectLocation(0, &first));
    EXPECT_EQ(dir.Loc("two/Alpha"), first);
    EXPECT_EQ("Beta", NameAt(*set, 2));

    // A new name does not move an object.
    EXPECT_EQ(0, set->SetOtherObjectLocation(0, dir.Loc("Zulu")));
    EXPECT_EQ("Zulu", NameAt(*set, 0));
}

TEST(OtherObjectNameTest, UrlNamesFollowBackslashThenSlash)
{
    auto urlName = [](const char* url) {
        LM::OtherObject object;
        object.url = url;
        object.urlFlag = true;
        return LM::OtherObjectList::MakeName(object).Std();
    };
    EXPECT_EQ("part1", urlName("http://host/dir/part1"));
    EXPECT_EQ("part1", urlName("c:\\dir\\part1"));
    EXPECT_EQ("b/c", urlName("a\\b/c"));  // the last backslash wins over a later slash
    EXPECT_EQ("plain", urlName("plain"));
    EXPECT_EQ("", urlName("http://host/dir/"));
}

TEST_F(OtherObjects, UrlFlagFollowsTheUrlLastSetAndTheNameItsOrigin)
{
    ASSERT_EQ(0, set->AddOtherObject(dir.Loc("Local.gsm")));
    set->SetEnumerated(true);
    EXPECT_EQ(0, set->SetOtherObjectUrl(0, KR::String("http://h/Remote.gsm")));
    EXPECT_TRUE(set->IsUrlOtherObject(0));
    EXPECT_EQ("Local.gsm", NameAt(*set, 0));
    // The URL flag is now set, so a URL set later names the object.
    EXPECT_EQ(0, set->SetOtherObjectUrl(0, KR::String("http://h/Other.gsm")));
    EXPECT_EQ("Other.gsm", NameAt(*set, 0));
    EXPECT_EQ(0, set->SetOtherObjectUrl(0, KR::String()));
    EXPECT_FALSE(set->IsUrlOtherObject(0));
    EXPECT_TRUE(set->IsEnumerated());  // setters leave the flag

    ASSERT_EQ(1, set->AddOtherObject(KR::String("http://h/x/Web.gsm")));
    EXPECT_TRUE(set->IsUrlOtherObject(1));
    EXPECT_FALSE(set->IsEnumerated());
    EXPECT_EQ(0, set->SetOtherObjectLocation(1, dir.Loc("Disk.gsm")));
    EXPECT_EQ("Web.gsm", NameAt(*set, 1));
}

TEST_F(OtherObjects, BadOtherObjectIndicesChangeNothing)
{
    set->AddOtherObject(dir.Loc("a.gsm"));
    KR::String text("kept");
    for (std::int32_t bad : {-1, 1}) {
        EXPECT_EQ(LM::ErrBadIndex, set->GetOtherObjectName(bad, &text));
        EXPECT_EQ(LM::ErrBadIndex, set->SetOtherObjectLocation(bad, dir.Loc("b.gsm")));
    }
    EXPECT_EQ("kept", text.Std());
    EXPECT_EQ(1, set->GetOtherObjectNum());
}

namespace {

// Records whether the set was enumerated at each notification.
struct RecordingObserver : LM::LibrarySetObserver {
    explicit RecordingObserver(LM::LibrarySet* watched) : set(watched) {}
    void SomethingHappened() override { seen.push_back(set->IsEnumerated()); }
    LM::LibrarySet* set;
    std::vector<bool> seen;
};

}  // namespace

TEST_F(OtherObjects, AddOtherObjectNotifiesInEveryCaseOtherChangesDoNot)
{
    RecordingObserver observer(set.get());
    set->Attach(observer);
    set->Attach(observer);  // held once

    set->SetEnumerated(true);
    EXPECT_EQ(0, set->AddOtherObject(dir.Loc("a.gsm")));
    EXPECT_EQ(0, set->AddOtherObject(dir.Loc("a.gsm")));          // already there
    EXPECT_EQ(-1, set->AddOtherObject(IO::Location()));           // nothing added
    EXPECT_EQ(-1, set->AddOtherObject(KR::String()));
    EXPECT_EQ(1, set->AddOtherObject(KR::String("http://h/b.gsm")));
    EXPECT_EQ(std::vector<bool>(5, false), observer.seen);

    set->AddActiveLibrary(dir.MakeFolder("lib"), LM::NotPermanent, false, true);
    set->AddActiveLibrary(KR::String("http://h/lib/"), LM::NotPermanent, false);
    set->RemoveActiveLibrary(0);
    set->SetOtherObjectUrl(0, KR::String("http://h/c.gsm"));
    set->SetOtherObjectLocation(0, dir.Loc("c.gsm"));
    EXPECT_EQ(5u, observer.seen.size());

    set->Detach(observer);
    set->AddOtherObject(dir.Loc("d.gsm"));
    EXPECT_EQ(5u, observer.seen.size());
}

