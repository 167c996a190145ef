// Other objects: order, names, the URL flag and the results for bad indices.
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
    EXPECT_EQ("a.gsm", NameAt(*set, 0));
}
