#include "KR/Events.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

using namespace KR;

namespace {

// An observer with a name that logs what happens to it.
class Probe : public EventObserver {
public:
    Probe(std::string name, std::string* log) : name_(std::move(name)), log_(log) {}
    void SourceDestroyed(EventSource*) override
    {
        *log_ += "destroyed:" + name_ + ";";
        if (onDestroyed)
            onDestroyed();
    }
    std::string name_;
    std::string* log_;
    std::function<void()> onDestroyed;
};

// Visits all observers, calling `visit` on each (by name), and returns the
// visiting order.
std::string Enumerate(EventSource& source, const std::function<void(Probe&)>& visit)
{
    std::string order;
    for (auto e = source.EnumerateObservers(); !e.IsEnd(); e.Next()) {
        auto* p = static_cast<Probe*>(e.GetCurrent());
        order += p->name_;
        visit(*p);
    }
    return order;
}

}  // namespace

// Either side may go first: a dying observer leaves its sources, a dying
// source tells its observers.
TEST(Events, AttachDetachAndLifetimeOfEitherSide)
{
    std::string log;
    auto source = std::make_unique<EventSource>();
    EventSource other;
    Probe keep("keep", &log);
    // Attaching twice is attaching once; detaching twice is safe.
    other.Attach(keep);
    other.Attach(keep);
    other.Detach(keep);
    other.Detach(keep);
    EXPECT_EQ(keep.GetSourceCount(), 0u);
    {
        Probe gone("gone", &log);
        source->Attach(gone);
        other.Attach(gone);
        source->Attach(keep);
    }
    EXPECT_EQ(source->GetObserverCount(), 1u);
    EXPECT_EQ(other.GetObserverCount(), 0u);

    other.Attach(keep);
    EXPECT_EQ(EventSource(other).GetObserverCount(), 0u);  // observers are not copied
    source.reset();
    EXPECT_EQ(log, "destroyed:keep;");
    EXPECT_EQ(keep.GetSourceCount(), 1u);
    EXPECT_TRUE(other.IsAttached(keep));
}

TEST(Events, SourceDestroyedMayDetachOrDestroyObservers)
{
    // Deletes itself when told that a source died; its destructor then
    // detaches it from the sources it still has.
    struct SelfDeleting : Probe {
        using Probe::Probe;
        void SourceDestroyed(EventSource* s) override
        {
            Probe::SourceDestroyed(s);
            delete this;
        }
    };
    std::string log;
    auto source = std::make_unique<EventSource>();
    EventSource* dying = source.get();
    EventSource other;
    auto* a = new SelfDeleting("a", &log);
    Probe b("b", &log);
    Probe c("c", &log);
    Probe late("late", &log);
    source->Attach(*a);
    source->Attach(b);
    source->Attach(c);
    other.Attach(*a);
    // b detaches c from the dying source and tries to attach a new observer
    // to it, which is ignored.
    b.onDestroyed = [&] {
        dying->Detach(c);
        dying->Attach(late);
    };
    source.reset();
    EXPECT_EQ(log, "destroyed:a;destroyed:b;");
    EXPECT_EQ(other.GetObserverCount(), 0u);
    EXPECT_EQ(c.GetSourceCount(), 0u);
    EXPECT_EQ(late.GetSourceCount(), 0u);
}

TEST(Events, EnumerationSurvivesDetachAndAttach)
{
    std::string log;
    EventSource source;
    Probe a("a", &log), b("b", &log), c("c", &log), d("d", &log), x("x", &log);
    for (Probe* p : {&a, &b, &c, &d})
        source.Attach(*p);

    // The current observer detaches itself.
    EXPECT_EQ(Enumerate(source, [&](Probe& p) { if (p.name_ == "b") source.Detach(p); }), "abcd");
    source.Detach(d);
    source.Detach(c);
    source.Attach(b);
    source.Attach(c);
    source.Attach(d);

    // An observer not yet visited is detached: it is skipped; one already
    // visited is detached: nothing is visited twice or missed.
    EXPECT_EQ(Enumerate(source, [&](Probe& p) {
                  if (p.name_ == "a")
                      source.Detach(c);
                  if (p.name_ == "d")
                      source.Detach(a);
              }),
              "abd");
    // An observer attached meanwhile comes at the end, once.
    EXPECT_EQ(Enumerate(source, [&](Probe& p) {
                  source.Attach(x);
                  if (p.name_ == "x")
                      source.Attach(a);
              }),
              "bdxa");
    // The current observer is destroyed during its visit.
    auto y = std::make_unique<Probe>("y", &log);
    source.Attach(*y);
    EXPECT_EQ(Enumerate(source, [&](Probe& p) { if (p.name_ == "x") y.reset(); }), "bdxa");
    EXPECT_EQ(source.GetObserverCount(), 4u);
    auto z = std::make_unique<Probe>("z", &log);
    source.Attach(*z);
    EXPECT_EQ(Enumerate(source, [&](Probe& p) { if (p.name_ == "z") z.reset(); }), "bdxaz");
    EXPECT_EQ(source.GetObserverCount(), 4u);
}

TEST(Events, NestedEnumerationsAndSourceDestroyedMidway)
{
    std::string log;
    auto source = std::make_unique<EventSource>();
    Probe a("a", &log), b("b", &log), c("c", &log);
    for (Probe* p : {&a, &b, &c})
        source->Attach(*p);

    std::string pairs;
    Enumerate(*source, [&](Probe& outer) {
        std::string inner = Enumerate(*source, [&](Probe& p) {
            if (outer.name_ == "a" && p.name_ == "b")
                source->Detach(a);
        });
        pairs += outer.name_ + inner + ",";
    });
    EXPECT_EQ(pairs, "aabc,bbc,cbc,");

    source->Attach(a);
    std::string visited;
    for (auto e = source->EnumerateObservers(); !e.IsEnd(); e.Next()) {
        visited += static_cast<Probe*>(e.GetCurrent())->name_;
        if (visited.size() == 2)
            source.reset();
        EXPECT_EQ(e.IsEnd(), source == nullptr);
    }
    EXPECT_EQ(visited, "bc");
    EXPECT_EQ(log, "destroyed:b;destroyed:c;destroyed:a;");
}
