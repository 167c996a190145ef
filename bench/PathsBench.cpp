// Adding and deleting the paths of a whole library in the path tree.
//
//   Flat       every part declares no ancestry: all paths are one node long
//              and hang below the root, one family of N siblings.
//   Hierarchy  every part derives from one of 296 types in four levels
//              (8, 32, 96, 160 types, each below a random type of the level
//              above): paths of 2 to 5 nodes, families of about N / 296.
// AddPaths... add the same paths in one batch (Paths::AddPaths), as an
// enumeration does at the end of its walk.
// Each case runs for 20,000 and 200,000 parts. The tree keeps the sibling
// search logarithmic, so the per-part time of the larger run should stay
// close to that of the smaller; the aim is that 200,000 parts cost under 15
// times what 20,000 cost. Delete releases the paths in the order they were added, as
// a library's parts would be released in table order; the ...Random cases
// release them in random order, as single parts stored again release
// theirs. The last release empties the tree (its Clear is part of the
// measured time).
//
// TouchRandom is a reference for the random order: it only reads and writes
// one node-sized record per path, in the same order, with no tree work. Its
// growth from 20,000 to 200,000 is what the machine's caches alone add when
// each path's node is visited at random, and shows how much of the
// random-order releases' growth is the caches' rather than the tree's.
#include "BenchSupport.hpp"
#include "Paths.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using Tree = KR::Paths<KR::UnID, Cmp_UnIDs>;

// The ancestry of every part (empty for the flat case) and its own UnID.
struct Library {
    std::vector<std::vector<KR::UnID>> typePaths;
    std::vector<std::uint32_t> typeOfPart;  // index into typePaths
    std::vector<KR::UnID> own;
};

Library MakeLibrary(std::size_t parts, bool hierarchy)
{
    std::mt19937_64 rng(20240611);
    Library lib;
    if (hierarchy) {
        std::size_t levelStart = 0;
        for (std::size_t levelSize : {8u, 32u, 96u, 160u}) {
            std::size_t above = lib.typePaths.size() - levelStart;
            std::size_t start = lib.typePaths.size();
            for (std::size_t i = 0; i < levelSize; ++i) {
                std::vector<KR::UnID> path;
                if (start > 0)
                    path = lib.typePaths[levelStart + rng() % above];
                path.push_back(BenchSupport::RandomUnID(rng));
                lib.typePaths.push_back(std::move(path));
            }
            levelStart = start;
        }
    } else {
        lib.typePaths.emplace_back();
    }
    for (std::size_t i = 0; i < parts; ++i) {
        lib.typeOfPart.push_back(std::uint32_t(rng() % lib.typePaths.size()));
        lib.own.push_back(BenchSupport::RandomUnID(rng));
    }
    return lib;
}

const Library& GetLibrary(std::size_t parts, bool hierarchy)
{
    static Library cache[2][2];
    Library& lib = cache[hierarchy ? 1 : 0][parts > 20000 ? 1 : 0];
    if (lib.own.size() != parts)
        lib = MakeLibrary(parts, hierarchy);
    return lib;
}

std::vector<std::uint32_t> AddAll(Tree& tree, const Library& lib)
{
    std::vector<std::uint32_t> ids(lib.own.size());
    for (std::size_t i = 0; i < lib.own.size(); ++i) {
        const std::vector<KR::UnID>& ancestry = lib.typePaths[lib.typeOfPart[i]];
        ids[i] = tree.AddPath(ancestry.data(), std::uint32_t(ancestry.size()), lib.own[i]);
    }
    return ids;
}

// The same paths as AddAll in one batch (Paths::AddPaths), each type's
// ancestor list given once, as an enumeration collects them.
std::vector<std::uint32_t> AddAllInBulk(Tree& tree, const Library& lib)
{
    std::vector<KR::UnID> nodes;
    std::vector<Tree::PathRange> lists;
    for (const std::vector<KR::UnID>& ancestry : lib.typePaths) {
        lists.push_back({std::uint32_t(nodes.size()), std::uint32_t(ancestry.size())});
        nodes.insert(nodes.end(), ancestry.begin(), ancestry.end());
    }
    std::vector<Tree::PathEnd> ends(lib.own.size());
    for (std::size_t i = 0; i < lib.own.size(); ++i)
        ends[i] = {lib.typeOfPart[i], lib.own[i]};
    std::vector<std::uint32_t> ids(ends.size());
    tree.AddPaths(nodes.data(), lists.data(), lists.size(), ends.data(), ends.size(), ids.data());
    return ids;
}

// One tree serves all iterations and is emptied with Clear() before each, as
// a library set empties its hierarchy before every enumeration: the timing
// is that of the tree's work, not of the first growth of its arrays.
void Add(benchmark::State& state, bool hierarchy, bool bulk = false)
{
    const Library& lib = GetLibrary(std::size_t(state.range(0)), hierarchy);
    Tree tree;
    for (auto _ : state) {
        state.PauseTiming();
        tree.Clear();
        state.ResumeTiming();
        benchmark::DoNotOptimize(bulk ? AddAllInBulk(tree, lib) : AddAll(tree, lib));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

enum class Order { Added, Random };

void Delete(benchmark::State& state, bool hierarchy, Order order)
{
    const Library& lib = GetLibrary(std::size_t(state.range(0)), hierarchy);
    std::mt19937_64 rng(7);
    Tree tree;
    for (auto _ : state) {
        state.PauseTiming();
        tree.Clear();
        std::vector<std::uint32_t> ids = AddAll(tree, lib);
        if (order == Order::Random)
            std::shuffle(ids.begin(), ids.end(), rng);
        state.ResumeTiming();
        for (std::uint32_t id : ids)
            tree.DeletePath(id);
        benchmark::DoNotOptimize(tree);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// One record per path, as big as a node's links, visited in a random order:
// read its count, then write it and a free-list link as a release would.
void BM_TouchRandom(benchmark::State& state)
{
    struct Record {
        std::uint32_t parent, next, first, count;
    };
    const std::size_t n = std::size_t(state.range(0));
    std::vector<Record> records(n + 1);
    std::vector<std::uint32_t> ids(n);
    for (std::size_t i = 0; i < n; ++i)
        ids[i] = std::uint32_t(i + 1);
    std::mt19937_64 rng(7);
    for (auto _ : state) {
        state.PauseTiming();
        for (Record& r : records)
            r = Record{0, 0, 0, 1};
        std::shuffle(ids.begin(), ids.end(), rng);
        state.ResumeTiming();
        std::uint32_t freeHead = 0;
        for (std::uint32_t id : ids) {
            Record& r = records[id];
            if (--r.count == 0) {
                r.parent = 0xF4F3F2F1u;
                r.next = freeHead;
                freeHead = id;
            }
        }
        benchmark::DoNotOptimize(freeHead);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_AddPathFlat(benchmark::State& state) { Add(state, false); }
void BM_DeletePathFlat(benchmark::State& state) { Delete(state, false, Order::Added); }
void BM_DeletePathFlatRandom(benchmark::State& state) { Delete(state, false, Order::Random); }
void BM_AddPathHierarchy(benchmark::State& state) { Add(state, true); }
void BM_AddPathsFlat(benchmark::State& state) { Add(state, false, true); }
void BM_AddPathsHierarchy(benchmark::State& state) { Add(state, true, true); }
void BM_DeletePathHierarchy(benchmark::State& state) { Delete(state, true, Order::Added); }
void BM_DeletePathHierarchyRandom(benchmark::State& state) { Delete(state, true, Order::Random); }

}  // namespace

BENCHMARK(BM_AddPathFlat)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeletePathFlat)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeletePathFlatRandom)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddPathHierarchy)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddPathsFlat)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddPathsHierarchy)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeletePathHierarchy)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeletePathHierarchyRandom)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TouchRandom)->Arg(20000)->Arg(200000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
