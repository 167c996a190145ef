#include "KR/Memory.hpp"

#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>
#include <unordered_set>

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

// State shared by every MemoryManager. It is reached through a function so
// that other static objects may use bmManager during their own construction.
struct Registry {
    // Live handles (the address of each master pointer) and their sizes. A
    // pointer is dereferenced only after it has been found here.
    std::unordered_map<char**, std::size_t> handles;
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

// Looks up a handle in the registry; records the refusal reason.
std::unordered_map<char**, std::size_t>::iterator FindHandle(Registry& reg, char** handle) noexcept
{
    if (handle == nullptr) {
        SetLastError(ErrNilHandle);
        return reg.handles.end();
    }
    auto it = reg.handles.find(handle);
    if (it == reg.handles.end())
        SetLastError(ErrBadHandle);
    return it;
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
        reg.handles.emplace(master, size);
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
        auto it = FindHandle(reg, handle);
        if (it == reg.handles.end())
            return;
        reg.handles.erase(it);
    }
    std::free(*handle);
    delete handle;
    handle = nullptr;
    SetLastError(NoError);
}

std::size_t MemoryManager::GetHandleSize(char** handle)
{
    Registry& reg = GetRegistry();
    auto it = FindHandle(reg, handle);
    if (it == reg.handles.end())
        return 0;
    SetLastError(NoError);
    return it->second;
}

ErrorCode MemoryManager::ReallocHandle(char** handle, std::size_t newSize, bool clear)
{
    Registry& reg = GetRegistry();
    auto it = FindHandle(reg, handle);
    if (it == reg.handles.end())
        return GetLastError();
    const std::size_t oldSize = it->second;
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
    it->second = newSize;
    SetLastError(NoError);
    return NoError;
}

char** MemoryManager::DuplicateHandle(char** handle)
{
    Registry& reg = GetRegistry();
    std::size_t size = 0;
    char* copy = nullptr;
    {
        auto it = FindHandle(reg, handle);
        if (it == reg.handles.end())
            return nullptr;
        size = it->second;
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
    return reg.handles.count(handle) != 0;
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
    return reg.handles.size();
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
