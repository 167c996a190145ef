// Basic types and error codes shared by every foundation library.
//
// Every value that crosses a library boundary as an error code, an index, an
// id or a time is 32 bits wide, whatever `long` is on the platform.
#pragma once

#include <cstddef>
#include <cstdint>

namespace KR {

// 0 means success; anything else names a failure.
using ErrorCode = std::int32_t;

// Turns a 32-bit hexadecimal code (as written in documentation) into an
// ErrorCode without relying on implementation-defined narrowing.
constexpr ErrorCode MakeErrorCode(std::uint32_t code) noexcept
{
    return static_cast<ErrorCode>(code);
}

inline constexpr ErrorCode NoError = 0;

// Classic codes that callers compare against.
inline constexpr ErrorCode ErrParam = -50;       // a missing or bad argument
inline constexpr ErrorCode ErrMemFull = -108;    // memory could not be allocated
inline constexpr ErrorCode ErrNilHandle = -109;  // a null memory handle was given

// Codes of the foundation library itself (0x8100xxxx). The other foundation
// libraries use their own ranges: IO 0x8101xxxx, KRUtils 0x8102xxxx,
// FTM 0x8103xxxx, LPF 0x8105xxxx, PSC 0x8106xxxx.
inline constexpr ErrorCode ErrIllegalArgument = MakeErrorCode(0x81000001u);
inline constexpr ErrorCode ErrNotImplemented = MakeErrorCode(0x81000002u);
inline constexpr ErrorCode ErrEndOfChannel = MakeErrorCode(0x81000003u);   // a read ran past the end of its data
inline constexpr ErrorCode ErrBadFormat = MakeErrorCode(0x81000004u);      // data read is not what the reader expects
inline constexpr ErrorCode ErrFrameClass = MakeErrorCode(0x81000005u);     // an input frame of another class
inline constexpr ErrorCode ErrFrameVersion = MakeErrorCode(0x81000006u);   // an input frame of a newer major version
inline constexpr ErrorCode ErrIllegalState = MakeErrorCode(0x81000007u);   // an operation the object cannot do now
inline constexpr ErrorCode ErrBadHandle = MakeErrorCode(0x81000008u);      // a pointer that is not one of our handles
inline constexpr ErrorCode ErrChannelClosed = MakeErrorCode(0x81000009u);  // a channel without a place to read or write
inline constexpr ErrorCode ErrInternal = MakeErrorCode(0x8100000Au);       // an unexpected failure of the runtime

}  // namespace KR
