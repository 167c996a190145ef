// Helpers shared by the type hierarchy tests.
#pragma once

#include "KR/Channel.hpp"
#include "KR/Exceptions.hpp"
#include "KR/GUID.hpp"

#include <cstdint>
#include <cstring>
#include <string>

namespace TestIds {

// A UnID whose main GUID has data1 = main and whose revision GUID has
// data1 = rev; all other fields zero.
inline KR::UnID U(std::uint32_t main, std::uint32_t rev = 0)
{
    KR::UnID id;
    id.mainGuid.data1 = main;
    id.revGuid.data1 = rev;
    return id;
}

// Little-endian bytes of a 32-bit value, as this platform lays them out.
inline std::string LE32(std::uint32_t v)
{
    std::string s(4, '\0');
    std::memcpy(s.data(), &v, 4);
    return s;
}

inline std::string Raw(const KR::UnID& id)
{
    return std::string(reinterpret_cast<const char*>(&id), sizeof id);
}

// What an object writes on a binary channel.
inline std::string Written(const KR::Object& object)
{
    KR::StringOChannel out(KR::binOProtocol);
    if (object.Write(out) != KR::NoError)
        return "<write failed>";
    return out.Take();
}

// The message of the IllegalArgumentException that `f` raises (its source
// name appended after a '|'), or "no exception".
template <typename F>
std::string IllegalText(F&& f)
{
    try {
        f();
    } catch (const KR::IllegalArgumentException& e) {
        return e.GetMessage() + "|" + e.GetSourceName();
    }
    return "no exception";
}

}  // namespace TestIds
