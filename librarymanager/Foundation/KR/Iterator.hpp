// A forward iterator over constant elements of any sequence, with the
// sequence's own iterator type hidden.
//
//   for (auto it = ConstForwardIterator<int>(v.begin(), v.end()); !it.IsEnd(); ++it)
//       use(*it);
//
// The iterator does not own the sequence: it must outlive the iterator.
#pragma once

#include "KR/Exceptions.hpp"

#include <memory>
#include <utility>

namespace KR {

template <typename T>
class ConstForwardIterator {
public:
    // An iterator that is at its end at once.
    ConstForwardIterator() = default;

    template <typename It>
    ConstForwardIterator(It begin, It end) : impl_(std::make_unique<Range<It>>(std::move(begin), std::move(end)))
    {
    }

    ConstForwardIterator(const ConstForwardIterator& other) : impl_(other.impl_ ? other.impl_->Clone() : nullptr) {}
    ConstForwardIterator(ConstForwardIterator&&) noexcept = default;
    ConstForwardIterator& operator=(const ConstForwardIterator& other)
    {
        if (this != &other)
            impl_ = other.impl_ ? other.impl_->Clone() : nullptr;
        return *this;
    }
    ConstForwardIterator& operator=(ConstForwardIterator&&) noexcept = default;

    bool IsEnd() const { return impl_ == nullptr || impl_->IsEnd(); }

    // The current element; IllegalArgumentException at the end.
    const T& operator*() const
    {
        if (IsEnd())
            throw IllegalArgumentException("Dereferenced at its end.", "ConstForwardIterator");
        return impl_->Get();
    }
    const T* operator->() const { return &**this; }

    // Moves to the next element; does nothing at the end.
    ConstForwardIterator& operator++()
    {
        if (!IsEnd())
            impl_->Next();
        return *this;
    }

private:
    struct Impl {
        virtual ~Impl() = default;
        virtual bool IsEnd() const = 0;
        virtual const T& Get() const = 0;
        virtual void Next() = 0;
        virtual std::unique_ptr<Impl> Clone() const = 0;
    };

    template <typename It>
    struct Range final : Impl {
        Range(It b, It e) : cur(std::move(b)), end(std::move(e)) {}
        bool IsEnd() const override { return !(cur != end); }
        const T& Get() const override { return *cur; }
        void Next() override { ++cur; }
        std::unique_ptr<Impl> Clone() const override { return std::make_unique<Range>(cur, end); }
        It cur;
        It end;
    };

    std::unique_ptr<Impl> impl_;
};

}  // namespace KR
