// Channels over memory.
#pragma once

#include "KR/Channel.hpp"

#include <string>

namespace IO {

enum class Ownership : std::int32_t {
    Borrow = 0,   // the memory stays the owner's
    Transfer = 1, // the memory changes hands; it is a plain block of KR::bmManager (NewPtr/KillPtr)
};

// Reads the given bytes. With Ownership::Transfer the channel frees them.
class MemoryIChannel : public KR::IChannel {
public:
    MemoryIChannel(const void* data, std::size_t size, Ownership ownership = Ownership::Borrow,
                   const KR::IProtocol& protocol = KR::binIProtocol);
    ~MemoryIChannel() override;

    KR::ErrorCode ReadBin(void* buffer, std::size_t size, std::size_t* read = nullptr) override;

    std::size_t GetPosition() const noexcept { return position_; }
    // KR::ErrIllegalArgument beyond the end.
    KR::ErrorCode SetPosition(std::size_t position);
    std::size_t GetDataSize() const noexcept { return size_; }

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t position_ = 0;
    Ownership ownership_;
};

// Collects written bytes in a growing block.
class MemoryOChannel : public KR::OChannel {
public:
    explicit MemoryOChannel(std::size_t initialSize = 1024, std::size_t growStep = 1024,
                            const KR::OProtocol& protocol = KR::binOProtocol);
    ~MemoryOChannel() override;

    KR::ErrorCode WriteBin(const void* data, std::size_t size, std::size_t* written = nullptr) override;

    // The written bytes. With Ownership::Borrow the pointer stays valid until
    // the next write; with Ownership::Transfer the caller owns the block (free
    // it with KR::bmManager.KillPtr) and the channel starts empty again.
    // Null when nothing was written (Transfer) or allocation failed.
    char* GetDestination(Ownership ownership);
    std::size_t GetDataSize() const noexcept { return used_; }

private:
    char* block_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
    std::size_t initialSize_;
    std::size_t growStep_;
};

// The input protocol that reverses the byte order of every multi-byte value.
inline const KR::BinaryIProtocol& binRevIProtocol = KR::binRevIProtocol;

}  // namespace IO
