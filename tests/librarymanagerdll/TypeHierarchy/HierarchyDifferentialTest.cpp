// The hierarchy's Build against a plain, literal reference implementation
// kept here: both run on identical random part tables (revisions, missing
// ancestors, old parts, shared paths, cycles, records without path) and must
// leave identical trees (node ids included), identical ancestry ids and the
// same parameter updates in the same order.
#include "HierarchyTestSupport.hpp"

#include "KR/DebugChannel.hpp"
#include "KRUtils/KRUtils.hpp"

#include <random>

namespace HierarchyTest {
namespace {

using LM::LibrarySetInternals;
using Queue = LM::AncestryHierarchy::IdQueue;

// The reference: Build written down step by step, with the whole-table scan
// for shared paths.
class LiteralBuild {
public:
    LiteralBuild(RecordingHierarchy& tree, LM::LibrarySet& set) : tree_(tree), set_(set) {}

    void Run(bool conformAll)
    {
        const std::int32_t n = set_.GetSymbolNumber();
        std::vector<char> found(static_cast<std::size_t>(n), 0);
        moved_.assign(static_cast<std::size_t>(n), 0);
        Queue queue(1000);
        KR::VAArray<std::int32_t> list(20);
        std::int32_t count = 0;
        try {
            tree_.PushChildNodeIds(tree_.GetRootNodeId(), &queue);
            while (!queue.IsEmpty()) {
                ++count;
                const std::uint32_t node = queue.Pop();
                KR::UnID u{};
                tree_.GetLastPathNode(node, &u);
                if (u == NULLUnID)
                    continue;
                const std::int32_t p = set_.SearchSymbolByUnID(u, nullptr);
                if (p != -1) {
                    found[static_cast<std::size_t>(p)] = 1;
                    if (conformAll || moved_[static_cast<std::size_t>(p)])
                        Conform(node, p);
                    tree_.PushChildNodeIds(node, &queue);
                    continue;
                }
                list.Clear();
                if (set_.SearchSymbolByMainUnID(u, &list) <= 0) {
                    tree_.PushChildNodeIds(node, &queue);
                    continue;
                }
                const std::int32_t s = list[1];
                const std::uint32_t t = LibrarySetInternals::GetSymbolAncestryId(set_, s);
                Queue before(50);
                tree_.PushChildNodeIds(t, &before);
                Move(node, s);
                if (found[static_cast<std::size_t>(s)]) {
                    Queue after(50);
                    tree_.PushChildNodeIds(t, &after);
                    Difference(&before, &after, &queue);
                }
            }
        } catch (const KR::KRException& e) {
            e.Print(KR::dbChannel);
            return;
        }
        OldParts();
    }

private:
    bool IsPart(std::int32_t i)
    {
        FTM::GeneralID type{};
        return set_.GetSymbolGeneralFileType(i, &type) == 0 && LM::IsLibraryPartFileType(type) &&
               set_.IsLibElementSymbol(i);
    }

    static void Difference(Queue* before, Queue* after, Queue* target)
    {
        while (!before->IsEmpty()) {
            const std::uint32_t x = before->Pop();
            bool hit = false;
            while (!after->IsEmpty()) {
                const std::uint32_t y = after->Pop();
                if (y == x) {
                    hit = true;
                    break;
                }
                target->Push(y);
            }
            if (!hit)
                break;
        }
        while (!after->IsEmpty())
            target->Push(after->Pop());
    }

    void Move(std::uint32_t node, std::int32_t s)
    {
        const std::uint32_t t = LibrarySetInternals::GetSymbolAncestryId(set_, s);
        const std::uint32_t position = tree_.GetPathLength(node) - 1;
        LM::AncestryInfo ancestry;
        tree_.GetAncestryInfo(t, &ancestry);
        KR::UnID own{};
        set_.GetSymbolOwnUnID(s, &own);
        ancestry.Append(own);
        Queue ends(50);
        tree_.PushSubPathIds(node, &ends);
        while (!ends.IsEmpty()) {
            const std::uint32_t p = ends.Pop();
            const std::uint32_t m = tree_.GetPathMultiplicity(p);
            KR::UnID v{};
            tree_.GetLastPathNode(p, &v);
            std::vector<std::int32_t> candidates;
            if (m == 1) {
                std::int32_t c = set_.SearchSymbolByUnID(v, nullptr);
                if (!set_.IsSymbolValid(c))
                    c = set_.SearchDummySymbol(v, nullptr);
                candidates.push_back(c);
            } else {
                for (std::int32_t i = 0; i < set_.GetSymbolNumber(); ++i)
                    candidates.push_back(i);
            }
            for (std::int32_t i : candidates) {
                if (!set_.IsValidIndex(i) || !IsPart(i) || LibrarySetInternals::GetSymbolAncestryId(set_, i) != p)
                    continue;
                const std::uint32_t replaced = Replace(ancestry, position, p);
                moved_[static_cast<std::size_t>(i)] = 1;
                LibrarySetInternals::SetSymbolAncestryId(set_, i, replaced);
            }
        }
    }

    std::uint32_t Replace(LM::AncestryInfo ancestry, std::uint32_t position, std::uint32_t p)
    {
        std::vector<KR::UnID> old(tree_.GetPathLength(p));
        tree_.GetPath(p, old.data());
        for (std::size_t k = position + 1; k < old.size(); ++k)
            ancestry.Append(old[k]);
        ancestry.CheckAndFix();
        return tree_.ReplacePath(p, ancestry.GetAncestorsRef(), ancestry.GetAncestorsCount());
    }

    void Conform(std::uint32_t pathId, std::int32_t part)
    {
        std::int32_t parent = -1;
        for (std::uint32_t k = 1; k <= tree_.GetPathLength(pathId); ++k) {
            KR::UnID v{};
            tree_.GetPathNodeFromBack(pathId, k, &v);
            parent = set_.SearchSymbolByUnID(v, nullptr);
            if (parent != -1)
                break;
        }
        tree_.updates.emplace_back(part, parent, false);
    }

    void OldParts()
    {
        for (std::int32_t i = 0; i < set_.GetSymbolNumber(); ++i) {
            const std::uint32_t p = LibrarySetInternals::GetSymbolAncestryId(set_, i);
            KR::UnID own{};
            set_.GetSymbolOwnUnID(i, &own);
            if (!IsPart(i) || p == 0 || own != NULLUnID)
                continue;
            try {
                for (std::uint32_t k = 1;; ++k) {
                    KR::UnID v{};
                    tree_.GetPathNodeFromBack(p, k, &v);
                    if (v == NULLUnID)
                        break;
                    const std::int32_t a = set_.SearchSymbolByUnID(v, nullptr);
                    if (set_.IsValidIndex(a)) {
                        tree_.updates.emplace_back(i, a, true);
                        break;
                    }
                    KR::VAArray<std::int32_t> list(50);
                    if (set_.SearchSymbolByMainUnID(v, &list) > 0) {
                        const std::int32_t s = list[1];
                        const std::uint32_t sp = LibrarySetInternals::GetSymbolAncestryId(set_, s);
                        std::vector<KR::UnID> path(tree_.GetPathLength(sp));
                        tree_.GetPath(sp, path.data());
                        std::vector<KR::UnID> old(tree_.GetPathLength(p));
                        tree_.GetPath(p, old.data());
                        for (std::size_t j = old.size() - k; j < old.size(); ++j)
                            path.push_back(old[j]);
                        const std::uint32_t replaced =
                            tree_.ReplacePath(p, path.data(), static_cast<std::uint32_t>(path.size()));
                        LibrarySetInternals::SetSymbolAncestryId(set_, i, replaced);
                        tree_.updates.emplace_back(i, s, true);
                        break;
                    }
                }
            } catch (const KR::IllegalArgumentException&) {
            }
        }
    }

    RecordingHierarchy& tree_;
    LM::LibrarySet& set_;
    std::vector<char> moved_;
};

// One record of a random table.
struct RecordPlan {
    KR::UnID own{};
    std::vector<KR::UnID> ancestors;
    bool valid = true;
    bool withPath = true;
    bool script = false;
};

std::vector<RecordPlan> RandomTable(std::mt19937& rng)
{
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const int types = 3 + pick(25);
    const int records = 1 + pick(60);
    auto randomId = [&] { return MakeUnID(1 + static_cast<std::uint32_t>(pick(types)), 1 + static_cast<std::uint32_t>(pick(3))); };
    std::vector<RecordPlan> table;
    for (int r = 0; r < records; ++r) {
        RecordPlan s;
        s.own = pick(10) == 0 ? NULLUnID : randomId();
        if (!table.empty() && pick(5) == 0) {
            // Below an earlier record's declared path: shared prefixes.
            const RecordPlan& base = table[static_cast<std::size_t>(pick(static_cast<int>(table.size())))];
            s.ancestors = base.ancestors;
            if (base.own != NULLUnID)
                s.ancestors.push_back(base.own);
        } else {
            const int depth = pick(5);
            for (int d = 0; d < depth; ++d)
                s.ancestors.push_back(pick(12) == 0 ? NULLUnID : randomId());
        }
        s.valid = pick(6) != 0;
        s.withPath = pick(15) != 0;
        s.script = pick(12) == 0;
        table.push_back(s);
    }
    return table;
}

class Differential : public HierarchyFixture {
protected:
    // Fills a set with the table; `sorted`: its indexes are sorted, as after
    // an enumeration (unsorted, the table finds nothing by UnID).
    void Fill(LM::LibrarySet& set, RecordingHierarchy& tree, const std::vector<RecordPlan>& plans, bool sorted)
    {
        LM::PartTable& table = *LibrarySetInternals::GetPartTable(set);
        for (const RecordPlan& s : plans) {
            const std::int32_t i = table.AppendPlaceholder("P", s.own, 0, s.script ? types.script : types.part, 0);
            set.SetSymbolValid(i, s.valid);
            if (s.withPath) {
                const std::uint32_t id =
                    tree.AddPath(s.ancestors.data(), static_cast<std::uint32_t>(s.ancestors.size()), s.own);
                LibrarySetInternals::SetSymbolAncestryId(set, i, id);
            }
        }
        if (sorted)
            table.SortIndexes();
    }
};

TEST_F(Differential, BuildMatchesTheLiteralOneOnRandomTables)
{
    std::mt19937 rng(20240514);
    int moves = 0;
    int exceptions = 0;
    for (int round = 0; round < 400; ++round) {
        const std::vector<RecordPlan> plans = RandomTable(rng);
        const bool conformAll = (round % 2) != 0;
        auto fastSet = NewSet();
        auto literalSet = NewSet();
        RecordingHierarchy fast(fastSet.get());
        RecordingHierarchy literal(literalSet.get());
        const bool sorted = round % 13 != 6;
        Fill(*fastSet, fast, plans, sorted);
        Fill(*literalSet, literal, plans, sorted);
        // Now and then a record points at a path that was freed.
        if (round % 7 == 3 && plans.size() > 2 && plans[1].withPath) {
            fast.DeletePath(LibrarySetInternals::GetSymbolAncestryId(*fastSet, 1));
            literal.DeletePath(LibrarySetInternals::GetSymbolAncestryId(*literalSet, 1));
        }
        const std::string start = TestIds::Written(fast);
        ASSERT_EQ(start, TestIds::Written(literal));

        KR::DebugCapture fastLog;
        fast.Build(conformAll);
        const std::string fastText = fastLog.GetText();
        fastLog.Clear();
        LiteralBuild(literal, *literalSet).Run(conformAll);
        const std::string literalText = fastLog.GetText();

        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_EQ(TestIds::Written(fast), TestIds::Written(literal));
        for (std::int32_t i = 0; i < static_cast<std::int32_t>(plans.size()); ++i)
            ASSERT_EQ(LibrarySetInternals::GetSymbolAncestryId(*fastSet, i),
                      LibrarySetInternals::GetSymbolAncestryId(*literalSet, i))
                << "record " << i;
        ASSERT_EQ(fast.updates, literal.updates);
        ASSERT_EQ(fastText, literalText);
        moves += TestIds::Written(fast) != start ? 1 : 0;
        exceptions += fastText.empty() ? 0 : 1;
    }
    // The tables exercise what they are meant to.
    EXPECT_GT(moves, 100);
    EXPECT_GT(exceptions, 5);
}

}  // namespace
}  // namespace HierarchyTest
