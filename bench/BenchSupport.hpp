// What the benchmarks share: their folders in the temporary folder, the
// module set up once with two part file types, and the libraries written by
// the lpf generator (for the benchmarks built with it).
#pragma once

#include "FTM/FileTypes.hpp"
#include "IO/Location.hpp"
#include "KR/GUID.hpp"
#include "KR/Iterator.hpp"
#include "LibraryManager.hpp"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <string>

#if __has_include("Generator.hpp")
#include "Generator.hpp"
#define LM_BENCH_HAS_GENERATOR 1
#endif

namespace BenchSupport {

// The folder `name` in the temporary folder, created when missing. It is
// kept between runs, so that what a benchmark wrote once can be found again.
inline std::filesystem::path ScratchFolder(const std::string& name)
{
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(folder);
    return folder;
}

struct PartTypes {
    FTM::TypeID part = 0;
    FTM::TypeID script = 0;
};

struct ModuleOptions {
    const char* partExtension = "gsm";
    const char* scriptExtension = "scr";
    // Folder (in the temporary folder) of the module's cache locations.
    std::string cacheFolder = "lm_bench_cache";
    LM::LibraryManagerStrings strings;
};

// Registers the two part file types and initialises the module, once per
// process: later calls give the types of the first and ignore `options`.
inline const PartTypes& InitModule(const ModuleOptions& options = {})
{
    static const PartTypes types = [&] {
        FTM::FileType part("Bench part");
        part.AddExtension(options.partExtension);
        FTM::FileType script("Bench script");
        script.AddExtension(options.scriptExtension);
        PartTypes t{FTM::FileTypeManager::AddType(part), FTM::FileTypeManager::AddType(script)};
        LM::InitLibraryManager(LM::LibraryManagerCallBacks{}, options.strings, t.part, t.script,
                               IO::Location(ScratchFolder(options.cacheFolder).string()));
        return t;
    }();
    return types;
}

// A library set whose storable file types are the two part file types.
inline std::unique_ptr<LM::LibrarySet> NewSet(LM::ILibraryErrorHandler& handler, const PartTypes& types)
{
    const FTM::GeneralID storable[2] = {types.part, types.script};
    return std::make_unique<LM::LibrarySet>(
        handler, KR::ConstForwardIterator<FTM::GeneralID>(std::begin(storable), std::end(storable)));
}

// The number in the environment variable `variable` (at least `least`), or
// `fallback` when it is not set: for a quick run on a smaller library.
inline std::uint64_t CountFromEnvironment(const char* variable, std::uint64_t fallback, std::uint64_t least)
{
    if (const char* text = std::getenv(variable))
        return std::max<std::uint64_t>(least, std::strtoull(text, nullptr, 10));
    return fallback;
}

// A random UnID (both GUIDs random).
inline KR::UnID RandomUnID(std::mt19937_64& random)
{
    KR::UnID id{};
    const std::uint64_t words[4] = {random(), random(), random(), random()};
    static_assert(sizeof words == sizeof id);
    std::memcpy(&id, words, sizeof id);
    return id;
}

// Wall and processor time of one pass. On a machine shared with other work
// the processor time, which waiting for a core does not inflate, is the
// steadier of the two.
struct PassTime {
    double wall = 0;
    double cpu = 0;
    PassTime& operator+=(const PassTime& other)
    {
        wall += other.wall;
        cpu += other.cpu;
        return *this;
    }
};

inline double ProcessCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

template <typename Pass>
PassTime Time(Pass&& pass)
{
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = ProcessCpuSeconds();
    pass();
    return PassTime{std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                    ProcessCpuSeconds() - cpuStart};
}

#ifdef LM_BENCH_HAS_GENERATOR
// The root of a library of `parts` part files written by the lpf generator
// with `seed`, made on first use and kept in the temporary folder (keyed by
// its parameters) for later runs; a library whose writing did not finish is
// written again. Exits when it cannot be written.
inline const std::string& GeneratedLibrary(std::uint64_t parts, std::uint64_t seed)
{
    static std::map<std::pair<std::uint64_t, std::uint64_t>, std::string> made;
    const auto key = std::make_pair(parts, seed);
    if (const auto found = made.find(key); found != made.end())
        return found->second;
    const std::filesystem::path root = std::filesystem::temp_directory_path() /
                                       ("lm-bench-partfiles-v1-n" + std::to_string(parts) + "-s" + std::to_string(seed));
    const std::filesystem::path done = root / ".complete";
    if (!std::filesystem::exists(done)) {
        std::filesystem::remove_all(root);
        lpftool::GeneratorOptions options;
        options.parts = parts;
        options.seed = seed;
        lpftool::GeneratorSummary summary;
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        if (!lpftool::GenerateLibrary(root.string(), options, &summary, &error)) {
            std::cerr << "cannot generate the library: " << error << '\n';
            std::exit(1);
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::cerr << "generated in " << seconds << " s: " << summary.ToString() << '\n';
        std::ofstream(done) << summary.ToString() << '\n';
    }
    return made.emplace(key, root.string()).first->second;
}
#endif

}  // namespace BenchSupport
