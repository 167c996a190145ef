// Adding and deleting the paths of a whole library in the path tree.
//
//   Flat       every part declares no ancestry: all paths are one node long
//              and hang below the root, one family of N siblings.
//   Hierarchy  every part derives from one of 296 types in four levels
//              (8, 32, 96, 160 types, each below a random type of the level
//              above): paths of 2 to 5 nodes, families of about N / 296.
// Each case runs for 20,000 and 200,000 parts; the per-part time of the
// larger run should stay close to that of the smaller (the tree keeps the
// sibling search logarithmic), so 200,000 parts cost well under 15 times
// what 20,000 cost. Delete releases the paths in random order; the last
// release empties the tree (its Clear is part of the measured time).
#include "Paths.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using Tree = KR::Paths<KR::UnID, Cmp_UnIDs>;

KR::UnID RandomUnID(std::mt19937_64& rng)
{
    KR::UnID id;
    for (KR::GUID* g : {&id.mainGuid, &id.revGuid}) {
        std::uint64_t a = rng();
        std::uint64_t b = rng();
        g->data1 = std::uint32_t(a);
        g->data2 = std::uint16_t(a >> 32);
        g->data3 = std::uint16_t(a >> 48);
        for (int i = 0; i < 8; ++i)
            g->data4[i] = std::uint8_t(b >> (8 * i));
    }
    return id;
}

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
                path.push_back(RandomUnID(rng));
                lib.typePaths.push_back(std::move(path));
            }
            levelStart = start;
        }
    } else {
        lib.typePaths.emplace_back();
    }
    for (std::size_t i = 0; i < parts; ++i) {
        lib.typeOfPart.push_back(std::uint32_t(rng() % lib.typePaths.size()));
        lib.own.push_back(RandomUnID(rng));
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

// One tree serves all iterations and is emptied with Clear() before each, as
// a library set empties its hierarchy before every enumeration: the timing
// is that of the tree's work, not of the first growth of its arrays.
void Add(benchmark::State& state, bool hierarchy)
{
    const Library& lib = GetLibrary(std::size_t(state.range(0)), hierarchy);
    Tree tree;
    for (auto _ : state) {
        state.PauseTiming();
        tree.Clear();
        state.ResumeTiming();
        benchmark::DoNotOptimize(AddAll(tree, lib));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void Delete(benchmark::State& state, bool hierarchy)
{
    const Library& lib = GetLibrary(std::size_t(state.range(0)), hierarchy);
    std::mt19937_64 rng(7);
    Tree tree;
    for (auto _ : state) {
        state.PauseTiming();
        tree.Clear();
        std::vector<std::uint32_t> ids = AddAll(tree, lib);
        std::shuffle(ids.begin(), ids.end(), rng);
        state.ResumeTiming();
        for (std::uint32_t id : ids)
            tree.DeletePath(id);
        benchmark::DoNotOptimize(tree);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_AddPathFlat(benchmark::State& state) { Add(state, false); }
void BM_DeletePathFlat(benchmark::State& state) { Delete(state, false); }
void BM_AddPathHierarchy(benchmark::State& state) { Add(state, true); }
void BM_DeletePathHierarchy(benchmark::State& state) { Delete(state, true); }

}  // namespace

BENCHMARK(BM_AddPathFlat)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeletePathFlat)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddPathHierarchy)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeletePathHierarchy)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
