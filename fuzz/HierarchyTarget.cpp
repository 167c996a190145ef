// The type hierarchy's channel reader. The input is a hierarchy as Write
// puts it on a channel (a class frame around the path tree), followed by a
// script of queries. A stream that Read refuses must leave an empty tree; one
// it accepts must write bytes that read back the same, and must survive the
// hierarchy's own views: print, pre-order walk, ancestry of any id and
// exports from any start with exporters and comparisons that answer
// anything.
#include "FuzzTarget.hpp"

#include "AncestryHierarchy.hpp"

#include "KR/Channel.hpp"
#include "KR/Exceptions.hpp"

namespace {

std::string Written(const LM::AncestryHierarchy& tree)
{
    KR::StringOChannel out(KR::binOProtocol);
    LmFuzz::Expect(tree.Write(out) == KR::NoError, "a hierarchy is written");
    return out.Take();
}

// Answers and comparison results taken from the script.
class ScriptedExporter : public LM::TypeHierarchyExporter, public LM::TypeHierarchyExporter::ICompare {
public:
    explicit ScriptedExporter(LmFuzz::Bytes& script) : script_(script)
    {
        start_.mainGuid.data1 = script_.Byte() % 12;
        recursive_ = script_.Byte() % 2 == 0;
        ordered_ = script_.Byte() % 2 == 0;
    }
    long ExportNode(long, const Node* node, long* item) override
    {
        LmFuzz::Expect(node->libIndex == -1 && node->name[0] == '\0', "a tree without a set has no parts");
        *item = ++calls;
        return static_cast<long>(script_.Byte() % 4);  // 3 is no defined answer
    }
    long GetRootItem() override { return 0; }
    void GetRootUnID(KR::UnID* id) override { *id = start_; }
    bool IsRecursive() override { return recursive_; }
    LM::TypeHierarchyExporter::ICompare* GetCompare() override { return ordered_ ? this : nullptr; }
    int Compare(const Node&, Node) override { return static_cast<int>(script_.Byte() % 3) - 1; }

    long calls = 0;

private:
    LmFuzz::Bytes& script_;
    KR::UnID start_{};
    bool recursive_ = true;
    bool ordered_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    KR::StringIChannel channel(std::string(reinterpret_cast<const char*>(data), size));
    LM::AncestryHierarchy tree(nullptr);
    if (tree.Read(channel) != KR::NoError) {
        LmFuzz::Expect(Written(tree) == Written(LM::AncestryHierarchy(nullptr)),
                       "a refused stream leaves an empty hierarchy");
        return 0;
    }
    const std::size_t consumed = size - channel.GetRemaining();
    const std::string written = Written(tree);
    KR::StringIChannel again(written);
    LM::AncestryHierarchy back(nullptr);
    LmFuzz::Expect(back.Read(again) == KR::NoError && Written(back) == written,
                   "a hierarchy that was read writes bytes that read back the same");

    LmFuzz::Bytes script(data + consumed, size - consumed);
    for (int steps = 0; script.Remaining() > 0 && steps < 32; ++steps) {
        switch (script.Byte() % 4) {
        case 0: {
            KR::StringOChannel text;
            tree.PrintTypeHierarchy(text);
            break;
        }
        case 1: {
            LM::AncestryHierarchy::IndexList list;
            LmFuzz::Expect(tree.GetPreorderAncestryTreeWalk(&list) >= 0, "the walk counts");
            break;
        }
        case 2: {
            LM::AncestryInfo info;
            (void)tree.GetAncestryInfo(script.Byte() == 0xFF ? script.Word() : script.Byte(), &info);
            break;
        }
        default: {
            ScriptedExporter exporter(script);
            (void)tree.ExportTypeHierarchy(&exporter);
            break;
        }
        }
    }
    LmFuzz::Expect(Written(tree) == written, "the views change nothing");
    return 0;
}

std::vector<std::string> LmFuzz::Seeds()
{
    auto id = [](std::uint32_t main) {
        KR::UnID u{};
        u.mainGuid.data1 = main;
        return u;
    };
    std::string script;
    for (int op = 0; op < 8; ++op)
        script.append({static_cast<char>(op), '\x02', '\x00', '\x01', '\x00', '\x01', '\x02', '\x00', '\x01'});

    std::vector<std::string> seeds;
    seeds.push_back(Written(LM::AncestryHierarchy(nullptr)) + script);
    LM::AncestryHierarchy small(nullptr);
    const KR::UnID a[] = {id(1), id(2), id(3)};
    const KR::UnID b[] = {id(1), id(4)};
    const KR::UnID old[] = {id(1), KR::UnID{}};
    small.AddPath(a, 3);
    small.AddPath(a, 2);
    small.AddPath(b, 2);
    small.AddPath(old, 2);
    small.DeletePath(small.AddPath(b, 1));
    seeds.push_back(Written(small) + script);
    LM::AncestryHierarchy wide(nullptr);
    for (std::uint32_t k = 0; k < 40; ++k) {
        const KR::UnID path[] = {id(5), id(100 + (k * 7) % 41)};
        wide.AddPath(path, 2);
    }
    seeds.push_back(Written(wide) + script);
    return seeds;
}
