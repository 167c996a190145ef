// Benchmark of storing single parts after enumeration: 1,000 part files
// stored one by one into an enumerated table of 20,000 and of 200,000
// parts. Each store keeps the indexes current and rebuilds the type
// hierarchy, so the interesting number is the time per part and how it
// grows with the table.
//
// The table is filled with valid placeholder records (no files needed) whose
// paths form a hierarchy of families below a few roots; the stored parts are
// real part files with an ancestry section naming one of those families.
#include "AncestryHierarchy.hpp"
#include "AncestryInfo.hpp"
#include "BenchSupport.hpp"
#include "FTM/FileTypes.hpp"
#include "KR/Iterator.hpp"
#include "KR/Memory.hpp"
#include "LPF/PartFile.hpp"
#include "LibraryManagerModule.hpp"
#include "LibrarySet.hpp"
#include "LibrarySet/LibrarySetInternals.hpp"
#include "PartTable/PartTable.hpp"
#include "SectionTypes.hpp"
#include "Support/ErrorHandlers.hpp"

#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t StoredParts = 1000;

const std::filesystem::path& BenchFolder()
{
    static const std::filesystem::path folder = BenchSupport::ScratchFolder("lm_store_bench");
    return folder;
}

const BenchSupport::PartTypes& Setup()
{
    BenchSupport::ModuleOptions options;
    options.cacheFolder = "lm_store_bench/cache";
    return BenchSupport::InitModule(options);
}

// The family UnIDs the table's parts derive from: 16 roots, 400 families
// below them.
struct Families {
    std::vector<KR::UnID> roots;
    std::vector<KR::UnID> families;
    std::vector<std::size_t> rootOf;
};

const Families& GetFamilies()
{
    static const Families f = [] {
        Families result;
        std::mt19937_64 random(7);
        for (int k = 0; k < 16; ++k)
            result.roots.push_back(BenchSupport::RandomUnID(random));
        for (int k = 0; k < 400; ++k) {
            result.families.push_back(BenchSupport::RandomUnID(random));
            result.rootOf.push_back(random() % result.roots.size());
        }
        return result;
    }();
    return f;
}

// The part files to store, written once: each derives from a family.
const std::vector<IO::Location>& PartFiles()
{
    static const std::vector<IO::Location> files = [] {
        const Families& f = GetFamilies();
        std::vector<IO::Location> result;
        std::mt19937_64 random(11);
        const std::filesystem::path folder = BenchFolder() / "parts";
        std::filesystem::create_directories(folder);
        for (std::int32_t k = 0; k < StoredParts; ++k) {
            const std::size_t family = random() % f.families.size();
            LM::AncestryInfo ancestry;
            ancestry.Append(f.roots[f.rootOf[family]]);
            ancestry.Append(f.families[family]);
            char** section = ancestry.GetAncestrySection();
            LPF::PartFileWriter writer(LPF::PartKind::Symbol);
            writer.SetOwnUnID(BenchSupport::RandomUnID(random));
            writer.SetDocumentName("Stored part " + std::to_string(k));
            writer.AddSection(LM::AncestrySectionType, 0, LPF::SectionDescriptor{}, *section,
                              KR::bmManager.GetHandleSize(section));
            KR::bmManager.KillHandle(section);
            const IO::Location location((folder / ("Part" + std::to_string(k) + ".gsm")).string());
            writer.WriteTo(location);
            result.push_back(location);
        }
        return result;
    }();
    return files;
}

// An enumerated set of n valid placeholders: the families themselves and
// parts below them.
std::unique_ptr<LM::LibrarySet> MakeEnumeratedSet(TestSupport::NullErrorHandler& handler, std::int32_t n)
{
    const BenchSupport::PartTypes& t = Setup();
    const Families& f = GetFamilies();
    auto set = BenchSupport::NewSet(handler, t);
    LM::PartTable& table = *LM::LibrarySetInternals::GetPartTable(*set);
    LM::AncestryHierarchy& tree = *LM::LibrarySetInternals::GetTypeHierarchy(*set);
    std::mt19937_64 random(42);
    for (std::int32_t i = 0; i < n; ++i) {
        const bool isFamily = static_cast<std::size_t>(i) < f.families.size();
        const std::size_t family = isFamily ? static_cast<std::size_t>(i) : random() % f.families.size();
        const KR::UnID own = isFamily ? f.families[family] : BenchSupport::RandomUnID(random);
        const std::string name = "Part " + std::to_string(random() % 10000000);
        const std::int32_t k = table.AppendPlaceholder(name.c_str(), own, 0, t.part, 0);
        set->SetSymbolValid(k, true);
        std::vector<KR::UnID> path{f.roots[f.rootOf[family]]};
        if (!isFamily)
            path.push_back(f.families[family]);
        LM::LibrarySetInternals::SetSymbolAncestryId(
            *set, k, tree.AddPath(path.data(), static_cast<std::uint32_t>(path.size()), own));
    }
    table.SortIndexes();
    set->RebuildTypeHierarchy(false);
    set->SetEnumerated(true);
    return set;
}

void BM_StoreOneByOne(benchmark::State& state)
{
    const auto n = static_cast<std::int32_t>(state.range(0));
    const std::vector<IO::Location>& files = PartFiles();
    TestSupport::NullErrorHandler handler;
    for (auto _ : state) {
        state.PauseTiming();
        auto set = MakeEnumeratedSet(handler, n);
        state.ResumeTiming();
        for (const IO::Location& location : files)
            benchmark::DoNotOptimize(set->StoreSymbol(location, 0, -1));
        state.PauseTiming();
        set.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * StoredParts);
    state.counters["per_part"] = benchmark::Counter(static_cast<double>(StoredParts),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}
BENCHMARK(BM_StoreOneByOne)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
