// Storage of the path tree's big arrays. The tree reads its entries and its
// sibling index at scattered places; once they outgrow the caches, a read
// with small pages usually misses the address translation as well as the
// data. Blocks from LargeBlockSize on are therefore mapped on their own,
// aligned to and sized in whole huge pages, and the kernel is asked to back
// them with huge pages (a hint: where it declines, they are ordinary pages).
// Smaller blocks come from the ordinary allocator.
#pragma once

#include "LMExport.hpp"

#include <cstddef>
#include <memory>
#include <new>
#include <vector>

namespace KR::PathsStorage {

inline constexpr std::size_t HugePageSize = std::size_t{2} << 20;
inline constexpr std::size_t LargeBlockSize = std::size_t{1} << 20;

// A block of at least `bytes` (from LargeBlockSize on), aligned to
// HugePageSize; std::bad_alloc when the system has none.
LM_API void* AllocateLargeBlock(std::size_t bytes);
// Gives back a block of AllocateLargeBlock with the same size.
LM_API void ReleaseLargeBlock(void* block, std::size_t bytes) noexcept;

template <typename T>
class LargeBlockAllocator {
public:
    using value_type = T;

    LargeBlockAllocator() noexcept = default;
    template <typename U>
    LargeBlockAllocator(const LargeBlockAllocator<U>&) noexcept
    {
    }

    static bool IsLarge(std::size_t n) noexcept { return n >= LargeBlockSize / sizeof(T); }

    T* allocate(std::size_t n)
    {
        if (n > std::size_t(-1) / sizeof(T))
            throw std::bad_array_new_length();
        if (IsLarge(n))
            return static_cast<T*>(AllocateLargeBlock(n * sizeof(T)));
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* block, std::size_t n) noexcept
    {
        if (IsLarge(n))
            ReleaseLargeBlock(block, n * sizeof(T));
        else
            std::allocator<T>().deallocate(block, n);
    }

    friend bool operator==(const LargeBlockAllocator&, const LargeBlockAllocator&) noexcept { return true; }
};

template <typename T>
using Vector = std::vector<T, LargeBlockAllocator<T>>;

}  // namespace KR::PathsStorage
