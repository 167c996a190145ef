// Synchronising a library of 100,000 files in 1,000 folders with its cache
// copy (warm page cache), measured in one run against:
//
//   Floor          walking both trees and reading each entry's modification
//                  time (fstatat), which any synchronisation has to do;
//   NoChange       SynchronizeCachedSymbols when nothing changed: target at
//                  most 1.2 times Floor;
//   Rsync          `rsync -a --dry-run` of the library onto the copy, when
//                  rsync is installed (skipped otherwise);
//   OnePercent     1% of the files changed on each side (1,000 in the
//                  library, 1,000 in the cache) before each run (outside the
//                  timing): target at most 1.5 times NoChange plus CopyOnly;
//   CopyOnly       replacing 2,000 files of the same sizes by copies with
//                  plain system calls, as durably as a synchronisation
//                  does: written beside, flushed, renamed, folder flushed.
//
// CPU times are the process's (the cache copy is walked on a second thread);
// the files written outside the timing are flushed before it. Measured on
// this 2-core VM when quiet (means of three repetitions, two runs; see
// docs/decisions.md): Floor 513 / 525 ms, NoChange 351 / 434 ms wall (0.68 /
// 0.83) and 634 / 779 ms CPU; Rsync 816 / 926 ms wall (NoChange takes 0.43 /
// 0.47 of it); OnePercent 2,174 ms against NoChange + CopyOnly 351 + 1,275 ms
// (1.34).
#include "Cache/LibraryMap.hpp"
#include "LibraryManagerModule.hpp"
#include "LibrarySet.hpp"
#include "Support/ErrorHandlers.hpp"
#include "Support/TempDir.hpp"

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

constexpr int Folders = 1000;
constexpr int FilesPerFolder = 100;
constexpr std::int64_t Old = 1'600'000'000;

std::string FilePath(int folder, int file)
{
    return "Folder " + std::to_string(folder) + "/Part " + std::to_string(file) + ".lpf";
}

// The library, its synchronised cache copy and a set that holds it.
struct Setup {
    TestSupport::TempDir dir;
    TestSupport::NullErrorHandler handler;
    std::unique_ptr<LM::LibrarySet> set;
    std::int64_t time = Old + 10;
    int round = 0;

    Setup()
    {
        LM::LibraryManagerStrings strings;
        strings.Set(3, "LibraryMaps");
        LM::InitLibraryManager({}, strings, 1, 2, dir.MakeFolder("scripts"));
        for (const char* side : {"libs/Lib/", "lan/Lib/"})
            for (int d = 0; d < Folders; ++d)
                for (int f = 0; f < FilesPerFolder; ++f) {
                    const std::string path = dir / (side + FilePath(d, f));
                    TestSupport::WriteFileBytes(path, std::string(200 + f, 'p'));
                    TestSupport::SetUnixTime(path, Old);
                }
        // The map of the last synchronisation, as a run would have left it.
        LM::LibraryMap stored{IO::Folder(dir.Loc("lan/Lib"))};
        stored.Build();
        stored.WriteMapFile(IO::Name("LibraryMaps"), dir.Loc("lan"), dir.Loc("lan/Lib"));
        set = std::make_unique<LM::LibrarySet>(handler, KR::ConstForwardIterator<FTM::GeneralID>());
        set->SetLanCacheLocation(dir.Loc("lan"));
        set->SetUseLanCache(true);
        set->AddActiveLibrary(dir.Loc("libs/Lib"), LM::NotPermanent, false, false);
        // The 400,000 files written above reach the disk now, not while
        // a timed run flushes its copies.
        ::sync();
    }

    // Changes one file in a hundred on each side, other ones each round.
    void ChangeOnePercent()
    {
        ++round;
        for (int d = 0; d < Folders; ++d) {
            const int f = (d + round * 7) % FilesPerFolder;
            for (const std::string side : {"libs/Lib/", "lan/Lib/"}) {
                const int g = side[1] == 'i' ? f : (f + 50) % FilesPerFolder;
                const std::string path = dir / (side + FilePath(d, g));
                TestSupport::WriteFileBytes(path, std::string(200 + g, static_cast<char>('a' + round % 26)));
                TestSupport::SetUnixTime(path, ++time);
            }
        }
    }
};

Setup& GetSetup()
{
    static Setup setup;
    return setup;
}

// Counts the entries below the open folder `fd`, reading each one's time.
std::int64_t Walk(int fd)
{
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr)
        return 0;
    std::int64_t count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.' && (entry->d_name[1] == '\0' || (entry->d_name[1] == '.' && entry->d_name[2] == '\0')))
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        count += st.st_mtim.tv_sec != 0 ? 1 : 0;
        if (S_ISDIR(st.st_mode)) {
            const int child = ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (child >= 0)
                count += Walk(child);
        }
    }
    ::closedir(dir);
    return count;
}

void BM_Floor(benchmark::State& state)
{
    Setup& setup = GetSetup();
    for (auto _ : state) {
        std::int64_t entries = 0;
        for (const char* side : {"libs/Lib", "lan/Lib"})
            entries += Walk(::open((setup.dir / side).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        benchmark::DoNotOptimize(entries);
    }
}

void BM_NoChange(benchmark::State& state)
{
    Setup& setup = GetSetup();
    for (auto _ : state)
        benchmark::DoNotOptimize(setup.set->SynchronizeCachedSymbols(true, true));
}

void BM_Rsync(benchmark::State& state)
{
    if (std::system("command -v rsync >/dev/null 2>&1") != 0) {
        state.SkipWithError("rsync is not installed");
        return;
    }
    Setup& setup = GetSetup();
    const std::string command =
        "rsync -a --dry-run '" + (setup.dir / "libs/Lib/") + "' '" + (setup.dir / "lan/Lib/") + "' >/dev/null";
    // rsync works in three processes: their CPU time is not the
    // benchmark's own, so it is reported beside the wall time.
    const auto childCpu = [] {
        rusage usage {};
        ::getrusage(RUSAGE_CHILDREN, &usage);
        return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    };
    const double before = childCpu();
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("rsync failed");
            break;
        }
    state.counters["rsync_cpu_ms"] = (childCpu() - before) / static_cast<double>(state.iterations());
}

void BM_OnePercent(benchmark::State& state)
{
    Setup& setup = GetSetup();
    for (auto _ : state) {
        state.PauseTiming();
        setup.ChangeOnePercent();
        // The changed files reach the disk before the timing, as the
        // copies' own flushes would otherwise wait for them.
        ::sync();
        state.ResumeTiming();
        benchmark::DoNotOptimize(setup.set->SynchronizeCachedSymbols(true, true));
    }
}

// The least a copy over a file can do and still leave the old or the new
// file after a crash: read the source, write the new content beside the
// target, flush it, rename it over the target and flush the folder. Plain
// system calls, no library code: the floor of the copying alone.
bool ReplaceByCopy(const std::string& from, const std::string& folder, const std::string& name)
{
    char buffer[64 * 1024];
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    const std::string scratch = folder + "/." + name + ".tmp";
    const int out = ::open(scratch.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    bool ok = in >= 0 && out >= 0;
    for (ssize_t n = 0; ok && (n = ::read(in, buffer, sizeof buffer)) != 0;)
        ok = n > 0 && ::write(out, buffer, static_cast<std::size_t>(n)) == n;
    ok = ok && ::fsync(out) == 0;
    if (in >= 0)
        ::close(in);
    if (out >= 0)
        ::close(out);
    ok = ok && ::rename(scratch.c_str(), (folder + "/" + name).c_str()) == 0;
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok = ok && dir >= 0 && ::fsync(dir) == 0;
    if (dir >= 0)
        ::close(dir);
    return ok;
}

void BM_CopyOnly(benchmark::State& state)
{
    Setup& setup = GetSetup();
    const std::string target = setup.dir / "copies";
    for (int d = 0; d < Folders; ++d)
        for (int k = 0; k < 2; ++k)
            TestSupport::WriteFileBytes(target + "/" + std::to_string(d) + "/" + std::to_string(k), "old");
    ::sync();
    for (auto _ : state) {
        bool ok = true;
        for (int d = 0; d < Folders; ++d)
            for (int k = 0; k < 2; ++k)
                ok = ReplaceByCopy(setup.dir / ("libs/Lib/" + FilePath(d, k * 50)), target + "/" + std::to_string(d),
                                   std::to_string(k)) && ok;
        if (!ok)
            state.SkipWithError("a copy failed");
    }
}

BENCHMARK(BM_Floor)->Unit(benchmark::kMillisecond)->Iterations(5)->MeasureProcessCPUTime();
BENCHMARK(BM_NoChange)->Unit(benchmark::kMillisecond)->Iterations(5)->MeasureProcessCPUTime();
BENCHMARK(BM_Rsync)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OnePercent)->Unit(benchmark::kMillisecond)->Iterations(3)->MeasureProcessCPUTime();
BENCHMARK(BM_CopyOnly)->Unit(benchmark::kMillisecond)->Iterations(3)->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
