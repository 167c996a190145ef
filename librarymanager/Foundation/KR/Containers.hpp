// The foundation's containers.
//
// VAArray counts its elements from 1 (index 0 is never used) and checks every
// index: a bad one throws IllegalArgumentException. Allocation failures throw
// OutOfMemoryException. The growth step is kept for formats that record it;
// underneath, capacity grows geometrically so that appending stays cheap on
// large arrays.
#pragma once

#include "KR/Exceptions.hpp"

#include <algorithm>
#include <deque>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace KR {

namespace ContainersPrivate {
[[noreturn]] void ThrowBadIndex(const char* source, const char* operation, std::size_t index, std::size_t size);
[[noreturn]] void ThrowEmpty(const char* source, const char* operation);
}  // namespace ContainersPrivate

template <typename T>
class VAArray {
public:
    explicit VAArray(std::int32_t step = 50) : step_(step > 0 ? step : 1) {}

    std::uint32_t GetSize() const noexcept { return static_cast<std::uint32_t>(items_.size()); }
    bool IsEmpty() const noexcept { return items_.empty(); }
    std::int32_t GetStep() const noexcept { return step_; }

    // Element `index`, 1 .. GetSize().
    T& operator[](std::uint32_t index)
    {
        Check(index, "operator[]");
        return items_[index - 1];
    }
    const T& operator[](std::uint32_t index) const
    {
        Check(index, "operator[]");
        return items_[index - 1];
    }
    T& Get(std::uint32_t index) { return (*this)[index]; }
    const T& Get(std::uint32_t index) const { return (*this)[index]; }
    void Set(std::uint32_t index, const T& value) { (*this)[index] = value; }

    // Appends; returns the new element's index.
    std::uint32_t Push(const T& value)
    {
        Guard([&] { Reserve(items_.size() + 1); items_.push_back(value); });
        return GetSize();
    }
    std::uint32_t Push(T&& value)
    {
        Guard([&] { Reserve(items_.size() + 1); items_.push_back(std::move(value)); });
        return GetSize();
    }

    // Inserts before `index` (1 .. GetSize() + 1).
    void Insert(std::uint32_t index, const T& value)
    {
        if (index < 1 || index > items_.size() + 1)
            ContainersPrivate::ThrowBadIndex("VAArray", "Insert", index, items_.size());
        Guard([&] { Reserve(items_.size() + 1); items_.insert(items_.begin() + (index - 1), value); });
    }

    // Removes `count` elements from `index` on.
    void Delete(std::uint32_t index, std::uint32_t count = 1)
    {
        if (count == 0)
            return;
        if (index < 1 || index > items_.size() || count > items_.size() - (index - 1))
            ContainersPrivate::ThrowBadIndex("VAArray", "Delete", index, items_.size());
        items_.erase(items_.begin() + (index - 1), items_.begin() + (index - 1 + count));
    }

    // Removes the last element.
    void Pop()
    {
        if (items_.empty())
            ContainersPrivate::ThrowEmpty("VAArray", "Pop");
        items_.pop_back();
    }

    void Clear() noexcept { items_.clear(); }

    // Makes room for `count` elements in all, so that appending up to that
    // many allocates nothing more.
    void ReserveExactly(std::uint32_t count)
    {
        Guard([&] { items_.reserve(count); });
    }

    // Cuts the array or appends default elements.
    void SetSize(std::uint32_t size)
    {
        Guard([&] { Reserve(size); items_.resize(size); });
    }

    // Index of the first element equal to `value`, 0 when there is none.
    std::uint32_t Find(const T& value) const
    {
        for (std::size_t i = 0; i < items_.size(); ++i)
            if (items_[i] == value)
                return static_cast<std::uint32_t>(i + 1);
        return 0;
    }

    // Address of element 1 (the others follow it); null when empty.
    T* GetContent() noexcept { return items_.empty() ? nullptr : items_.data(); }
    const T* GetContent() const noexcept { return items_.empty() ? nullptr : items_.data(); }

    // Plain iteration over the elements in order.
    auto begin() noexcept { return items_.begin(); }
    auto end() noexcept { return items_.end(); }
    auto begin() const noexcept { return items_.begin(); }
    auto end() const noexcept { return items_.end(); }

private:
    void Check(std::uint32_t index, const char* operation) const
    {
        if (index < 1 || index > items_.size())
            ContainersPrivate::ThrowBadIndex("VAArray", operation, index, items_.size());
    }

    void Reserve(std::size_t needed)
    {
        if (needed <= items_.capacity())
            return;
        std::size_t grown = items_.capacity() + std::max<std::size_t>(static_cast<std::size_t>(step_), items_.capacity() / 2);
        items_.reserve(std::max(needed, grown));
    }

    template <typename F>
    void Guard(F&& f)
    {
        try {
            f();
        } catch (const std::bad_alloc&) {
            throw OutOfMemoryException(ErrMemFull, "VAArray");
        } catch (const std::length_error&) {
            throw OutOfMemoryException(ErrMemFull, "VAArray");
        }
    }

    std::int32_t step_;
    std::vector<T> items_;
};

// First in, first out.
template <typename T>
class VAQueue {
public:
    explicit VAQueue(std::int32_t step = 50) : step_(step > 0 ? step : 1) {}

    bool IsEmpty() const noexcept { return items_.empty(); }
    std::uint32_t GetSize() const noexcept { return static_cast<std::uint32_t>(items_.size()); }
    std::int32_t GetStep() const noexcept { return step_; }

    void Push(const T& value)
    {
        try {
            items_.push_back(value);
        } catch (const std::bad_alloc&) {
            throw OutOfMemoryException(ErrMemFull, "VAQueue");
        }
    }

    // Removes and returns the oldest element; IllegalArgumentException when
    // the queue is empty.
    T Pop()
    {
        if (items_.empty())
            ContainersPrivate::ThrowEmpty("VAQueue", "Pop");
        T value = std::move(items_.front());
        items_.pop_front();
        return value;
    }

    // The oldest element without removing it.
    const T& Front() const
    {
        if (items_.empty())
            ContainersPrivate::ThrowEmpty("VAQueue", "Front");
        return items_.front();
    }

    void Clear() noexcept { items_.clear(); }

private:
    std::int32_t step_;
    std::deque<T> items_;
};

}  // namespace KR
