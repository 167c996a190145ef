#include "KR/Events.hpp"

#include <algorithm>

namespace KR {

namespace {

template <typename T>
void EraseValue(std::vector<T*>& items, const T* value) noexcept
{
    auto it = std::find(items.begin(), items.end(), value);
    if (it != items.end())
        items.erase(it);
}

}  // namespace

EventObserver::~EventObserver()
{
    // Detach removes the source from sources_, so take them from the back
    // one by one instead of walking the vector being changed.
    while (!sources_.empty())
        sources_.back()->Detach(*this);
}

void EventObserver::SourceDestroyed(EventSource*) {}

Event::~Event() = default;

EventSource::~EventSource()
{
    destroying_ = true;
    // Running enumerations end at once.
    for (ObserverEnumerator* e = enumerators_; e != nullptr;) {
        ObserverEnumerator* next = e->next_;
        e->source_ = nullptr;
        e->next_ = nullptr;
        e = next;
    }
    enumerators_ = nullptr;
    // Each observer is unlinked before it is told, so that it may detach
    // from anything, detach other observers from this source, or even be
    // destroyed inside SourceDestroyed without touching a stale link.
    while (!observers_.empty()) {
        EventObserver* observer = observers_.front();
        observers_.erase(observers_.begin());
        EraseValue(observer->sources_, this);
        observer->SourceDestroyed(this);
    }
}

void EventSource::Attach(EventObserver& observer)
{
    if (destroying_ || IsAttached(observer))
        return;
    observers_.push_back(&observer);
    try {
        observer.sources_.push_back(this);
    } catch (...) {
        observers_.pop_back();
        throw;
    }
}

void EventSource::Detach(EventObserver& observer)
{
    auto it = std::find(observers_.begin(), observers_.end(), &observer);
    if (it == observers_.end())
        return;
    RemoveAt(static_cast<std::size_t>(it - observers_.begin()));
    EraseValue(observer.sources_, this);
}

bool EventSource::IsAttached(const EventObserver& observer) const noexcept
{
    return std::find(observers_.begin(), observers_.end(), &observer) != observers_.end();
}

ObserverEnumerator EventSource::EnumerateObservers() const
{
    return ObserverEnumerator(this);
}

void EventSource::RemoveAt(std::size_t index)
{
    observers_.erase(observers_.begin() + static_cast<std::ptrdiff_t>(index));
    // Keep every running enumeration on the observer it would visit next.
    for (ObserverEnumerator* e = enumerators_; e != nullptr; e = e->next_) {
        if (e->index_ > index)
            --e->index_;
        else if (e->index_ == index)
            e->currentRemoved_ = true;  // index_ now names the follower
    }
}

ObserverEnumerator::ObserverEnumerator(const EventSource* source) noexcept : source_(source)
{
    next_ = source_->enumerators_;
    source_->enumerators_ = this;
}

ObserverEnumerator::~ObserverEnumerator()
{
    if (source_ == nullptr)
        return;
    for (ObserverEnumerator** link = &source_->enumerators_; *link != nullptr; link = &(*link)->next_) {
        if (*link == this) {
            *link = next_;
            break;
        }
    }
}

bool ObserverEnumerator::IsEnd() const noexcept
{
    return source_ == nullptr || index_ >= source_->observers_.size();
}

EventObserver* ObserverEnumerator::GetCurrent() const noexcept
{
    if (IsEnd() || currentRemoved_)
        return nullptr;
    return source_->observers_[index_];
}

void ObserverEnumerator::Next() noexcept
{
    if (source_ == nullptr)
        return;
    if (currentRemoved_)
        currentRemoved_ = false;  // already on the follower
    else if (index_ < source_->observers_.size())
        ++index_;
}

}  // namespace KR
