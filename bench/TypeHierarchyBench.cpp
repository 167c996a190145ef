// Build over generated part tables of 20,000 and 200,000 parts: 300 types
// in a hierarchy up to 8 levels deep, every part below a random type; 5 % of
// the types are declared in a revision that is present only as another
// revision, 2 % of the parts are old parts without an identifier. The set
// and its tree are made anew for every iteration, outside the timing.
#include "AncestryHierarchy.hpp"
#include "BenchSupport.hpp"
#include "FTM/FileTypes.hpp"
#include "KRUtils/KRUtils.hpp"
#include "LibraryManagerModule.hpp"
#include "LibrarySet.hpp"
#include "LibrarySet/LibrarySetInternals.hpp"
#include "PartTable/PartTable.hpp"
#include "Support/ErrorHandlers.hpp"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <random>
#include <vector>

namespace {

const BenchSupport::PartTypes& Setup()
{
    BenchSupport::ModuleOptions options;
    options.cacheFolder = "lm_hierarchy_bench_cache";
    return BenchSupport::InitModule(options);
}

KR::UnID Id(std::uint32_t main, std::uint32_t rev)
{
    KR::UnID id{};
    id.mainGuid.data1 = main;
    id.mainGuid.data4[7] = 7;
    id.revGuid.data1 = rev;
    return id;
}

struct BenchSet {
    explicit BenchSet(std::int32_t n)
    {
        const BenchSupport::PartTypes& t = Setup();
        set = BenchSupport::NewSet(handler, t);
        LM::PartTable& table = *LM::LibrarySetInternals::GetPartTable(*set);
        LM::AncestryHierarchy& tree = *LM::LibrarySetInternals::GetTypeHierarchy(*set);
        std::mt19937 random(7);
        constexpr std::uint32_t TypeCount = 300;
        // Declared paths of the types (as parts declare them: revision 1).
        std::vector<std::vector<KR::UnID>> declared(TypeCount);
        for (std::uint32_t k = 0; k < TypeCount; ++k) {
            if (k >= 5) {
                std::uint32_t parent = random() % k;
                while (declared[parent].size() >= 7)
                    parent = random() % k;
                declared[k] = declared[parent];
                declared[k].push_back(Id(parent + 1, 1));
            }
        }
        auto add = [&](const KR::UnID& own, const std::vector<KR::UnID>& ancestors) {
            const std::int32_t i = table.AppendPlaceholder("Part", own, 0, t.part, 0);
            set->SetSymbolValid(i, true);
            const std::uint32_t path =
                tree.AddPath(ancestors.data(), static_cast<std::uint32_t>(ancestors.size()), own);
            LM::LibrarySetInternals::SetSymbolAncestryId(*set, i, path);
        };
        for (std::uint32_t k = 0; k < TypeCount; ++k) {
            // One type in twenty is present only in revision 2.
            const std::uint32_t rev = k % 20 == 7 ? 2 : 1;
            add(Id(k + 1, rev), declared[k]);
        }
        for (std::int32_t p = static_cast<std::int32_t>(TypeCount); p < n; ++p) {
            const std::uint32_t type = random() % TypeCount;
            std::vector<KR::UnID> ancestors = declared[type];
            ancestors.push_back(Id(type + 1, 1));
            const bool old = random() % 50 == 0;
            add(old ? NULLUnID : Id(100000 + static_cast<std::uint32_t>(p), 1), ancestors);
        }
        table.SortIndexes();
    }

    TestSupport::NullErrorHandler handler;
    std::unique_ptr<LM::LibrarySet> set;
};

void BM_Build(benchmark::State& state)
{
    const auto n = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto bench = std::make_unique<BenchSet>(n);
        LM::AncestryHierarchy& tree = *LM::LibrarySetInternals::GetTypeHierarchy(*bench->set);
        state.ResumeTiming();
        tree.Build(false);
        benchmark::DoNotOptimize(tree.GetPathMultiplicity(LM::LibrarySetInternals::GetSymbolAncestryId(*bench->set, 0)));
        state.PauseTiming();
        bench.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Build)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
