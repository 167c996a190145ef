// Helpers shared by the type hierarchy tests.
#pragma once

#include "Paths.hpp"

#include "KR/Channel.hpp"
#include "KR/Exceptions.hpp"
#include "KR/GUID.hpp"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

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

// What an object writes on a binary channel.
inline std::string Written(const KR::Object& object)
{
    KR::StringOChannel out(KR::binOProtocol);
    if (object.Write(out) != KR::NoError)
        return "<write failed>";
    return out.Take();
}

using Tree = KR::Paths<KR::UnID, Cmp_UnIDs>;

// The tree with its node queries opened.
class TestTree : public Tree {
public:
    using Tree::FindNodeId;
    using Tree::GetRootNodeId;
    using Tree::PushChildNodeIds;
    using Tree::PushSubNodeIds;
};

inline std::vector<std::uint32_t> Drain(Tree::IdQueue& q)
{
    std::vector<std::uint32_t> ids;
    while (!q.IsEmpty())
        ids.push_back(q.Pop());
    return ids;
}

inline std::vector<std::uint32_t> Children(const TestTree& t, std::uint32_t node)
{
    Tree::IdQueue q;
    t.PushChildNodeIds(node, &q);
    return Drain(q);
}

}  // namespace TestIds
