// The bulk build of the path tree (AddPaths) against adding the same paths
// one at a time: the same ids, and the same tree as the channel writes it
// (every entry's links, value and count), also after further changes that
// go through the sibling indexes and predecessor links the bulk build made.
#include "librarymanagerdll/TypeHierarchy/TestIds.hpp"

#include <gtest/gtest.h>

#include <random>

using namespace TestIds;

namespace {

struct Batch {
    std::vector<KR::UnID> nodes;
    std::vector<Tree::PathRange> lists;
    std::vector<Tree::PathEnd> ends;
};

// Paths as enumerated parts give them: ancestors from chains of a type tree
// (shared prefixes), either a chain's own list (shared by many paths) or a
// list of the path's own (a prefix of a chain, now and then with a value
// repeated: a cycle); an own value that is new, repeated or one of the
// types; values that are revisions of others (equal sort keys). `mains`
// bounds the main GUIDs.
Batch Generate(std::uint32_t seed, std::uint32_t paths, std::uint32_t types, std::uint32_t mains)
{
    std::mt19937 rng(seed);
    auto below = [&](std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng); };
    auto value = [&] { return U(1 + below(mains), below(4) == 0 ? 1 + below(3) : 0); };
    Batch b;
    auto addList = [&](const std::vector<KR::UnID>& list) {
        b.lists.push_back({std::uint32_t(b.nodes.size()), std::uint32_t(list.size())});
        b.nodes.insert(b.nodes.end(), list.begin(), list.end());
        return std::uint32_t(b.lists.size() - 1);
    };
    std::vector<std::vector<KR::UnID>> chains(types);
    for (std::uint32_t t = 0; t < types; ++t) {
        if (t > 0 && below(5) != 0)
            chains[t] = chains[below(t)];
        chains[t].push_back(value());
        addList(chains[t]);
    }
    for (std::uint32_t k = 0; k < paths; ++k) {
        const std::uint32_t t = below(types);
        std::uint32_t list = t;
        if (below(3) == 0) {
            std::vector<KR::UnID> own(chains[t].begin(), chains[t].begin() + below(std::uint32_t(chains[t].size()) + 1));
            if (!own.empty() && below(3) == 0)
                own.push_back(own.front());
            list = addList(own);
        }
        b.ends.push_back({list, below(3) == 0 ? chains[below(types)].back() : value()});
    }
    return b;
}

std::vector<std::uint32_t> OneByOne(Tree& t, const Batch& b)
{
    std::vector<std::uint32_t> ids;
    for (const Tree::PathEnd& e : b.ends)
        ids.push_back(e.list < b.lists.size()
                          ? t.AddPath(b.nodes.data() + b.lists[e.list].first, b.lists[e.list].count, e.last)
                          : 0);
    return ids;
}

std::vector<std::uint32_t> InBulk(Tree& t, const Batch& b)
{
    std::vector<std::uint32_t> ids(b.ends.size(), 7);
    t.AddPaths(b.nodes.data(), b.lists.data(), b.lists.size(), b.ends.data(), b.ends.size(), ids.data());
    return ids;
}

}  // namespace

TEST(PathsBulkTest, SameIdsAndTreeAsOneByOneAlsoAfterLaterChanges)
{
    // `prior`: the tree is empty (0), holds a path (1) or held one and freed
    // it (2); the last two take the paths one at a time, with the same result.
    struct Case {
        std::uint32_t seed, paths, types, mains, prior;
    };
    // Small value ranges give duplicates and ties; large ones give families
    // of hundreds of children (several index leaves).
    for (const Case c : {Case{1, 1, 1, 5, 0}, Case{2, 40, 3, 6, 0}, Case{3, 3000, 20, 50000, 0},
                         Case{4, 5000, 400, 2000, 0}, Case{5, 2000, 1, 300, 0}, Case{6, 300, 10, 100, 1},
                         Case{7, 300, 10, 100, 2}}) {
        SCOPED_TRACE(c.seed);
        Batch b = Generate(c.seed, c.paths, c.types, c.mains);
        b.ends.push_back({std::uint32_t(b.lists.size()), U(1)});  // no such list: id 0, nothing stored
        Tree single;
        Tree bulk;
        for (Tree* t : {&single, &bulk}) {
            if (c.prior == 1)
                t->AddPath(nullptr, 0, U(4));
            if (c.prior == 2)
                t->DeletePath(t->AddPath(b.nodes.data(), 1));
        }
        std::vector<std::uint32_t> ids = OneByOne(single, b);
        ASSERT_EQ(InBulk(bulk, b), ids);
        ASSERT_EQ(Written(bulk), Written(single));
        EXPECT_EQ(ids.back(), 0u);
        ids.pop_back();

        // Later changes of both trees: releases (through the indexes and the
        // predecessor links), new paths on freed entries, a value changed in
        // place.
        for (std::size_t k = 0; k < ids.size(); k += 2)
            for (Tree* t : {&single, &bulk})
                t->DeletePath(ids[k]);
        const Batch more = Generate(c.seed + 100, c.paths / 2 + 1, c.types, c.mains);
        EXPECT_EQ(OneByOne(bulk, more), OneByOne(single, more));
        for (Tree* t : {&single, &bulk}) {
            const std::uint32_t own = t->AddPath(nullptr, 0, U(999999));
            EXPECT_EQ(t->SetPathNode(own, 0, U(999998)), own);
        }
        EXPECT_EQ(Written(bulk), Written(single));
        EXPECT_NO_THROW(bulk.Check());
    }
}
