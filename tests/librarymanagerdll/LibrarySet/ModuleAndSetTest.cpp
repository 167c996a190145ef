// A set whose construction fails, and the guard of the public operations.
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

}  // namespace

using SetGuard = SetFixture;

using LibrarySetLifeTest = ModuleFixture;

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

