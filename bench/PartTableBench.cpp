// Benchmarks of the part table: building the two sorted indexes with the
// duplicate check (against a plain sort of the same name keys), and the
// searches by document name, by UnID, by main GUID and for placeholders.
//
// Tables are filled with placeholder records, which need no files, and made
// valid where the searches need valid records.
#include "BenchSupport.hpp"
#include "FTM/FileTypes.hpp"
#include "KR/Iterator.hpp"
#include "KR/Text.hpp"
#include "KRUtils/KRUtils.hpp"
#include "LibraryManagerModule.hpp"
#include "LibrarySet.hpp"
#include "LibrarySet/LibrarySetInternals.hpp"
#include "LibrarySet/ModuleState.hpp"
#include "PartTable/PartTable.hpp"
#include "Support/ErrorHandlers.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

const BenchSupport::PartTypes& Setup()
{
    BenchSupport::ModuleOptions options;
    options.cacheFolder = "lm_parttable_bench_cache";
    return BenchSupport::InitModule(options);
}

// A library set whose table holds n valid placeholders: names as libraries
// name their parts (a family word, a number, some variants), mostly distinct
// UnIDs with a few revisions sharing a main GUID, a tenth of them of the
// second library part file type.
struct BenchSet {
    explicit BenchSet(std::int32_t n)
    {
        const BenchSupport::PartTypes& t = Setup();
        set = BenchSupport::NewSet(handler, t);
        table = LM::LibrarySetInternals::GetPartTable(*set);
        static const char* const families[] = {"Window ", "Door ", "Wall Niche ", "Chair ", "Table ",
                                               "Lamp ", "Column ", "Beam ", "Stair ", "Shelf "};
        std::mt19937_64 random(42);
        for (std::int32_t i = 0; i < n; ++i) {
            std::string name = families[random() % std::size(families)];
            name += std::to_string(random() % 10000000);
            if (random() % 4 == 0)
                name += " double";
            KR::UnID id = BenchSupport::RandomUnID(random);
            if (i > 0 && random() % 10 == 0 && ids.back() != NULLUnID)
                id.mainGuid = ids.back().mainGuid;  // another revision of the previous part
            const FTM::GeneralID type = random() % 10 == 0 ? t.script : t.part;
            if (type == t.script)
                id = NULLUnID;
            const std::int32_t k = table->AppendPlaceholder(name.c_str(), id, 0, type, 0);
            set->SetSymbolValid(k, true);
            ids.push_back(id);
            names.push_back(name.substr(0, 31));
        }
    }

    TestSupport::NullErrorHandler handler;
    std::unique_ptr<LM::LibrarySet> set;
    LM::PartTable* table = nullptr;
    std::vector<KR::UnID> ids;
    std::vector<std::string> names;
};

// One table per size, made once.
BenchSet& GetSet(std::int32_t n)
{
    static std::map<std::int32_t, std::unique_ptr<BenchSet>> sets;
    auto& slot = sets[n];
    if (slot == nullptr) {
        slot = std::make_unique<BenchSet>(n);
        slot->table->BuildIndexes();
    }
    return *slot;
}

// The plain sort the index building is measured against: the same (name,
// mapped type) keys copied into an array and sorted by the same comparison.
struct PlainKey {
    char name[LM::DocumentNameSize];
    FTM::GeneralID type;
};

std::vector<PlainKey> PlainKeys(const LM::PartTable& table)
{
    std::vector<PlainKey> keys(static_cast<std::size_t>(table.GetCount()));
    for (std::int32_t i = 0; i < table.GetCount(); ++i) {
        std::memcpy(keys[static_cast<std::size_t>(i)].name, table.Get(i)->documentName, LM::DocumentNameSize);
        keys[static_cast<std::size_t>(i)].type = LM::MapPartFileType(table.Get(i)->fileType);
    }
    return keys;
}

void PlainSort(std::vector<PlainKey>& keys)
{
    std::sort(keys.begin(), keys.end(), [](const PlainKey& a, const PlainKey& b) {
        const int c = KR::ch04Manager.Compare(a.name, -1, b.name, -1, 0, 0);
        return c != 0 ? c < 0 : a.type < b.type;
    });
}

// CPU time of this thread, so that other load on the machine does not
// distort the ratios.
double ThreadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

template <typename F>
double MinSeconds(int runs, F&& f)
{
    double best = 1e30;
    for (int r = 0; r < runs; ++r) {
        const double start = ThreadSeconds();
        f();
        best = std::min(best, ThreadSeconds() - start);
    }
    return best;
}

void BM_BuildIndexes(benchmark::State& state)
{
    BenchSet& bench = GetSet(static_cast<std::int32_t>(state.range(0)));
    for (auto _ : state) {
        bench.table->BuildIndexes();
        benchmark::DoNotOptimize(bench.table->GetNameIndex().data());
    }
    // Index building against a plain sort of the name keys, both measured
    // here in CPU time, best of three.
    const std::vector<PlainKey> original = PlainKeys(*bench.table);
    const double plain = MinSeconds(3, [&] {
        std::vector<PlainKey> keys(original);
        PlainSort(keys);
        benchmark::DoNotOptimize(keys.data());
    });
    const double build = MinSeconds(3, [&] { bench.table->BuildIndexes(); });
    const double sortOnly = MinSeconds(3, [&] { bench.table->SortIndexes(); });
    state.counters["plain_sort_ms"] = plain * 1e3;
    state.counters["build_vs_plain_sort"] = build / plain;
    state.counters["both_sorts_vs_plain_sort"] = sortOnly / plain;
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BuildIndexes)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PlainSortOfNameKeys(benchmark::State& state)
{
    BenchSet& bench = GetSet(static_cast<std::int32_t>(state.range(0)));
    const std::vector<PlainKey> original = PlainKeys(*bench.table);
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<PlainKey> keys(original);
        state.ResumeTiming();
        PlainSort(keys);
        benchmark::DoNotOptimize(keys.data());
    }
}
BENCHMARK(BM_PlainSortOfNameKeys)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SearchSymbolDocuName(benchmark::State& state)
{
    BenchSet& bench = GetSet(static_cast<std::int32_t>(state.range(0)));
    std::size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(bench.set->SearchSymbolDocuName(bench.names[k].c_str()));
        k = (k + 7919) % bench.names.size();
    }
}
BENCHMARK(BM_SearchSymbolDocuName)->Arg(100000)->Arg(1000000);

void BM_SearchSymbolByUnID(benchmark::State& state)
{
    BenchSet& bench = GetSet(static_cast<std::int32_t>(state.range(0)));
    std::size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(bench.set->SearchSymbolByUnID(bench.ids[k], nullptr));
        k = (k + 7919) % bench.ids.size();
    }
}
BENCHMARK(BM_SearchSymbolByUnID)->Arg(100000)->Arg(1000000);

void BM_SearchSymbolByMainUnID(benchmark::State& state)
{
    BenchSet& bench = GetSet(static_cast<std::int32_t>(state.range(0)));
    KR::VAArray<std::int32_t> hits(50);
    std::size_t k = 0;
    std::int64_t found = 0;
    for (auto _ : state) {
        found += bench.set->SearchSymbolByMainUnID(bench.ids[k], &hits);
        k = (k + 7919) % bench.ids.size();
        while (bench.ids[k] == NULLUnID)  // the scripts' shared null GUID lists a tenth of the table
            k = (k + 1) % bench.ids.size();
    }
    benchmark::DoNotOptimize(found);
}
BENCHMARK(BM_SearchSymbolByMainUnID)->Arg(100000)->Arg(1000000);

// The same search as the plain scan in table order it stands for, for
// comparison.
void BM_MainGuidScanForComparison(benchmark::State& state)
{
    BenchSet& bench = GetSet(static_cast<std::int32_t>(state.range(0)));
    std::size_t k = 0;
    for (auto _ : state) {
        std::int32_t found = 0;
        for (std::int32_t i = 0; i < bench.table->GetCount(); ++i) {
            const LM::LibElement& r = *bench.table->Get(i);
            found += r.valid && KR::guidManager.IsEqual(r.GetSymbolData()->GetOwnUnID().mainGuid, bench.ids[k].mainGuid);
        }
        benchmark::DoNotOptimize(found);
        k = (k + 7919) % bench.ids.size();
    }
}
BENCHMARK(BM_MainGuidScanForComparison)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_SearchDummySymbol(benchmark::State& state)
{
    BenchSet& bench = GetSet(static_cast<std::int32_t>(state.range(0)));
    std::size_t k = 0;
    for (auto _ : state) {
        // Every record is valid, so each search walks the chain and finds none.
        benchmark::DoNotOptimize(bench.set->SearchDummySymbol(bench.ids[k], nullptr));
        k = (k + 7919) % bench.ids.size();
        while (bench.ids[k] == NULLUnID)
            k = (k + 1) % bench.ids.size();
    }
}
BENCHMARK(BM_SearchDummySymbol)->Arg(1000000);

}  // namespace

BENCHMARK_MAIN();
