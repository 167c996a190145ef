// The map of one folder of N files, and the sibling searches that cache
// synchronisation makes in it.
//
//   AddByPath       adds N names one by one below the root, each first
//                   searched among the siblings already there (as single
//                   files and part paths are added): every search misses.
//   SearchInStep    for every node of one map, the node of the same name in
//                   a second map of the same names, each search starting at
//                   the last one found (the way synchronisation pairs two
//                   folders): hits one step on.
//   SearchMissing   the same with a second map of other names: every search
//                   misses and, without the index, walks the whole family.
//   SearchShuffled  the second map holds the names in another order and
//                   only every other one of them: hits far from the start,
//                   and misses.
//   Walk            Build of a real folder of N files (warm page cache).
// The Search cases build the second map inside the timing (as
// synchronisation builds its maps), so they include building its nodes,
// pool and index. Each runs for 2,000 and 20,000 files. The searches must
// not be quadratic: 20,000 files must cost at most 15 times what 2,000 cost.
#include "Cache/LibraryMap.hpp"

#include "Support/TempDir.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using LM::LibraryMap;

std::string FileName(std::size_t i, const char* stem = "Part")
{
    return std::string(stem) + " " + std::to_string(i) + ".gsm";
}

std::unique_ptr<LibraryMap> FlatMap(const std::vector<std::string>& names)
{
    auto map = std::make_unique<LibraryMap>(IO::Folder());
    for (const std::string& name : names)
        map->AddNode(LibraryMap::RootNode, name.c_str(), false);
    return map;
}

std::vector<std::string> Names(std::size_t n, const char* stem = "Part")
{
    std::vector<std::string> names;
    for (std::size_t i = 0; i < n; ++i)
        names.push_back(FileName(i, stem));
    return names;
}

void BM_AddByPath(benchmark::State& state)
{
    const std::vector<std::string> names = Names(static_cast<std::size_t>(state.range(0)));
    std::vector<IO::RelativeLocation> paths;
    for (const std::string& name : names)
        paths.emplace_back(name);
    for (auto _ : state) {
        LibraryMap map{IO::Folder()};
        for (const IO::RelativeLocation& path : paths)
            benchmark::DoNotOptimize(map.FindOrAddPath(path, false));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Pairs every node of `from` with the node of its name in `in`, searching
// from the last node found, and returns how many were found.
std::int32_t Pair(const LibraryMap& from, const LibraryMap& in)
{
    std::int32_t found = 0;
    std::int32_t start = in.GetFirstEntry();
    for (std::int32_t n = from.GetFirstEntry(); n != 0; n = from.GetNode(n).next) {
        const std::int32_t hit = in.FindChild(start, from.GetNameText(n));
        if (hit != 0) {
            start = hit;
            ++found;
        }
    }
    return found;
}

// The second map is built inside the timing, as synchronisation builds its
// maps, so the cost of its index is counted too.
void RunPairs(benchmark::State& state, const std::vector<std::string>& fromNames,
              const std::vector<std::string>& inNames)
{
    const auto from = FlatMap(fromNames);
    for (auto _ : state) {
        const auto in = FlatMap(inNames);
        benchmark::DoNotOptimize(Pair(*from, *in));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(fromNames.size()));
}

void BM_SearchInStep(benchmark::State& state)
{
    const std::vector<std::string> names = Names(static_cast<std::size_t>(state.range(0)));
    RunPairs(state, names, names);
}

void BM_SearchMissing(benchmark::State& state)
{
    const auto n = static_cast<std::size_t>(state.range(0));
    RunPairs(state, Names(n), Names(n, "Other"));
}

void BM_SearchShuffled(benchmark::State& state)
{
    const auto n = static_cast<std::size_t>(state.range(0));
    std::vector<std::string> names = Names(n);
    std::vector<std::string> half;
    for (std::size_t i = 0; i < n; i += 2)
        half.push_back(names[i]);
    std::shuffle(half.begin(), half.end(), std::mt19937(7));
    RunPairs(state, names, half);
}

// One folder of N files per size, made once.
const std::string& FolderOf(std::size_t n)
{
    static TestSupport::TempDir dir;
    static std::map<std::size_t, std::string> folders;
    auto it = folders.find(n);
    if (it == folders.end()) {
        const std::string folder = "flat" + std::to_string(n);
        for (std::size_t i = 0; i < n; ++i)
            TestSupport::WriteFileBytes(dir / (folder + "/" + FileName(i)), "x");
        it = folders.emplace(n, dir / folder).first;
    }
    return it->second;
}

void BM_Walk(benchmark::State& state)
{
    const IO::Folder folder{IO::Location(FolderOf(static_cast<std::size_t>(state.range(0))))};
    for (auto _ : state) {
        LibraryMap map{folder};
        if (map.Build() != KR::NoError)
            state.SkipWithError("the walk failed");
        benchmark::DoNotOptimize(map.GetFileCount());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_AddByPath)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchInStep)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchMissing)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchShuffled)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Walk)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
