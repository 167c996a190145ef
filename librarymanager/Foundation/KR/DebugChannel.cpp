#include "KR/DebugChannel.hpp"

namespace KR {

DebugChannel dbChannel;

ErrorCode DebugChannel::WriteBin(const void* data, std::size_t size, std::size_t* written)
{
    if (target_ != nullptr)
        return target_->WriteBin(data, size, written);
    if (written != nullptr)
        *written = 0;
    if (size == 0)
        return NoError;
    if (data == nullptr)
        return ErrParam;
    std::size_t n = std::fwrite(data, 1, size, stderr);
    if (written != nullptr)
        *written = n;
    return n == size ? NoError : ErrInternal;
}

ErrorCode DebugChannel::Flush()
{
    if (target_ != nullptr)
        return target_->Flush();
    return std::fflush(stderr) == 0 ? NoError : ErrInternal;
}

OChannel* DebugChannel::Redirect(OChannel* target) noexcept
{
    OChannel* previous = target_;
    // Redirecting the channel to itself would loop forever; it means stderr.
    target_ = target == this ? nullptr : target;
    return previous;
}

}  // namespace KR
