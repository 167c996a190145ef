// Exceptions of the foundation libraries.
//
// Containers and memory operations throw these; the library manager catches
// them at the edge of every public operation, prints them on dbChannel and
// turns them into a result value.
#pragma once

#include "KR/Definitions.hpp"

#include <string>

namespace KR {

class OChannel;

class KRException {
public:
    // `id` is the error code that GetID reports, `message` a one-line
    // description, `sourceName` the name of the source (class or file) that
    // raised it.
    KRException(ErrorCode id, std::string message, std::string sourceName = {});
    virtual ~KRException();

    ErrorCode GetID() const noexcept { return id_; }
    const std::string& GetMessage() const noexcept { return message_; }
    const std::string& GetSourceName() const noexcept { return sourceName_; }

    // Name of the exception class, for the printed form.
    virtual const char* GetClassName() const noexcept;

    // Writes one line on the channel:
    //   "<ClassName> 0x<ID> in <source>: <message>\n"
    // (" in <source>" is left out when there is no source name).
    virtual void Print(OChannel& channel) const;

private:
    ErrorCode id_;
    std::string message_;
    std::string sourceName_;
};

// A bad argument: an index out of range, a null pointer, an illegal id.
class IllegalArgumentException : public KRException {
public:
    explicit IllegalArgumentException(std::string message, std::string sourceName = {},
                                      ErrorCode id = ErrIllegalArgument);
    const char* GetClassName() const noexcept override;
};

// An allocation failed; the id is the memory manager's last error (ErrMemFull
// when the manager had none).
class OutOfMemoryException : public KRException {
public:
    explicit OutOfMemoryException(ErrorCode lastError, std::string sourceName = {});
    const char* GetClassName() const noexcept override;
};

// An operation on an object that cannot do it in its present state.
class IllegalStateException : public KRException {
public:
    explicit IllegalStateException(std::string message, std::string sourceName = {},
                                   ErrorCode id = ErrIllegalState);
    const char* GetClassName() const noexcept override;
};

// Throws OutOfMemoryException carrying bmManager's last error.
[[noreturn]] void ThrowOutOfMemory(const char* sourceName = "");

// Throws OutOfMemoryException with bmManager's last error when `p` is null;
// returns `p` otherwise.
template <typename T>
T* ThrowIfNull(T* p, const char* sourceName = "")
{
    if (p == nullptr)
        ThrowOutOfMemory(sourceName);
    return p;
}

}  // namespace KR

// The foundation's base exception is also known by its short name.
using KRException = KR::KRException;
