#include "KR/Memory.hpp"

#include "KR/ProbingTable.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace KR {

MemoryManager bmManager;
ByteManager bnManager;
IntegerManager ivManager;

namespace {

// No block of this manager may exceed 1 TiB. Larger requests fail as
// ErrMemFull without reaching the system allocator, whose behaviour on absurd
// sizes differs between builds (a sanitizer runtime aborts instead of
// returning null).
constexpr std::size_t MaxBlockSize = std::size_t{1} << 40;

// The live handles and their sizes, in one open-addressed array (linear
// probing, deletion by shifting back): registering and killing a handle
// allocate and free nothing but the array as it grows, which matters to
// whoever keeps hundreds of thousands of small handles.
class HandleTable {
public:
    // The size recorded for `handle`, or null when it is not live.
    std::size_t* Find(char** handle) noexcept
    {
        const std::size_t k = table_.Find(Hash(handle), [handle](const Slot& s) { return s.handle == handle; });
        return k == Table::None ? nullptr : &table_.At(k).size;
    }
    // Records a handle that is not live; std::bad_alloc when the array
    // cannot grow (nothing changed then).
    void Insert(char** handle, std::size_t size)
    {
        const std::size_t k = table_.FindOrClaim(Hash(handle), [handle](const Slot& s) { return s.handle == handle; }).first;
        table_.At(k) = Slot{handle, size};
    }
    // Removes the handle whose size Find gave.
    void Erase(std::size_t* found) noexcept
    {
        const Slot* slot = reinterpret_cast<const Slot*>(reinterpret_cast<char*>(found) - offsetof(Slot, size));
        table_.EraseAt(static_cast<std::size_t>(slot - &table_.At(0)));
    }
    std::size_t Count() const noexcept { return table_.Count(); }

private:
    struct Slot {
        char** handle = nullptr;  // null: free
        std::size_t size = 0;
    };
    static std::size_t Hash(char** handle) noexcept
    {
        const auto bits = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle) >> 3);
        return static_cast<std::size_t>((bits * 0x9E3779B97F4A7C15ull) >> 32);
    }
    struct Traits {
        static bool IsFree(const Slot& s) noexcept { return s.handle == nullptr; }
        static std::size_t Hash(const Slot& s) noexcept { return HandleTable::Hash(s.handle); }
        static constexpr std::size_t InitialSize = 1024;
        static constexpr std::size_t MaxLoadPercent = 50;
    };
    using Table = ProbingTable<Slot, Traits>;

    Table table_;
};

// State shared by every MemoryManager. It is reached through a function so
// that other static objects may use bmManager during their own construction.
struct Registry {
    // Live handles (the address of each master pointer) and their sizes. A
    // pointer is dereferenced only after it has been found here.
    HandleTable handles;
    // Live plain blocks of NewPtr.
    std::unordered_set<void*> blocks;
    ErrorCode lastError = NoError;
};

Registry& GetRegistry()
{
    static Registry* registry = new Registry;  // never destroyed: usable until exit
    return *registry;
}

void SetLastError(ErrorCode err) noexcept
{
    GetRegistry().lastError = err;
}

// malloc/calloc of at least one byte, so that a master pointer is never null
// even for an empty block.
char* AllocateBlock(std::size_t size, bool clear) noexcept
{
    if (size > MaxBlockSize)
        return nullptr;
    std::size_t bytes = size == 0 ? 1 : size;
    void* p = clear ? std::calloc(bytes, 1) : std::malloc(bytes);
    return static_cast<char*>(p);
}

// Looks up a handle in the registry (its recorded size, or null); records
// the refusal reason.
std::size_t* FindHandle(Registry& reg, char** handle) noexcept
{
    if (handle == nullptr) {
        SetLastError(ErrNilHandle);
        return nullptr;
    }
    std::size_t* found = reg.handles.Find(handle);
    if (found == nullptr)
        SetLastError(ErrBadHandle);
    return found;
}

// Gives `block` (of `size` bytes) a master pointer and records it as a live
// handle; on failure frees the block and returns null.
char** RegisterHandle(char* block, std::size_t size) noexcept
{
    char** master = new (std::nothrow) char*(block);
    if (master == nullptr) {
        std::free(block);
        SetLastError(ErrMemFull);
        return nullptr;
    }
    Registry& reg = GetRegistry();
    try {
        reg.handles.Insert(master, size);
    } catch (...) {
        delete master;
        std::free(block);
        SetLastError(ErrMemFull);
        return nullptr;
    }
    SetLastError(NoError);
    return master;
}

}  // namespace

char** MemoryManager::NewHandle(std::size_t size, bool clear)
{
    char* block = AllocateBlock(size, clear);
    if (block == nullptr) {
        SetLastError(ErrMemFull);
        return nullptr;
    }
    return RegisterHandle(block, size);
}

void MemoryManager::KillHandle(char**& handle)
{
    if (handle == nullptr) {
        SetLastError(ErrNilHandle);
        return;
    }
    Registry& reg = GetRegistry();
    {
        std::size_t* it = FindHandle(reg, handle);
        if (it == nullptr)
            return;
        reg.handles.Erase(it);
    }
    std::free(*handle);
    delete handle;
    handle = nullptr;
    SetLastError(NoError);
}

std::size_t MemoryManager::GetHandleSize(char** handle)
{
    Registry& reg = GetRegistry();
    std::size_t* it = FindHandle(reg, handle);
    if (it == nullptr)
        return 0;
    SetLastError(NoError);
    return *it;
}

ErrorCode MemoryManager::ReallocHandle(char** handle, std::size_t newSize, bool clear)
{
    Registry& reg = GetRegistry();
    std::size_t* it = FindHandle(reg, handle);
    if (it == nullptr)
        return GetLastError();
    const std::size_t oldSize = *it;
    if (newSize > MaxBlockSize) {
        SetLastError(ErrMemFull);
        return ErrMemFull;
    }
    void* grown = std::realloc(*handle, newSize == 0 ? 1 : newSize);
    if (grown == nullptr) {
        // realloc leaves the old block in place on failure.
        SetLastError(ErrMemFull);
        return ErrMemFull;
    }
    *handle = static_cast<char*>(grown);
    if (clear && newSize > oldSize)
        std::memset(*handle + oldSize, 0, newSize - oldSize);
    *it = newSize;
    SetLastError(NoError);
    return NoError;
}

char** MemoryManager::DuplicateHandle(char** handle)
{
    Registry& reg = GetRegistry();
    std::size_t size = 0;
    char* copy = nullptr;
    {
        std::size_t* it = FindHandle(reg, handle);
        if (it == nullptr)
            return nullptr;
        size = *it;
        copy = AllocateBlock(size, false);
        if (copy == nullptr) {
            SetLastError(ErrMemFull);
            return nullptr;
        }
        if (size > 0)
            std::memcpy(copy, *handle, size);
    }
    return RegisterHandle(copy, size);
}

bool MemoryManager::IsHandle(char** handle) const
{
    if (handle == nullptr)
        return false;
    Registry& reg = GetRegistry();
    return reg.handles.Find(handle) != nullptr;
}

void* MemoryManager::NewPtr(std::size_t size, bool clear)
{
    Registry& reg = GetRegistry();
    void* block = AllocateBlock(size, clear);
    if (block == nullptr) {
        SetLastError(ErrMemFull);
        return nullptr;
    }
    try {
        reg.blocks.insert(block);
    } catch (...) {
        std::free(block);
        SetLastError(ErrMemFull);
        return nullptr;
    }
    SetLastError(NoError);
    return block;
}

void MemoryManager::KillPtr(void*& ptr)
{
    if (ptr == nullptr) {
        SetLastError(NoError);
        return;
    }
    Registry& reg = GetRegistry();
    {
        auto it = reg.blocks.find(ptr);
        if (it == reg.blocks.end()) {
            SetLastError(ErrBadHandle);
            return;
        }
        reg.blocks.erase(it);
    }
    std::free(ptr);
    ptr = nullptr;
    SetLastError(NoError);
}

ErrorCode MemoryManager::GetLastError() const
{
    return GetRegistry().lastError;
}

std::size_t MemoryManager::GetLiveHandleCount() const
{
    Registry& reg = GetRegistry();
    return reg.handles.Count();
}

void ByteManager::Copy(void* dst, const void* src, std::size_t size)
{
    // memmove with null pointers is undefined even for zero sizes.
    if (size == 0 || dst == nullptr || src == nullptr)
        return;
    std::memmove(dst, src, size);
}

void ByteManager::Fill(void* dst, unsigned char value, std::size_t size)
{
    if (size == 0 || dst == nullptr)
        return;
    std::memset(dst, value, size);
}

void IntegerManager::Reverse32(std::uint32_t* value)
{
    if (value != nullptr)
        *value = __builtin_bswap32(*value);
}

void IntegerManager::Reverse32(std::int32_t* value)
{
    if (value != nullptr)
        *value = static_cast<std::int32_t>(__builtin_bswap32(static_cast<std::uint32_t>(*value)));
}

void IntegerManager::Reverse16(std::uint16_t* value)
{
    if (value != nullptr)
        *value = __builtin_bswap16(*value);
}

void IntegerManager::Reverse16(std::int16_t* value)
{
    if (value != nullptr)
        *value = static_cast<std::int16_t>(__builtin_bswap16(static_cast<std::uint16_t>(*value)));
}

}  // namespace KR
