#include "KR/Exceptions.hpp"

#include "KR/Channel.hpp"
#include "KR/Memory.hpp"

#include <cstdio>
#include <utility>

namespace KR {

KRException::KRException(ErrorCode id, std::string message, std::string sourceName)
    : id_(id), message_(std::move(message)), sourceName_(std::move(sourceName))
{
}

KRException::~KRException() = default;

const char* KRException::GetClassName() const noexcept
{
    return "KRException";
}

void KRException::Print(OChannel& channel) const
{
    char id[16];
    std::snprintf(id, sizeof id, "0x%08X", static_cast<unsigned>(static_cast<std::uint32_t>(id_)));
    std::string line = GetClassName();
    line += ' ';
    line += id;
    if (!sourceName_.empty()) {
        line += " in ";
        line += sourceName_;
    }
    line += ": ";
    line += message_;
    line += '\n';
    // Raw bytes, so the line reads the same on a channel of any protocol.
    channel.WriteBin(line.data(), line.size());
}

IllegalArgumentException::IllegalArgumentException(std::string message, std::string sourceName, ErrorCode id)
    : KRException(id, std::move(message), std::move(sourceName))
{
}

const char* IllegalArgumentException::GetClassName() const noexcept
{
    return "IllegalArgumentException";
}

OutOfMemoryException::OutOfMemoryException(ErrorCode lastError, std::string sourceName)
    : KRException(lastError, "Out of memory.", std::move(sourceName))
{
}

const char* OutOfMemoryException::GetClassName() const noexcept
{
    return "OutOfMemoryException";
}

IllegalStateException::IllegalStateException(std::string message, std::string sourceName, ErrorCode id)
    : KRException(id, std::move(message), std::move(sourceName))
{
}

const char* IllegalStateException::GetClassName() const noexcept
{
    return "IllegalStateException";
}

void ThrowOutOfMemory(const char* sourceName)
{
    ErrorCode err = bmManager.GetLastError();
    throw OutOfMemoryException(err != NoError ? err : ErrMemFull, sourceName != nullptr ? sourceName : "");
}

}  // namespace KR
