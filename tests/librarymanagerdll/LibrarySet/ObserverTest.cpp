// Observers of a library set and the points at which the set notifies.
// (Detaching during a notification is the event source's own business and
// is tested with it.)
#include "LibrarySetTestSupport.hpp"

using namespace LMTest;

using Observers = SetFixture;

namespace {

class RecordingObserver : public LM::LibrarySetObserver {
public:
    RecordingObserver() = default;
    RecordingObserver(const RecordingObserver&) = default;
    RecordingObserver& operator=(const RecordingObserver&) = default;

    int calls = 0;
    int sourceDestroyed = 0;
    std::vector<bool> enumeratedSeen;
    LM::LibrarySet* watched = nullptr;

    void SourceDestroyed(KR::EventSource*) override { ++sourceDestroyed; }

protected:
    void SomethingHappened() override
    {
        ++calls;
        if (watched != nullptr)
            enumeratedSeen.push_back(watched->IsEnumerated());
    }
};

}  // namespace

TEST_F(Observers, AddOtherObjectNotifiesInEveryCaseOtherChangesDoNot)
{
    RecordingObserver observer;
    observer.watched = set.get();
    set->Attach(observer);
    set->Attach(observer);  // held once

    set->SetEnumerated(true);
    EXPECT_EQ(0, set->AddOtherObject(dir.Loc("a.gsm")));
    EXPECT_EQ(0, set->AddOtherObject(dir.Loc("a.gsm")));          // already there
    EXPECT_EQ(-1, set->AddOtherObject(IO::Location()));           // nothing added
    EXPECT_EQ(-1, set->AddOtherObject(KR::String()));
    EXPECT_EQ(1, set->AddOtherObject(KR::String("http://h/b.gsm")));
    EXPECT_EQ(5, observer.calls);
    EXPECT_EQ(std::vector<bool>(5, false), observer.enumeratedSeen);

    set->AddActiveLibrary(dir.MakeFolder("lib"), LM::NotPermanent, false, true);
    set->AddActiveLibrary(KR::String("http://h/lib/"), LM::NotPermanent, false);
    set->RemoveActiveLibrary(0);
    set->SetOtherObjectUrl(0, KR::String("http://h/c.gsm"));
    set->SetOtherObjectLocation(0, dir.Loc("c.gsm"));
    EXPECT_EQ(5, observer.calls);

    set->Detach(observer);
    set->AddOtherObject(dir.Loc("d.gsm"));
    EXPECT_EQ(5, observer.calls);
}

TEST_F(Observers, CopiesAreNotAttachedAndAssignmentKeepsAttachments)
{
    RecordingObserver attached;
    set->Attach(attached);
    RecordingObserver copy(attached);
    EXPECT_EQ(0u, copy.GetSourceCount());

    RecordingObserver unattached;
    unattached = attached;
    attached = unattached;
    EXPECT_EQ(1u, attached.GetSourceCount());
    EXPECT_EQ(0u, unattached.GetSourceCount());

    set->AddOtherObject(dir.Loc("a.gsm"));
    EXPECT_EQ(1, attached.calls);
    EXPECT_EQ(0, unattached.calls);
    EXPECT_EQ(0, copy.calls);

    // The set's end is told to the observers still attached.
    set.reset();
    EXPECT_EQ(1, attached.sourceDestroyed);
    EXPECT_EQ(0u, attached.GetSourceCount());
}
