// Reading and writing multi-byte values in a chosen byte order.
//
// Part files and their sections hold values in the byte order that a
// platform code names (Sections.hpp): NativePlatform is little-endian,
// OtherPlatform big-endian. These helpers work on unaligned bytes and do not
// depend on the byte order of the machine they run on.
#pragma once

#include "KR/GUID.hpp"
#include "LPF/Sections.hpp"

#include <cstdint>
#include <cstring>
#include <string>

namespace LPF {

enum class ByteOrder : std::uint8_t { Little, Big };

// The byte order a platform code names; false for an unknown code.
constexpr bool ByteOrderOfPlatform(std::uint32_t platform, ByteOrder* order) noexcept
{
    if (platform == NativePlatform) {
        *order = ByteOrder::Little;
        return true;
    }
    if (platform == OtherPlatform) {
        *order = ByteOrder::Big;
        return true;
    }
    return false;
}

constexpr std::uint32_t PlatformOfByteOrder(ByteOrder order) noexcept
{
    return order == ByteOrder::Little ? NativePlatform : OtherPlatform;
}

inline std::uint16_t Load16(const unsigned char* p, ByteOrder order) noexcept
{
    return order == ByteOrder::Little ? static_cast<std::uint16_t>(p[0] | (p[1] << 8))
                                      : static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

inline std::uint32_t Load32(const unsigned char* p, ByteOrder order) noexcept
{
    if (order == ByteOrder::Little)
        return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
               (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

inline std::uint64_t Load64(const unsigned char* p, ByteOrder order) noexcept
{
    std::uint64_t a = Load32(p, order);
    std::uint64_t b = Load32(p + 4, order);
    return order == ByteOrder::Little ? (a | (b << 32)) : ((a << 32) | b);
}

inline void Store16(unsigned char* p, std::uint16_t v, ByteOrder order) noexcept
{
    if (order == ByteOrder::Little) {
        p[0] = static_cast<unsigned char>(v);
        p[1] = static_cast<unsigned char>(v >> 8);
    } else {
        p[0] = static_cast<unsigned char>(v >> 8);
        p[1] = static_cast<unsigned char>(v);
    }
}

inline void Store32(unsigned char* p, std::uint32_t v, ByteOrder order) noexcept
{
    if (order == ByteOrder::Little) {
        for (int i = 0; i < 4; ++i)
            p[i] = static_cast<unsigned char>(v >> (8 * i));
    } else {
        for (int i = 0; i < 4; ++i)
            p[i] = static_cast<unsigned char>(v >> (8 * (3 - i)));
    }
}

inline void Store64(unsigned char* p, std::uint64_t v, ByteOrder order) noexcept
{
    if (order == ByteOrder::Little) {
        Store32(p, static_cast<std::uint32_t>(v), order);
        Store32(p + 4, static_cast<std::uint32_t>(v >> 32), order);
    } else {
        Store32(p, static_cast<std::uint32_t>(v >> 32), order);
        Store32(p + 4, static_cast<std::uint32_t>(v), order);
    }
}

// Reverses `size` bytes in place (2, 4 or 8 for a value).
inline void ReverseBytes(unsigned char* p, std::size_t size) noexcept
{
    for (std::size_t i = 0, j = size; i + 1 < j; ++i, --j) {
        unsigned char t = p[i];
        p[i] = p[j - 1];
        p[j - 1] = t;
    }
}

// A GUID as 16 bytes: data1, data2, data3 in the given order, data4 as is.
inline void StoreGUID(unsigned char* p, const KR::GUID& g, ByteOrder order) noexcept
{
    Store32(p, g.data1, order);
    Store16(p + 4, g.data2, order);
    Store16(p + 6, g.data3, order);
    std::memcpy(p + 8, g.data4, 8);
}

inline KR::GUID LoadGUID(const unsigned char* p, ByteOrder order) noexcept
{
    KR::GUID g;
    g.data1 = Load32(p, order);
    g.data2 = Load16(p + 4, order);
    g.data3 = Load16(p + 6, order);
    std::memcpy(g.data4, p + 8, 8);
    return g;
}

// Appending writers for building byte strings.
inline void Append16(std::string& out, std::uint16_t v, ByteOrder order)
{
    unsigned char b[2];
    Store16(b, v, order);
    out.append(reinterpret_cast<const char*>(b), 2);
}

inline void Append32(std::string& out, std::uint32_t v, ByteOrder order)
{
    unsigned char b[4];
    Store32(b, v, order);
    out.append(reinterpret_cast<const char*>(b), 4);
}

inline void Append64(std::string& out, std::uint64_t v, ByteOrder order)
{
    unsigned char b[8];
    Store64(b, v, order);
    out.append(reinterpret_cast<const char*>(b), 8);
}

inline void AppendGUID(std::string& out, const KR::GUID& g, ByteOrder order)
{
    unsigned char b[16];
    StoreGUID(b, g, order);
    out.append(reinterpret_cast<const char*>(b), 16);
}

}  // namespace LPF
