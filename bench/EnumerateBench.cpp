// Enumerating a library as the application does it, against what no
// enumeration of the same files can beat.
//
// Libraries of 10,000 and 100,000 part files (written once by the lpf
// generator into the temporary folder, keyed by their parameters, with
// realistic ancestry, scripts and other files) are enumerated as one
// active library each:
//   Enumerate/N  LibrarySet::Enumerate: the counting walk (the generated
//                libraries have no file count file), the walk that stores
//                every file, the sorted indexes and the duplicate check, the
//                type hierarchy;
//   Floor/N      a plain walk of the same tree (opendir, readdir) that opens
//                each file, reads its first 4 KiB and closes it.
// Ratio runs both in every iteration, alternating which goes first, and
// reports the quotient of their times (ratio; the target is at most 1.3),
// and of their processor times (cpu_ratio), which a machine busy with other
// work disturbs less.
// Ratio/1/1 does the same with a file count file at the library's root (as
// an administrator may put there), which spares the counting walk.
// Scaling runs Enumerate on both sizes and reports the quotient of their
// times (scaling; the target is at most 12 for ten times the parts; and
// cpu_scaling from the processor times).
// LM_BENCH_PARTS overrides the larger size (the smaller is a tenth of it).
#include "BenchSupport.hpp"

#include "KR/Iterator.hpp"
#include "LibraryManager.hpp"
#include "Support/ErrorHandlers.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t Seed = 1;

std::uint64_t LargeCount()
{
    return BenchSupport::CountFromEnvironment("LM_BENCH_PARTS", 100000, 10);
}

std::uint64_t PartCount(std::int64_t which)
{
    return which == 0 ? LargeCount() / 10 : LargeCount();
}

const std::string& GetLibrary(std::uint64_t parts)
{
    return BenchSupport::GeneratedLibrary(parts, Seed);
}

// The module set up once, with the generator's two part file types.
const std::array<FTM::GeneralID, 2>& StorableTypes()
{
    static const std::array<FTM::GeneralID, 2> types = [] {
        BenchSupport::ModuleOptions options;
        options.partExtension = "lpf";
        options.scriptExtension = "lps";
        options.cacheFolder = "lm-bench-enumerate-cache";
        options.strings.Set(4, "File Count");
        options.strings.Set(5, "Libraries");
        options.strings.Set(7, "Other Objects");
        options.strings.Set(8, "Missing Parts");
        const BenchSupport::PartTypes& t = BenchSupport::InitModule(options);
        return std::array<FTM::GeneralID, 2>{t.part, t.script};
    }();
    return types;
}

// A set whose only library is the generated one.
struct EnumeratedSet {
    explicit EnumeratedSet(const std::string& library)
        : set(handler, KR::ConstForwardIterator<FTM::GeneralID>(StorableTypes().data(),
                                                                StorableTypes().data() + StorableTypes().size()))
    {
        set.AddActiveLibrary(IO::Location(library), LM::NotPermanent, false, false);
    }
    std::int32_t Run()
    {
        if (set.Enumerate() != 0)
            return -1;
        return set.GetSymbolNumber();
    }
    TestSupport::NullErrorHandler handler;
    LM::LibrarySet set;
};

// The floor: every file of the tree opened, its first 4 KiB read, closed.
std::uint64_t WalkAndRead(const std::string& folder, char* buffer)
{
    std::uint64_t files = 0;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = folder + "/" + name;
        if (entry->d_type == DT_DIR) {
            files += WalkAndRead(path, buffer);
        } else if (entry->d_type == DT_REG) {
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                continue;
            if (::read(fd, buffer, 4096) >= 0)
                ++files;
            ::close(fd);
        }
    }
    ::closedir(dir);
    return files;
}

std::uint64_t Floor(const std::string& library)
{
    char buffer[4096];
    return WalkAndRead(library, buffer);
}

void BM_Enumerate(benchmark::State& state)
{
    const std::string& library = GetLibrary(PartCount(state.range(0)));
    EnumeratedSet set(library);
    std::int32_t parts = 0;
    for (auto _ : state)
        parts = set.Run();
    if (parts <= 0)
        state.SkipWithError("the enumeration failed");
    state.counters["parts"] = parts;
    state.SetItemsProcessed(state.iterations() * parts);
}

void BM_Floor(benchmark::State& state)
{
    const std::string& library = GetLibrary(PartCount(state.range(0)));
    std::uint64_t files = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(files = Floor(library));
    state.counters["files"] = static_cast<double>(files);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * files));
}

// Puts a file count file at the library's root, or takes it away.
void SetCountFile(const std::string& library, bool present)
{
    const fs::path path = fs::path(library) / "File Count";
    if (!present) {
        fs::remove(path);
        return;
    }
    const std::int32_t words[2] = {0x4C323036, 0};
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(words), sizeof words);
}

void BM_Ratio(benchmark::State& state)
{
    const std::string& library = GetLibrary(PartCount(state.range(0)));
    SetCountFile(library, state.range(1) != 0);
    EnumeratedSet set(library);
    Floor(library);  // the page cache holds every file from here on
    set.Run();
    BenchSupport::PassTime enumerateTime;
    BenchSupport::PassTime floorTime;
    bool enumerateFirst = false;
    for (auto _ : state) {
        enumerateFirst = !enumerateFirst;
        if (enumerateFirst) {
            enumerateTime += BenchSupport::Time([&] { set.Run(); });
            floorTime += BenchSupport::Time([&] { Floor(library); });
        } else {
            floorTime += BenchSupport::Time([&] { Floor(library); });
            enumerateTime += BenchSupport::Time([&] { set.Run(); });
        }
    }
    const auto perPass = [&](double seconds) { return seconds / static_cast<double>(state.iterations()) * 1e3; };
    state.counters["enumerate_ms"] = perPass(enumerateTime.wall);
    state.counters["floor_ms"] = perPass(floorTime.wall);
    state.counters["ratio"] = enumerateTime.wall / floorTime.wall;
    state.counters["cpu_ratio"] = enumerateTime.cpu / floorTime.cpu;
    SetCountFile(library, false);
}

void BM_Scaling(benchmark::State& state)
{
    EnumeratedSet small(GetLibrary(PartCount(0)));
    EnumeratedSet large(GetLibrary(PartCount(1)));
    small.Run();
    large.Run();
    BenchSupport::PassTime smallTime;
    BenchSupport::PassTime largeTime;
    for (auto _ : state) {
        smallTime += BenchSupport::Time([&] { small.Run(); });
        largeTime += BenchSupport::Time([&] { large.Run(); });
    }
    state.counters["small_ms"] = smallTime.wall / static_cast<double>(state.iterations()) * 1e3;
    state.counters["large_ms"] = largeTime.wall / static_cast<double>(state.iterations()) * 1e3;
    state.counters["scaling"] = largeTime.wall / smallTime.wall;
    state.counters["cpu_scaling"] = largeTime.cpu / smallTime.cpu;
}

// Argument 0: the smaller library, 1: the larger one.
BENCHMARK(BM_Floor)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Enumerate)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Ratio)->Args({1, 0})->Args({1, 1})->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_Scaling)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
