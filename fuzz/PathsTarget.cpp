// The path tree. The input is a tree as Write puts it on a channel, followed
// by a script of operations. A tree that Read accepts is printed, written
// (and must read back to the same bytes), checked, and then changed and
// queried by the script: a state that Read lets through must not make a
// later operation crash. Operations given an illegal id raise
// KR::IllegalArgumentException, an ordinary outcome here.
#include "FuzzTarget.hpp"

#include "Paths.hpp"

#include "KR/Channel.hpp"
#include "KR/Exceptions.hpp"

#include <vector>

namespace {

using Tree = KR::Paths<KR::UnID, Cmp_UnIDs>;

class FuzzTree : public Tree {
public:
    using Tree::FindNodeId;
    using Tree::GetRootNodeId;
    using Tree::PushChildNodeIds;
    using Tree::PushSubNodeIds;
};

// Node values from a small set, so that scripts meet existing values.
KR::UnID Value(LmFuzz::Bytes& input)
{
    const std::uint8_t b = input.Byte();
    KR::UnID id{};
    id.mainGuid.data1 = b % 11;
    id.revGuid.data1 = (b >> 4) % 2;
    return id;
}

std::vector<KR::UnID> Values(LmFuzz::Bytes& input)
{
    std::vector<KR::UnID> values(input.Byte() % 6);
    for (KR::UnID& v : values)
        v = Value(input);
    return values;
}

// Mostly small ids (the seeds' trees are small), sometimes any 32-bit value.
std::uint32_t Id(LmFuzz::Bytes& input)
{
    const std::uint8_t b = input.Byte();
    return b == 0xFF ? input.Word() : b;
}

std::string Written(const Tree& tree)
{
    KR::StringOChannel out(KR::binOProtocol);
    LmFuzz::Expect(tree.Write(out) == KR::NoError, "a tree is written");
    return out.Take();
}

void Drain(KR::VAQueue<std::uint32_t>& queue)
{
    while (!queue.IsEmpty())
        (void)queue.Pop();
}

void Query(FuzzTree& tree, std::uint32_t id, LmFuzz::Bytes& input)
{
    const std::uint32_t length = tree.GetPathLength(id);
    std::vector<KR::UnID> path(length);
    tree.GetPath(id, path.data());
    KR::UnID value;
    if (length > 0) {
        tree.GetPathNode(id, input.Byte() % length, &value);
        tree.GetPathNodeFromBack(id, input.Byte() % length, &value);
        tree.GetLastPathNode(id, &value);
        LmFuzz::Expect(tree.IsNodeOnPath(id, path[0]), "a path's first node is on it");
    }
    (void)tree.GetPathMultiplicity(id);
}

void Step(FuzzTree& tree, LmFuzz::Bytes& input)
{
    KR::VAQueue<std::uint32_t> queue;
    switch (input.Byte() % 17) {
    case 0: {
        const std::vector<KR::UnID> nodes = Values(input);
        (void)tree.AddPath(nodes.data(), static_cast<std::uint32_t>(nodes.size()));
        break;
    }
    case 1: {
        const std::vector<KR::UnID> nodes = Values(input);
        (void)tree.AddPath(nodes.data(), static_cast<std::uint32_t>(nodes.size()), Value(input));
        break;
    }
    case 2:
        tree.DeletePath(Id(input));
        break;
    case 3:
        tree.AddPathReference(Id(input));
        break;
    case 4:
        (void)tree.DeleteLastPathNode(Id(input));
        break;
    case 5: {
        const std::uint32_t id = Id(input);
        const std::uint32_t position = input.Byte() % 8;
        (void)tree.SetPathNode(id, position, Value(input));
        break;
    }
    case 6: {
        const std::uint32_t id = Id(input);
        (void)tree.DeletePathNode(id, input.Byte() % 8);
        break;
    }
    case 7: {
        const std::uint32_t id = Id(input);
        (void)tree.AppendPathNode(id, Value(input));
        break;
    }
    case 8: {
        const std::uint32_t id = Id(input);
        const std::vector<KR::UnID> nodes = Values(input);
        (void)tree.ReplacePath(id, nodes.data(), static_cast<std::uint32_t>(nodes.size()));
        break;
    }
    case 9:
        Query(tree, Id(input), input);
        break;
    case 10:
        (void)tree.FindPathId(Value(input));
        (void)tree.FindNodeId(Value(input));
        break;
    case 11:
        tree.PushSubPathIds(Id(input), &queue);
        break;
    case 12:
        tree.PushChildNodeIds(Id(input), &queue);
        tree.PushSubNodeIds(Id(input), &queue);
        break;
    case 13: {
        const FuzzTree copy(tree);
        tree.Merge(copy);
        break;
    }
    case 14:
        tree.Check();
        break;
    case 15: {
        KR::StringOChannel text;
        tree.Print(text);
        break;
    }
    default: {
        const FuzzTree copy(tree);
        LmFuzz::Expect(Written(copy) == Written(tree), "a copy writes the same bytes");
        break;
    }
    }
    Drain(queue);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    KR::StringIChannel channel(std::string(reinterpret_cast<const char*>(data), size));
    FuzzTree tree;
    if (tree.Read(channel) != KR::NoError) {
        LmFuzz::Expect(Written(tree) == Written(Tree()), "a refused stream leaves a fresh tree");
        return 0;
    }
    const std::size_t consumed = size - channel.GetRemaining();

    KR::StringOChannel text;
    tree.Print(text);
    const std::string written = Written(tree);
    KR::StringIChannel again(written);
    FuzzTree back;
    LmFuzz::Expect(back.Read(again) == KR::NoError && Written(back) == written,
                   "a tree that was read writes bytes that read back the same");
    try {
        tree.Check();
    } catch (const KR::IllegalArgumentException&) {
        // Counts that break the count rule: Read takes them, Check tells.
    }

    LmFuzz::Bytes script(data + consumed, size - consumed);
    for (int steps = 0; script.Remaining() > 0 && steps < 64; ++steps) {
        try {
            Step(tree, script);
        } catch (const KR::IllegalArgumentException&) {
        }
    }
    try {
        tree.Check();
    } catch (const KR::IllegalArgumentException&) {
    }
    const std::string after = Written(tree);
    KR::StringIChannel last(after);
    LmFuzz::Expect(back.Read(last) == KR::NoError, "a changed tree reads back");
    return 0;
}

std::vector<std::string> LmFuzz::Seeds()
{
    auto id = [](std::uint32_t main, std::uint32_t rev = 0) {
        KR::UnID u{};
        u.mainGuid.data1 = main;
        u.revGuid.data1 = rev;
        return u;
    };
    auto add = [&](Tree& t, std::initializer_list<std::uint32_t> mains) {
        std::vector<KR::UnID> ids;
        for (std::uint32_t m : mains)
            ids.push_back(id(m));
        return t.AddPath(ids.data(), static_cast<std::uint32_t>(ids.size()));
    };
    // A script that touches every operation with small ids and values.
    std::string script;
    for (int op = 0; op < 17; ++op) {
        script.push_back(static_cast<char>(op));
        script.append({'\x03', '\x01', '\x02', '\x05', '\x02', '\x01'});
    }

    std::vector<std::string> seeds;
    seeds.push_back(Written(Tree()) + script);
    Tree small;
    add(small, {1, 2});
    add(small, {1, 3, 4});
    add(small, {1, 3, 4});
    const std::uint32_t gone = add(small, {5, 6});
    add(small, {7});
    small.DeletePath(gone);  // leaves free entries
    seeds.push_back(Written(small) + script);
    // A family large enough for the sibling index.
    Tree wide;
    for (std::uint32_t k = 0; k < 80; ++k)
        add(wide, {3, (k * 37) % 101 + 1});
    add(wide, {3, 20, 4});
    seeds.push_back(Written(wide) + script);
    return seeds;
}
