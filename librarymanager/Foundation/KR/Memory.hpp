// Memory handles and plain blocks.
//
// A handle is a `char**`: a pointer to a master pointer that points to a
// movable block. Every handle knows its size. Operations given a null handle
// or a pointer that is not a live handle of this manager refuse it (they
// never dereference it) and record an error that GetLastError reports.
// Every MemoryManager object works on the same registry of live handles;
// bmManager is the one the code uses.
//
// Allocation failures never throw from here: they return null (or an error
// code) and record ErrMemFull. Callers that need an exception use
// KR::ThrowIfNull (Exceptions.hpp) or throw OutOfMemoryException themselves.
#pragma once

#include "KR/Definitions.hpp"

namespace KR {

class MemoryManager {
public:
    // A new handle of `size` bytes (0 allowed), cleared to zero when asked.
    // Null on failure.
    char** NewHandle(std::size_t size, bool clear = false);

    // Frees a handle and nulls the caller's variable. A null handle is
    // ignored (ErrNilHandle is recorded); a foreign pointer is refused
    // (ErrBadHandle) and left alone.
    void KillHandle(char**& handle);

    // Size of the block in bytes; 0 for a null or foreign handle (and then
    // GetLastError tells which).
    std::size_t GetHandleSize(char** handle);

    // Changes the size of the block, keeping the common prefix. New bytes are
    // cleared when `clear` is true. The block may move; the handle stays.
    ErrorCode ReallocHandle(char** handle, std::size_t newSize, bool clear = false);

    // A new handle with a copy of the block; null on failure.
    char** DuplicateHandle(char** handle);

    // True when `handle` is a live handle of this manager.
    bool IsHandle(char** handle) const;

    // Plain, non-movable blocks. KillPtr frees a block of NewPtr and nulls
    // the caller's variable; null is ignored, and a pointer that NewPtr did
    // not give is refused (ErrBadHandle) and left alone.
    void* NewPtr(std::size_t size, bool clear = false);
    void KillPtr(void*& ptr);
    template <typename T>
    void KillPtr(T*& ptr)
    {
        void* p = const_cast<void*>(static_cast<const volatile void*>(ptr));
        KillPtr(p);
        if (p == nullptr)
            ptr = nullptr;
    }

    // The error of the last operation of this manager (0 after a success).
    ErrorCode GetLastError() const;

    // Number of live handles; for leak checks in tests.
    std::size_t GetLiveHandleCount() const;
};

// Byte copies and fills that accept overlapping ranges and zero sizes.
class ByteManager {
public:
    void Copy(void* dst, const void* src, std::size_t size);
    void Fill(void* dst, unsigned char value, std::size_t size);
};

// Reversal of multi-byte integer values.
class IntegerManager {
public:
    void Reverse32(std::uint32_t* value);
    void Reverse32(std::int32_t* value);
    void Reverse16(std::uint16_t* value);
    void Reverse16(std::int16_t* value);
};

extern MemoryManager bmManager;
extern ByteManager bnManager;
extern IntegerManager ivManager;

}  // namespace KR
