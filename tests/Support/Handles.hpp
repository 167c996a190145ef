// Memory handles filled from and read back as byte strings.
#pragma once

#include "KR/Memory.hpp"

#include <cstring>
#include <string>
#include <string_view>

namespace TestSupport {

// A new handle holding `bytes`; the caller owns it.
inline char** NewHandleWith(std::string_view bytes)
{
    char** h = KR::bmManager.NewHandle(bytes.size());
    if (h != nullptr && !bytes.empty())
        std::memcpy(*h, bytes.data(), bytes.size());
    return h;
}

// The whole content of a handle; empty for a null handle.
inline std::string HandleBytes(char** h)
{
    return h == nullptr ? std::string() : std::string(*h, KR::bmManager.GetHandleSize(h));
}

// Owns a handle for the length of a test.
struct OwnedHandle {
    char** h = nullptr;
    explicit OwnedHandle(char** handle) : h(handle) {}
    explicit OwnedHandle(std::string_view bytes) : h(NewHandleWith(bytes)) {}
    ~OwnedHandle()
    {
        if (h != nullptr)
            KR::bmManager.KillHandle(h);
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    std::string Bytes() const { return HandleBytes(h); }
};

}  // namespace TestSupport
