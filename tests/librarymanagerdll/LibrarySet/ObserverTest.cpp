// Observers of a library set and the points at which the set notifies.
#include "LibrarySetTestSupport.hpp"

#include <functional>

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
    std::function<void()> onCall;

    void SourceDestroyed(KR::EventSource*) override { ++sourceDestroyed; }

protected:
    void SomethingHappened() override
    {
        ++calls;
        if (watched != nullptr)
            enumeratedSeen.push_back(watched->IsEnumerated());
        if (onCall)
            onCall();
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

TEST_F(Observers, ObserversMayDetachThemselvesOrOthersDuringTheCall)
{
    RecordingObserver first, second, third;
    for (RecordingObserver* o : {&first, &second, &third})
        set->Attach(*o);
    auto detachOnCall = [&](RecordingObserver& caller, std::vector<RecordingObserver*> leaving) {
        caller.onCall = [this, leaving] {
            for (RecordingObserver* o : leaving)
                set->Detach(*o);
        };
    };
    auto calls = [&] { return std::vector<int>{first.calls, second.calls, third.calls}; };
    // The first leaves and removes the third: the second is still called,
    // the third is not.
    detachOnCall(first, {&first, &third});
    set->AddOtherObject(dir.Loc("a.gsm"));
    EXPECT_EQ((std::vector<int>{1, 1, 0}), calls());
    // The last one removes an earlier one and itself; the walk ends cleanly.
    set->Attach(third);
    detachOnCall(third, {&second, &third});
    set->AddOtherObject(dir.Loc("b.gsm"));
    EXPECT_EQ((std::vector<int>{1, 2, 1}), calls());
    set->AddOtherObject(dir.Loc("c.gsm"));  // nobody is attached any more
    EXPECT_EQ((std::vector<int>{1, 2, 1}), calls());
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
