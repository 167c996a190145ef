#include "IO/MemoryChannel.hpp"

#include "KR/Memory.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

namespace IO {

// --- MemoryIChannel ----------------------------------------------------------

MemoryIChannel::MemoryIChannel(const void* data, std::size_t size, Ownership ownership, const KR::IProtocol& protocol)
    : KR::IChannel(protocol),
      data_(static_cast<const unsigned char*>(data)),
      size_(data != nullptr ? size : 0),
      ownership_(ownership)
{
}

MemoryIChannel::~MemoryIChannel()
{
    if (ownership_ == Ownership::Transfer && data_ != nullptr) {
        void* block = const_cast<unsigned char*>(data_);
        KR::bmManager.KillPtr(block);
    }
}

KR::ErrorCode MemoryIChannel::ReadBin(void* buffer, std::size_t size, std::size_t* read)
{
    if (read != nullptr)
        *read = 0;
    if (size == 0)
        return KR::NoError;
    if (buffer == nullptr)
        return KR::ErrIllegalArgument;
    const std::size_t count = std::min(size, size_ - position_);
    if (count > 0)
        std::memcpy(buffer, data_ + position_, count);
    position_ += count;
    if (read != nullptr)
        *read = count;
    return count < size ? KR::ErrEndOfChannel : KR::NoError;
}

KR::ErrorCode MemoryIChannel::SetPosition(std::size_t position)
{
    if (position > size_)
        return KR::ErrIllegalArgument;
    position_ = position;
    return KR::NoError;
}

// --- MemoryOChannel ----------------------------------------------------------

MemoryOChannel::MemoryOChannel(std::size_t initialSize, std::size_t growStep, const KR::OProtocol& protocol)
    : KR::OChannel(protocol), initialSize_(initialSize), growStep_(growStep)
{
}

MemoryOChannel::~MemoryOChannel()
{
    KR::bmManager.KillPtr(block_);
}

namespace {

// The next capacity for `needed` bytes: at least the step, and at least half
// again the present capacity, so that many small writes cost amortised
// constant time whatever step the caller chose.
std::size_t NextCapacity(std::size_t capacity, std::size_t needed, std::size_t initialSize, std::size_t growStep)
{
    constexpr std::size_t max = std::numeric_limits<std::size_t>::max();
    std::size_t next = capacity == 0 ? std::max<std::size_t>(initialSize, 1) : capacity;
    if (capacity != 0) {
        const std::size_t step = std::max(growStep, capacity / 2);
        next = capacity <= max - step ? capacity + step : max;
    }
    return std::max(next, needed);
}

}  // namespace

KR::ErrorCode MemoryOChannel::WriteBin(const void* data, std::size_t size, std::size_t* written)
{
    if (written != nullptr)
        *written = 0;
    if (size == 0)
        return KR::NoError;
    if (data == nullptr)
        return KR::ErrIllegalArgument;
    if (size > std::numeric_limits<std::size_t>::max() - used_)
        return KR::ErrMemFull;
    const std::size_t needed = used_ + size;
    if (needed > capacity_) {
        const std::size_t capacity = NextCapacity(capacity_, needed, initialSize_, growStep_);
        char* block = static_cast<char*>(KR::bmManager.NewPtr(capacity));
        if (block == nullptr)
            return KR::ErrMemFull;
        if (used_ > 0)
            std::memcpy(block, block_, used_);
        KR::bmManager.KillPtr(block_);
        block_ = block;
        capacity_ = capacity;
    }
    std::memcpy(block_ + used_, data, size);
    used_ = needed;
    if (written != nullptr)
        *written = size;
    return KR::NoError;
}

char* MemoryOChannel::GetDestination(Ownership ownership)
{
    if (ownership == Ownership::Transfer) {
        if (used_ == 0)
            return nullptr;
        char* block = block_;
        block_ = nullptr;
        capacity_ = 0;
        used_ = 0;
        return block;
    }
    if (block_ == nullptr) {
        block_ = static_cast<char*>(KR::bmManager.NewPtr(std::max<std::size_t>(initialSize_, 1)));
        capacity_ = block_ != nullptr ? std::max<std::size_t>(initialSize_, 1) : 0;
    }
    return block_;
}

}  // namespace IO
