// An ancestry section in the other byte order, made from one in this
// machine's order. The handler converts only into this machine's order when
// the section has ancestors, so seeds in the other order are built here.
#pragma once

#include "KR/Memory.hpp"
#include "KR/GUID.hpp"

#include <cstdint>
#include <cstring>
#include <string>

namespace LmFuzz {

inline std::string AncestryInOtherOrder(std::string bytes)
{
    if (bytes.size() < 32)
        return bytes;
    for (std::size_t at = 4; at < 32; at += 4) {
        std::uint32_t word = 0;
        std::memcpy(&word, bytes.data() + at, 4);
        KR::ivManager.Reverse32(&word);
        std::memcpy(bytes.data() + at, &word, 4);
    }
    for (std::size_t at = 32; at + sizeof(KR::GUID) <= bytes.size(); at += sizeof(KR::GUID)) {
        KR::GUID guid;
        std::memcpy(&guid, bytes.data() + at, sizeof guid);
        KR::guidManager.ConvertByteOrder(&guid);
        std::memcpy(bytes.data() + at, &guid, sizeof guid);
    }
    return bytes;
}

}  // namespace LmFuzz
