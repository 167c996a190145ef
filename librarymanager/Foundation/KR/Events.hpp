// Event sources and their observers.
//
// A source keeps a list of attached observers; it does not own them. An
// observer remembers its sources so that each side can leave the other:
//   - an observer that is destroyed detaches itself from every source;
//   - a source that is destroyed calls SourceDestroyed on every observer still
//     attached, then forgets them;
//   - attaching an observer that is already attached does nothing, so a
//     source holds each observer at most once.
// Enumerating the observers stays safe while observers are attached or
// detached during the enumeration (also the current one, also by itself),
// and while the source itself is destroyed: see ObserverEnumerator.
#pragma once

#include "KR/Definitions.hpp"

#include <vector>

namespace KR {

class EventSource;
class ObserverEnumerator;

class EventObserver {
public:
    EventObserver() = default;
    // A copy is attached to nothing; assignment leaves attachments as they are.
    EventObserver(const EventObserver&) noexcept {}
    EventObserver& operator=(const EventObserver&) noexcept { return *this; }
    virtual ~EventObserver();

    // Called by a source that is being destroyed while this observer is still
    // attached to it. The default does nothing.
    virtual void SourceDestroyed(EventSource* source);

    // Number of sources this observer is attached to.
    std::size_t GetSourceCount() const noexcept { return sources_.size(); }

private:
    friend class EventSource;
    std::vector<EventSource*> sources_;
};

class Event {
public:
    explicit Event(EventSource* source) noexcept : source_(source) {}
    virtual ~Event();
    EventSource* GetSource() const noexcept { return source_; }

private:
    EventSource* source_;
};

class EventSource {
public:
    EventSource() = default;
    // A copy has no observers; assignment leaves the observers as they are.
    EventSource(const EventSource&) noexcept {}
    EventSource& operator=(const EventSource&) noexcept { return *this; }
    virtual ~EventSource();

    void Attach(EventObserver& observer);
    // Detaching an observer that is not attached does nothing.
    void Detach(EventObserver& observer);
    bool IsAttached(const EventObserver& observer) const noexcept;
    std::size_t GetObserverCount() const noexcept { return observers_.size(); }

    // Enumerates the observers in the order they were attached.
    ObserverEnumerator EnumerateObservers() const;

private:
    friend class ObserverEnumerator;
    void RemoveAt(std::size_t index);

    std::vector<EventObserver*> observers_;
    mutable ObserverEnumerator* enumerators_ = nullptr;  // live enumerators, linked
    bool destroying_ = false;  // set by the destructor; Attach is then ignored
};

// Walks the observers of a source:
//   for (auto e = src.EnumerateObservers(); !e.IsEnd(); e.Next())
//       e.GetCurrent()->...;
// When the current observer is detached during the call, GetCurrent gives
// null until Next moves to the observer that followed it; observers attached
// meanwhile are visited at the end; when the source is destroyed, the
// enumeration ends.
class ObserverEnumerator {
public:
    ~ObserverEnumerator();
    ObserverEnumerator(const ObserverEnumerator&) = delete;
    ObserverEnumerator& operator=(const ObserverEnumerator&) = delete;

    bool IsEnd() const noexcept;
    EventObserver* GetCurrent() const noexcept;  // null at the end
    void Next() noexcept;

private:
    friend class EventSource;
    explicit ObserverEnumerator(const EventSource* source) noexcept;

    const EventSource* source_;
    std::size_t index_ = 0;
    bool currentRemoved_ = false;
    ObserverEnumerator* next_ = nullptr;
};

}  // namespace KR
