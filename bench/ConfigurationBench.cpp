// Benchmarks of the stored configuration: writing the info block of a set
// with n active libraries and n other objects, and restoring a set from it.
// Restoring adds every record by name order, so it is the part that could
// grow with n^2; the aim is that 10,000 records cost at most 15 times what
// 1,000 cost.
//
// Libraries are folders that do not exist (one failed look-up each, no
// mounting) and URL libraries, one in four; names repeat in groups of
// three so that equal names are ordered too.
#include "BenchSupport.hpp"
#include "KR/Memory.hpp"
#include "LibraryManagerModule.hpp"
#include "LibrarySet.hpp"
#include "Support/ErrorHandlers.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

TestSupport::NullErrorHandler handler;

std::unique_ptr<LM::LibrarySet> NewSet()
{
    BenchSupport::ModuleOptions options;
    options.cacheFolder = "lm_configuration_bench_cache";
    BenchSupport::InitModule(options);
    return std::make_unique<LM::LibrarySet>(handler, KR::ConstForwardIterator<FTM::GeneralID>());
}

// A set with n libraries and n other objects, added in random order.
std::unique_ptr<LM::LibrarySet> FilledSet(std::int64_t n)
{
    auto set = NewSet();
    std::vector<std::int64_t> order(static_cast<std::size_t>(n));
    for (std::int64_t i = 0; i < n; ++i)
        order[static_cast<std::size_t>(i)] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(20));
    for (std::int64_t i : order) {
        const std::string name = "Library " + std::to_string(i / 3);
        if (i % 4 == 0)
            set->AddActiveLibrary(KR::String("http://host/" + std::to_string(i) + "/" + name + "/"),
                                  i % 8 == 0 ? LM::Permanent : LM::NotPermanent, true);
        else
            set->AddActiveLibrary(IO::Location("/nonexistent/bench/" + std::to_string(i) + "/" + name),
                                  LM::NotPermanent, i % 2 == 0, false);
        const std::int32_t object = set->AddOtherObject(IO::Location("/nonexistent/objects/" + std::to_string(i) +
                                                                      "/Part " + std::to_string(i / 3) + ".gsm"));
        set->SetOtherObjectUrl(object, KR::String("http://host/parts/" + std::to_string(i) + ".gsm"));
    }
    return set;
}

void BM_WriteInfo(benchmark::State& state)
{
    auto set = FilledSet(state.range(0));
    for (auto _ : state) {
        char** info = nullptr;
        if (set->GetActiveLibrariesInfo(&info, true, 0) != 0 || info == nullptr) {
            state.SkipWithError("writing failed");
            return;
        }
        benchmark::DoNotOptimize(*info);
        KR::bmManager.KillHandle(info);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * 2);
}

void BM_RestoreInfo(benchmark::State& state)
{
    auto source = FilledSet(state.range(0));
    char** info = nullptr;
    source->GetActiveLibrariesInfo(&info, true, 0);
    auto set = NewSet();
    for (auto _ : state) {
        if (set->SetActiveLibrariesFromInfo(info, false) != 0 ||
            set->GetActiveLibraryNum() != source->GetActiveLibraryNum() ||
            set->GetOtherObjectNum() != source->GetOtherObjectNum()) {
            state.SkipWithError("restoring failed");
            break;
        }
    }
    KR::bmManager.KillHandle(info);
    state.SetItemsProcessed(state.iterations() * state.range(0) * 2);
}

}  // namespace

BENCHMARK(BM_WriteInfo)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RestoreInfo)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
