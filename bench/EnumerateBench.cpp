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
// reports the quotient of their times (ratio; the target is at most 1.3).
// Ratio/1/1 does the same with a file count file at the library's root (as
// an administrator may put there), which spares the counting walk.
// Scaling runs Enumerate on both sizes and reports the quotient of their
// times (scaling; the target is at most 12 for ten times the parts).
// LM_BENCH_PARTS overrides the larger size (the smaller is a tenth of it).
#include "Generator.hpp"

#include "FTM/FileTypes.hpp"
#include "KR/Iterator.hpp"
#include "LibraryManager.hpp"
#include "Support/ErrorHandlers.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t Seed = 1;

std::uint64_t LargeCount()
{
    if (const char* text = std::getenv("LM_BENCH_PARTS"))
        return std::max<std::uint64_t>(10, std::strtoull(text, nullptr, 10));
    return 100000;
}

std::uint64_t PartCount(std::int64_t which)
{
    return which == 0 ? LargeCount() / 10 : LargeCount();
}

// The generated library of `parts` part files, made on first use.
const std::string& GetLibrary(std::uint64_t parts)
{
    static std::map<std::uint64_t, std::string> made;
    auto found = made.find(parts);
    if (found != made.end())
        return found->second;
    const fs::path root = fs::temp_directory_path() /
                          ("lm-bench-partfiles-v1-n" + std::to_string(parts) + "-s" + std::to_string(Seed));
    const fs::path done = root / ".complete";
    if (!fs::exists(done)) {
        fs::remove_all(root);
        lpftool::GeneratorOptions options;
        options.parts = parts;
        options.seed = Seed;
        lpftool::GeneratorSummary summary;
        std::string error;
        if (!lpftool::GenerateLibrary(root.string(), options, &summary, &error)) {
            std::cerr << "cannot generate the library: " << error << '\n';
            std::exit(1);
        }
        std::cerr << "generated: " << summary.ToString() << '\n';
        std::ofstream(done) << summary.ToString() << '\n';
    }
    return made.emplace(parts, root.string()).first->second;
}

// The module set up once, with the generator's two part file types.
struct Module {
    Module()
    {
        FTM::FileType part("Library part");
        part.AddExtension("lpf");
        FTM::FileType script("Library script");
        script.AddExtension("lps");
        types[0] = FTM::FileTypeManager::AddType(part);
        types[1] = FTM::FileTypeManager::AddType(script);
        LM::LibraryManagerCallBacks callBacks;
        LM::LibraryManagerStrings strings;
        strings.Set(4, "File Count");
        strings.Set(5, "Libraries");
        strings.Set(7, "Other Objects");
        strings.Set(8, "Missing Parts");
        cache = fs::temp_directory_path() / "lm-bench-enumerate-cache";
        fs::create_directories(cache);
        LM::InitLibraryManager(callBacks, strings, types[0], types[1], IO::Location(cache.string()));
    }
    FTM::GeneralID types[2] = {};
    fs::path cache;
};

const Module& GetModule()
{
    static const Module module;
    return module;
}

// A set whose only library is the generated one.
struct EnumeratedSet {
    explicit EnumeratedSet(const std::string& library)
        : set(handler, KR::ConstForwardIterator<FTM::GeneralID>(std::begin(GetModule().types),
                                                                std::end(GetModule().types)))
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

template <typename Pass>
double Seconds(Pass&& pass)
{
    const auto start = std::chrono::steady_clock::now();
    pass();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
    double enumerateSeconds = 0;
    double floorSeconds = 0;
    bool enumerateFirst = false;
    for (auto _ : state) {
        enumerateFirst = !enumerateFirst;
        if (enumerateFirst) {
            enumerateSeconds += Seconds([&] { set.Run(); });
            floorSeconds += Seconds([&] { Floor(library); });
        } else {
            floorSeconds += Seconds([&] { Floor(library); });
            enumerateSeconds += Seconds([&] { set.Run(); });
        }
    }
    state.counters["enumerate_ms"] = enumerateSeconds / static_cast<double>(state.iterations()) * 1e3;
    state.counters["floor_ms"] = floorSeconds / static_cast<double>(state.iterations()) * 1e3;
    state.counters["ratio"] = enumerateSeconds / floorSeconds;
    SetCountFile(library, false);
}

void BM_Scaling(benchmark::State& state)
{
    EnumeratedSet small(GetLibrary(PartCount(0)));
    EnumeratedSet large(GetLibrary(PartCount(1)));
    small.Run();
    large.Run();
    double smallSeconds = 0;
    double largeSeconds = 0;
    for (auto _ : state) {
        smallSeconds += Seconds([&] { small.Run(); });
        largeSeconds += Seconds([&] { large.Run(); });
    }
    state.counters["small_ms"] = smallSeconds / static_cast<double>(state.iterations()) * 1e3;
    state.counters["large_ms"] = largeSeconds / static_cast<double>(state.iterations()) * 1e3;
    state.counters["scaling"] = largeSeconds / smallSeconds;
}

// Argument 0: the smaller library, 1: the larger one.
BENCHMARK(BM_Floor)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Enumerate)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Ratio)->Args({1, 0})->Args({1, 1})->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_Scaling)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
