// Writing and loading the compiled script code cache file of a large
// library: 50,000 items with codes of 1 to 8 KiB and ancestry sections of
// one to three ancestors (about 230 MB).
//
//   Write  destroys a container whose codes are all in memory, which writes
//          the file (scratch file, flushed, renamed over the old file, folder
//          flushed); in the same iteration the same number of bytes is
//          written to another file with one sequential write, flushed and
//          closed. `ratio` is the quotient of the two times (aim: at most
//          1.5).
//   Load   makes a container on that file: only the item table is read.
//          `ratio_to_table` compares it with reading the table's bytes with
//          one read; `ratio_to_file` with reading the whole file, which a
//          loader that read the codes would have to do at least.
// SCRIPT_CODE_BENCH_ITEMS overrides the number of items (for a quick run).
#include "KR/Memory.hpp"
#include "LibraryManagerModule.hpp"
#include "LibrarySet.hpp"
#include "PartTable/PscBinCodesContainer.hpp"
#include "Support/ErrorHandlers.hpp"
#include "Support/TempDir.hpp"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::int32_t ItemCount()
{
    if (const char* text = std::getenv("SCRIPT_CODE_BENCH_ITEMS"))
        return std::max(1, std::atoi(text));
    return 50000;
}

double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

struct Item {
    KR::UnID id{};
    IO::Location location;
    std::int16_t scriptType = 1;
    char** code = nullptr;
    char** ancestry = nullptr;
};

// The module, a set to stand as the sender of the additions, and the items.
class Fixture {
public:
    Fixture() : dir_(), cache_(dir_.MakeFolder("cache"))
    {
        LM::LibraryManagerStrings strings;
        strings.Set(6, "ScriptCodes");
        LM::InitLibraryManager({}, strings, 0, 0, dir_.Loc("unused"));
        set_ = std::make_unique<LM::LibrarySet>(handler_, KR::ConstForwardIterator<FTM::GeneralID>());
        std::mt19937 random(7);
        std::uniform_int_distribution<std::size_t> codeSize(1024, 8192);
        std::uniform_int_distribution<std::uint32_t> ancestors(1, 3);
        for (std::int32_t k = 0; k < ItemCount(); ++k) {
            Item item;
            item.id.mainGuid.data1 = static_cast<std::uint32_t>(k / 2 + 1);
            item.id.revGuid.data1 = 1;
            item.location = IO::Location("/libraries/main/part " + std::to_string(k / 2) + ".gsm");
            item.scriptType = static_cast<std::int16_t>(1 + k % 2);
            const std::size_t size = codeSize(random);
            item.code = KR::bmManager.NewHandle(size);
            for (std::size_t i = 0; i < size; ++i)
                (*item.code)[i] = static_cast<char>(random());
            const std::uint32_t count = ancestors(random);
            item.ancestry = KR::bmManager.NewHandle(32 * (count + 1), true);
            std::memcpy(*item.ancestry + 4, &count, 4);
            for (std::uint32_t a = 1; a <= count; ++a)
                (*item.ancestry)[32 * a] = static_cast<char>(a);
            items_.push_back(item);
        }
    }
    ~Fixture()
    {
        set_.reset();
        for (Item& item : items_) {
            KR::bmManager.KillHandle(item.code);
            KR::bmManager.KillHandle(item.ancestry);
        }
    }

    // A container on the cache folder holding every item in memory.
    std::unique_ptr<LM::PscBinCodesContainer> Filled()
    {
        std::filesystem::remove(File());
        auto container = std::make_unique<LM::PscBinCodesContainer>(cache_);
        for (const Item& item : items_)
            container->Add(item.id, item.location, item.scriptType, item.code, item.ancestry, *set_);
        return container;
    }

    std::string File() const { return dir_ / "cache/ScriptCodes.dat"; }
    std::string Reference() const { return dir_ / "reference.dat"; }
    const IO::Location& Cache() const { return cache_; }

private:
    TestSupport::TempDir dir_;
    IO::Location cache_;
    TestSupport::NullErrorHandler handler_;
    std::unique_ptr<LM::LibrarySet> set_;
    std::vector<Item> items_;
};

Fixture& GetFixture()
{
    static Fixture fixture;
    return fixture;
}

// One sequential write of `bytes` to a new file at `path`, flushed and closed.
void PlainWrite(const std::string& path, const std::string& bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) || ::fsync(fd) != 0)
        std::abort();
    ::close(fd);
}

std::string ReadBytes(const std::string& path, std::size_t size)
{
    std::string bytes(size, '\0');
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0 || ::read(fd, bytes.data(), size) != static_cast<ssize_t>(size))
        std::abort();
    ::close(fd);
    return bytes;
}

void BM_Write(benchmark::State& state)
{
    Fixture& fixture = GetFixture();
    double ours = 0;
    double plain = 0;
    for (auto _ : state) {
        auto container = fixture.Filled();
        const Clock::time_point start = Clock::now();
        container.reset();
        const Clock::duration written = Clock::now() - start;
        const std::size_t size = std::filesystem::file_size(fixture.File());
        const std::string bytes(size, 'x');
        const Clock::time_point plainStart = Clock::now();
        PlainWrite(fixture.Reference(), bytes);
        const Clock::duration plainWritten = Clock::now() - plainStart;
        state.SetIterationTime(Seconds(written));
        ours += Seconds(written);
        plain += Seconds(plainWritten);
        state.counters["MB"] = static_cast<double>(size) / 1e6;
    }
    state.counters["plain_ms"] = plain * 1e3 / static_cast<double>(state.iterations());
    state.counters["ratio"] = ours / plain;
}
BENCHMARK(BM_Write)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Load(benchmark::State& state)
{
    Fixture& fixture = GetFixture();
    fixture.Filled().reset();  // the file to load
    const std::size_t fileSize = std::filesystem::file_size(fixture.File());
    std::size_t tableEnd = fileSize;
    {
        LM::PscBinCodesContainer container(fixture.Cache());
        if (container.GetCount() != ItemCount()) {
            state.SkipWithError("the file did not load");
            return;
        }
        tableEnd = container.GetItem(1).codeOffset;
        // Destroying it writes the file again, which is what we load below.
    }
    double load = 0;
    double table = 0;
    double whole = 0;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        std::size_t count = 0;
        {
            LM::PscBinCodesContainer container(fixture.Cache());
            count = static_cast<std::size_t>(container.GetCount());
            load += Seconds(Clock::now() - start);
            state.PauseTiming();  // the destructor writes the file: not part of loading
        }
        state.ResumeTiming();
        benchmark::DoNotOptimize(count);
        start = Clock::now();
        benchmark::DoNotOptimize(ReadBytes(fixture.File(), tableEnd));
        table += Seconds(Clock::now() - start);
        start = Clock::now();
        benchmark::DoNotOptimize(ReadBytes(fixture.File(), fileSize));
        whole += Seconds(Clock::now() - start);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["load_ms"] = load * 1e3 / n;
    state.counters["table_MB"] = static_cast<double>(tableEnd) / 1e6;
    state.counters["ratio_to_table"] = load / table;
    state.counters["ratio_to_file"] = load / whole;
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
