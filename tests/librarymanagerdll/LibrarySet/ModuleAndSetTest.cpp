// The set's construction and destruction, the shared script code container,
// the guard of the public operations, and the other objects: order, names,
// the URL flag and the notification of the set's observers.
#include "LibrarySetTestSupport.hpp"

#include "KR/DebugChannel.hpp"
#include "LibrarySet/LibrarySetInternals.hpp"
#include "PartTable/PscBinCodesContainer.hpp"

#include <stdexcept>

using namespace LMTest;

namespace {

// Yields one identifier, then fails as a foundation container would.
struct FailingTypeIterator {
    int position = 0;
    const FTM::GeneralID& operator*() const
    {
        static const FTM::GeneralID type = 4;
        if (position > 0)
            throw KR::IllegalArgumentException("No such element.", "FailingTypeIterator");
        return type;
    }
    FailingTypeIterator& operator++()
    {
        ++position;
        return *this;
    }
    bool operator!=(const FailingTypeIterator& other) const { return position != other.position; }
};

struct ThrowingObserver : LM::LibrarySetObserver {
    void SomethingHappened() override { raise(); }
    void (*raise)() = nullptr;
};

std::string NameAt(LM::LibrarySet& set, std::int32_t index)
{
    KR::String name;
    set.GetOtherObjectName(index, &name);
    return name.Std();
}

// Records whether the set was enumerated at each notification.
struct RecordingObserver : LM::LibrarySetObserver {
    explicit RecordingObserver(LM::LibrarySet* watched) : set(watched) {}
    void SomethingHappened() override { seen.push_back(set->IsEnumerated()); }
    LM::LibrarySet* set;
    std::vector<bool> seen;
};

}  // namespace

using SetGuard = SetFixture;
using OtherObjects = SetFixture;

using LibrarySetLifeTest = ModuleFixture;

TEST_F(LibrarySetLifeTest, SetsShareTheContainerOfTheirCacheFolder)
{
    InitModule(dir.MakeFolder("shared"));
    auto first = std::make_unique<LM::LibrarySet>(handler, NoTypes());
    LM::LibrarySet second(handler, NoTypes());
    LM::PscBinCodesContainer* container = LM::LibrarySetInternals::GetScriptCodeContainer(*first);
    ASSERT_NE(nullptr, container);
    EXPECT_EQ(container, LM::LibrarySetInternals::GetScriptCodeContainer(second));
    EXPECT_EQ(2u, container->GetObserverCount());
    first.reset();
    EXPECT_EQ(container, LM::PscBinCodesContainerRegistry::Find(dir.Loc("shared")));
    EXPECT_EQ(1u, container->GetObserverCount());

    // A new cache folder gives later sets a container of their own; existing
    // sets keep theirs.
    InitModule(dir.MakeFolder("other"));
    LM::LibrarySet third(handler, NoTypes());
    EXPECT_NE(container, LM::LibrarySetInternals::GetScriptCodeContainer(third));
    EXPECT_EQ(container, LM::LibrarySetInternals::GetScriptCodeContainer(second));
}

TEST_F(LibrarySetLifeTest, FailedConstructionLeavesAnUnusableSetThatRefusesEverything)
{
    LM::PscBinCodesContainer* container = LM::PscBinCodesContainerRegistry::Obtain(dir.Loc("scriptcache"));
    ASSERT_NE(nullptr, container);
    KR::DebugCapture capture;
    LM::LibrarySet set(handler, KR::ConstForwardIterator<FTM::GeneralID>(FailingTypeIterator{0},
                                                                          FailingTypeIterator{5}));
    EXPECT_NE(std::string::npos, capture.GetText().find("IllegalArgumentException"));
    EXPECT_FALSE(set.IsUsable());
    EXPECT_EQ(nullptr, LM::LibrarySetInternals::GetPartTable(set));
    EXPECT_FALSE(container->IsAttached(set));
    EXPECT_EQ(-1, set.AddActiveLibrary(dir.Loc("scriptcache"), LM::Permanent, false, false));
    EXPECT_EQ(LM::ErrSetUnusable, set.RemoveActiveLibrary(0));
    EXPECT_EQ(0, set.GetFolderNumber());
    EXPECT_EQ(LM::ErrSetUnusable, set.SetLanCacheLocation(dir.Loc("scriptcache")));
    set.RefreshMounted();  // no guard, and nothing to do
}

TEST_F(SetGuard, GuardPrintsCaughtExceptionsAndReturnsTheFallback)
{
    ThrowingObserver observer;
    set->Attach(observer);
    struct Case {
        void (*raise)();
        const char* printed;
    };
    for (Case c : {Case{[] { throw KR::IllegalStateException("Observer failed.", "Test"); },
                        "IllegalStateException 0x81000007 in Test"},
                   Case{[] { throw std::bad_alloc(); }, "OutOfMemoryException 0xFFFFFF94"},
                   Case{[] { throw std::runtime_error("standard failure"); },
                        "KRException 0x8100000A in LibrarySet: standard failure"},
                   Case{[] { throw 42; }, "KRException 0x8100000A"}}) {
        observer.raise = c.raise;
        KR::DebugCapture capture;
        EXPECT_EQ(-1, set->AddOtherObject(dir.Loc("part.gsm")));
        EXPECT_NE(std::string::npos, capture.GetText().find(c.printed)) << capture.GetText();
    }
    // The object was added before the observer failed; it is there once.
    EXPECT_EQ(1, set->GetOtherObjectNum());
    set->Detach(observer);
}

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

    EXPECT_EQ(LM::ErrBadIndex, set->SetOtherObjectLocation(4, dir.Loc("b.gsm")));
    // A new name does not move an object.
    EXPECT_EQ(0, set->SetOtherObjectLocation(0, dir.Loc("Zulu")));
    EXPECT_EQ("Zulu", NameAt(*set, 0));
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

TEST_F(OtherObjects, AddOtherObjectNotifiesInEveryCaseOtherChangesDoNot)
{
    RecordingObserver observer(set.get());
    set->Attach(observer);
    set->Attach(observer);  // held once
    RecordingObserver copy(observer);  // copies are not attached
    copy = observer;
    EXPECT_EQ(0u, copy.GetSourceCount());

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

