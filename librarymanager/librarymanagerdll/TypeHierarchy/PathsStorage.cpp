// The huge-page block storage of the path tree's arrays.
#include "TypeHierarchy/PathsStorage.hpp"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace KR {

namespace PathsStorage {

namespace {

std::size_t RoundUp(std::size_t bytes, std::size_t unit)
{
    return (bytes + unit - 1) / unit * unit;
}

}  // namespace

void* AllocateLargeBlock(std::size_t bytes)
{
    if (bytes == 0 || bytes > std::size_t(-1) / 2 - 2 * HugePageSize)
        throw std::bad_alloc();
    const std::size_t length = RoundUp(bytes, HugePageSize);
    // Map one huge page more than needed and cut the mapping down to an
    // aligned stretch of whole huge pages.
    void* mapped = mmap(nullptr, length + HugePageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = RoundUp(start, HugePageSize);
    const std::size_t head = aligned - start;
    const std::size_t tail = HugePageSize - head;
    if (head != 0)
        munmap(mapped, head);
    if (tail != 0)
        munmap(reinterpret_cast<void*>(aligned + length), tail);
    void* block = reinterpret_cast<void*>(aligned);
    // Only a hint: where the kernel gives no huge pages, the block works
    // with ordinary ones.
    (void)madvise(block, length, MADV_HUGEPAGE);
    return block;
}

void ReleaseLargeBlock(void* block, std::size_t bytes) noexcept
{
    if (block != nullptr)
        munmap(block, RoundUp(bytes, HugePageSize));
}

}  // namespace PathsStorage

}  // namespace KR
