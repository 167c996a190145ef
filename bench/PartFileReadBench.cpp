// Reading part files at the rate a library enumeration needs them.
//
// A library of 100,000 part files (written once by the lpf generator and
// kept in the temporary folder, keyed by its parameters) is read two ways:
//   PartFiles  each file through LPF::SymbolFile: header, own UnID, document
//              name and the ancestry section;
//   Floor      each file with POSIX open, one read of 4 KiB, close: what no
//              reader of the same files can beat.
// Ratio runs both passes in the same iteration and reports the quotient
// (ratio). A library enumeration also reads every file's modification time;
// that pass (the part file reading its time at open) is compared with open,
// fstat, read, close, the least a reader that reports the time must do
// (ratio_with_time).
// LPF_BENCH_PARTS overrides the number of part files (for a quick run).
#include "BenchSupport.hpp"
#include "Generator.hpp"
#include "Sections.hpp"

#include "KR/Memory.hpp"
#include "LPF/ByteOrder.hpp"
#include "LPF/PartFile.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t Seed = 1;

std::uint64_t PartCount()
{
    return BenchSupport::CountFromEnvironment("LPF_BENCH_PARTS", 100000, 1);
}

// Converts ancestry sections of the other byte order when no handler (the
// module's) is linked in, so that every file is read the same way.
class AncestryConverter : public LPF::ISectionHandler {
public:
    KR::ErrorCode ConvertToPlatform(LPF::SectionDescriptor* descriptor, char** section, std::uint32_t target) override
    {
        if (descriptor->platform == target)
            return KR::NoError;
        const std::size_t size = KR::bmManager.GetHandleSize(section);
        auto* p = reinterpret_cast<unsigned char*>(*section);
        if (size < 32)
            return KR::ErrBadFormat;
        for (std::size_t at = 4; at < 32; at += 4)
            LPF::ReverseBytes(p + at, 4);
        if (size != 32 * (std::size_t{LPF::Load32(p + 4, LPF::ByteOrder::Little)} + 1))
            return KR::ErrBadFormat;
        for (std::size_t at = 32; at < size; at += 16) {
            LPF::ReverseBytes(p + at, 4);
            LPF::ReverseBytes(p + at + 4, 2);
            LPF::ReverseBytes(p + at + 6, 2);
        }
        descriptor->platform = target;
        return KR::NoError;
    }
    KR::ErrorCode ConvertToNative(void*, LPF::SectionDescriptor* descriptor, char** section) override
    {
        return ConvertToPlatform(descriptor, section, LPF::NativePlatform);
    }
    KR::ErrorCode Validate(const LPF::SectionDescriptor*, char**) override { return KR::NoError; }
    KR::ErrorCode Dump(KR::OChannel&, const LPF::SectionDescriptor*, char**, bool) override { return KR::NoError; }
    bool CanConvert() const override { return true; }
};

struct Library {
    std::vector<std::string> paths;
    std::vector<IO::Location> locations;
};

// The generated library, made on first use (or found from an earlier run).
const Library& GetLibrary()
{
    static const Library library = [] {
        const fs::path root = BenchSupport::GeneratedLibrary(PartCount(), Seed);
        Library lib;
        for (const auto& e : fs::recursive_directory_iterator(root))
            if (e.is_regular_file() && e.path().extension() == ".lpf")
                lib.paths.push_back(e.path().string());
        std::sort(lib.paths.begin(), lib.paths.end());
        for (const std::string& p : lib.paths)
            lib.locations.emplace_back(p);
        if (LPF::GetSectionHandler(lpftool::AncestrySectionType) == nullptr) {
            static AncestryConverter converter;
            LPF::InstallSectionHandler(lpftool::AncestrySectionType, &converter);
        }
        return lib;
    }();
    return library;
}

// One pass through LPF; returns the number of files read completely. With
// `withTime` each file's modification time is read too.
std::uint64_t ReadParts(const Library& lib, bool withTime = false)
{
    std::uint64_t complete = 0;
    char name[32];
    for (const IO::Location& location : lib.locations) {
        try {
            LPF::SymbolFile file(location, withTime ? LPF::ModificationTime::ReadAtOpen
                                                    : LPF::ModificationTime::ReadWhenAsked);
            KR::UnID id;
            bool placeable = false;
            file.GetOwnUnID(&id);
            file.IsPlaceable(&placeable);
            if (withTime) {
                std::int32_t time = 0;
                file.GetModificationTime(&time);
                benchmark::DoNotOptimize(time);
            }
            file.GetDocumentName(name);
            char** ancestry = nullptr;
            if (file.GetSectionDataRef(lpftool::AncestrySectionType, 0, &ancestry) == KR::NoError)
                ++complete;
            benchmark::DoNotOptimize(id);
            benchmark::DoNotOptimize(ancestry);
        } catch (const LPF::PartFileException&) {
        }
    }
    return complete;
}

// One pass of the floor: open, read the first 4 KiB, close. With `withStat`
// an fstat between open and read gives size and modification time.
std::uint64_t ReadFloor(const Library& lib, bool withStat = false)
{
    std::uint64_t bytes = 0;
    char buffer[4096];
    for (const std::string& path : lib.paths) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {};
        if (withStat)
            ::fstat(fd, &st);
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            bytes += static_cast<std::uint64_t>(n) + static_cast<std::uint64_t>(st.st_mtime & 1);
        ::close(fd);
    }
    return bytes;
}

void SetPerFile(benchmark::State& state, const Library& lib)
{
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lib.paths.size()));
    state.counters["files"] = static_cast<double>(lib.paths.size());
}

void PartFiles(benchmark::State& state)
{
    const Library& lib = GetLibrary();
    std::uint64_t complete = 0;
    for (auto _ : state)
        complete = ReadParts(lib);
    if (complete != lib.paths.size())
        state.SkipWithError("some part files could not be read");
    SetPerFile(state, lib);
}

void Floor(benchmark::State& state)
{
    const Library& lib = GetLibrary();
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadFloor(lib));
    SetPerFile(state, lib);
}

// Both passes in every iteration, alternating which goes first; the ratio
// of their total times is the figure to watch (it should stay below 1.3).
void Ratio(benchmark::State& state)
{
    const Library& lib = GetLibrary();
    ReadFloor(lib);  // the page cache holds every file from here on
    double partSeconds = 0;
    double floorSeconds = 0;
    double statFloorSeconds = 0;
    double withTimeSeconds = 0;
    bool partsFirst = false;
    for (auto _ : state) {
        auto timed = [](auto&& pass) {
            const auto start = std::chrono::steady_clock::now();
            pass();
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        };
        partsFirst = !partsFirst;
        if (partsFirst) {
            partSeconds += timed([&] { ReadParts(lib); });
            floorSeconds += timed([&] { ReadFloor(lib); });
        } else {
            floorSeconds += timed([&] { ReadFloor(lib); });
            partSeconds += timed([&] { ReadParts(lib); });
        }
        statFloorSeconds += timed([&] { ReadFloor(lib, true); });
        withTimeSeconds += timed([&] { ReadParts(lib, true); });
    }
    const double files = static_cast<double>(lib.paths.size() * state.iterations());
    state.counters["part_us_per_file"] = partSeconds / files * 1e6;
    state.counters["floor_us_per_file"] = floorSeconds / files * 1e6;
    state.counters["ratio"] = partSeconds / floorSeconds;
    state.counters["ratio_with_time"] = withTimeSeconds / statFloorSeconds;
}

BENCHMARK(Floor)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(PartFiles)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Ratio)->Unit(benchmark::kMillisecond)->Iterations(6);

}  // namespace

BENCHMARK_MAIN();
