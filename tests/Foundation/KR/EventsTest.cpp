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

// Visits all observers, calling `visit` on each, and returns the names in
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

// Either side may go first: a dying observer leaves its sources; a dying
// source unlinks each observer before telling it, so that the observer may
// detach others, try to attach (ignored) or delete itself.
TEST(Events, EitherSideMayDieFirst)
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
    Probe b("b", &log), c("c", &log), late("late", &log);
    {
        Probe gone("gone", &log);
        source->Attach(gone);
        other.Attach(gone);
    }
    EXPECT_EQ(source->GetObserverCount() + other.GetObserverCount(), 0u);

    auto* a = new SelfDeleting("a", &log);
    source->Attach(*a);
    source->Attach(b);
    source->Attach(c);
    other.Attach(*a);
    other.Attach(b);
    EXPECT_EQ(EventSource(other).GetObserverCount(), 0u);  // observers are not copied
    b.onDestroyed = [&] {
        dying->Detach(c);
        dying->Attach(late);
    };
    source.reset();
    EXPECT_EQ(log, "destroyed:a;destroyed:b;");
    EXPECT_EQ(other.GetObserverCount(), 1u);  // a left it when it deleted itself
    EXPECT_EQ(b.GetSourceCount(), 1u);
    EXPECT_EQ(c.GetSourceCount() + late.GetSourceCount(), 0u);
}

// A running enumeration visits every observer once: the current one may
// detach itself or be destroyed, one not yet visited that is detached is
// skipped, one attached meanwhile comes at the end. Nested enumerations and
// a source destroyed midway are safe.
TEST(Events, EnumerationsSurviveChangesNestingAndTheEndOfTheSource)
{
    std::string log;
    auto source = std::make_unique<EventSource>();
    Probe a("a", &log), b("b", &log), c("c", &log), d("d", &log), x("x", &log);
    for (Probe* p : {&a, &b, &c, &d})
        source->Attach(*p);
    EXPECT_EQ(Enumerate(*source, [&](Probe& p) { if (p.name_ == "b") source->Detach(p); }), "abcd");
    source->Attach(b);
    EXPECT_EQ(Enumerate(*source, [&](Probe& p) {
                  if (p.name_ == "a")
                      source->Detach(d);  // not visited yet
                  if (p.name_ == "c")
                      source->Detach(a);  // visited already
                  source->Attach(x);
              }),
              "acbx");
    auto y = std::make_unique<Probe>("y", &log);
    source->Attach(*y);
    EXPECT_EQ(Enumerate(*source, [&](Probe& p) { if (p.name_ == "y") y.reset(); }), "cbxy");

    std::string pairs;
    Enumerate(*source, [&](Probe& outer) {
        pairs += outer.name_ + Enumerate(*source, [&](Probe& p) {
                     if (outer.name_ == "c" && p.name_ == "b")
                         source->Detach(c);
                 }) + ",";
    });
    EXPECT_EQ(pairs, "ccbx,bbx,xbx,");

    source->Attach(c);
    std::string visited;
    for (auto e = source->EnumerateObservers(); !e.IsEnd(); e.Next()) {
        visited += static_cast<Probe*>(e.GetCurrent())->name_;
        if (visited.size() == 2)
            source.reset();
        EXPECT_EQ(e.IsEnd(), source == nullptr);
    }
    EXPECT_EQ(visited, "bx");
    EXPECT_EQ(log, "destroyed:b;destroyed:x;destroyed:c;");
}
