// The replay driver: runs a fuzz target without libFuzzer, on its seeds and
// on a fixed series of deterministic mutations of them, so that the normal
// test runs (with any compiler, with or without sanitizers) exercise every
// target the same way each time.
//
//   replay_<target> [--runs N]              seeds, then N mutated inputs
//   replay_<target> --write-seeds DIR       writes the seeds as files (a libFuzzer corpus)
//   replay_<target> --dump K FILE           writes input K of the series to FILE
//   replay_<target> FILE|DIR ...            runs the given inputs once each
//
// Input K of the series is seed K for K < number of seeds, then mutation
// K - seeds; when an input crashes, its number is printed, and --dump gives
// the bytes to hand to the libFuzzer binary or to a debugger.
#include "FuzzTarget.hpp"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// splitmix64: small, fast and the same on every platform and compiler.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() noexcept
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. n - 1; 0 for n = 0.
    std::size_t Below(std::size_t n) noexcept { return n == 0 ? 0 : static_cast<std::size_t>(Next() % n); }

private:
    std::uint64_t state_;
};

// Values at the edges of what a length or count field can hold.
constexpr std::uint64_t Boundaries[] = {0,          1,          2,          0x7F,       0x80,
                                        0xFF,       0x100,      0x7FFF,     0x8000,     0xFFFF,
                                        0x10000,    0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF,
                                        0xFFFFFFFFFFFFFFFFull};

void PutValue(std::string& s, std::size_t at, std::uint64_t value, std::size_t width, bool bigEndian)
{
    for (std::size_t i = 0; i < width && at + i < s.size(); ++i) {
        const std::size_t shift = 8 * (bigEndian ? width - 1 - i : i);
        s[at + i] = static_cast<char>(value >> shift);
    }
}

// One change of `s`, chosen by `random`.
void MutateOnce(std::string& s, Random& random)
{
    const std::size_t size = s.size();
    switch (random.Below(size == 0 ? 1 : 9)) {
    case 0:  // insert bytes (the only change an empty input allows)
    {
        const std::size_t n = 1 + random.Below(8);
        std::string bytes(n, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random.Next());
        s.insert(random.Below(size + 1), bytes);
        break;
    }
    case 1:  // flip one bit
        s[random.Below(size)] ^= static_cast<char>(1u << random.Below(8));
        break;
    case 2:  // a random byte
        s[random.Below(size)] = static_cast<char>(random.Next());
        break;
    case 3:  // a boundary value over 1, 2, 4 or 8 bytes, often at a word boundary
    case 4: {
        const std::size_t width = std::size_t{1} << random.Below(4);
        std::size_t at = random.Below(size);
        if (random.Below(2) == 0)
            at &= ~std::size_t{3};
        std::uint64_t value = Boundaries[random.Below(std::size(Boundaries))];
        if (random.Below(4) == 0)  // a value near the input's own size
            value = size / (1 + random.Below(64)) + random.Below(3) - 1;
        PutValue(s, at, value, width, random.Below(2) == 0);
        break;
    }
    case 5:  // cut the end
        s.resize(random.Below(size));
        break;
    case 6:  // remove a range
    {
        const std::size_t at = random.Below(size);
        s.erase(at, 1 + random.Below(std::min<std::size_t>(size - at, 64)));
        break;
    }
    case 7:  // copy a range over another place
    {
        const std::size_t from = random.Below(size), to = random.Below(size);
        const std::size_t n = 1 + random.Below(std::min<std::size_t>({size - from, size - to, 64}));
        s.replace(to, n, s.substr(from, n));
        break;
    }
    default:  // repeat a range
    {
        const std::size_t from = random.Below(size);
        const std::size_t n = 1 + random.Below(std::min<std::size_t>(size - from, 64));
        s.insert(random.Below(size + 1), s.substr(from, n));
        break;
    }
    }
}

// Input `index` of the series: a seed, or one to four changes of a seed.
std::string InputOf(const std::vector<std::string>& seeds, std::size_t index)
{
    if (index < seeds.size() || seeds.empty())
        return index < seeds.size() ? seeds[index] : std::string();
    Random random(0x4C4D46555A5Aull ^ (index * 0x100000001B3ull));
    std::string s = seeds[(index - seeds.size()) % seeds.size()];
    const std::size_t changes = 1 + random.Below(4);
    for (std::size_t i = 0; i < changes; ++i)
        MutateOnce(s, random);
    return s;
}

// The input running now, reported when the process dies.
volatile std::sig_atomic_t currentInput = -1;

void ReportAndDie(int signal)
{
    char text[96];
    const int n = std::snprintf(text, sizeof text, "replay: input %ld of the series failed (signal %d)\n",
                                static_cast<long>(currentInput), signal);
    if (n > 0)
        (void)!::write(2, text, static_cast<std::size_t>(n));
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void Run(const std::string& input)
{
    (void)LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

bool ReadWhole(const std::filesystem::path& path, std::string* bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

int Usage(const char* program)
{
    std::fprintf(stderr,
                 "usage: %s [--runs N] | --write-seeds DIR | --dump K FILE | FILE|DIR ...\n", program);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::signal(SIGABRT, ReportAndDie);
    std::signal(SIGSEGV, ReportAndDie);
    std::signal(SIGFPE, ReportAndDie);
    std::signal(SIGILL, ReportAndDie);
    std::signal(SIGBUS, ReportAndDie);

    const std::vector<std::string> seeds = LmFuzz::Seeds();
    std::size_t runs = 2000;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::strtoul(argv[++i], nullptr, 10);
        } else if (arg == "--write-seeds" && i + 1 < argc) {
            const std::filesystem::path folder = argv[++i];
            std::filesystem::create_directories(folder);
            for (std::size_t k = 0; k < seeds.size(); ++k) {
                std::ofstream out(folder / ("seed-" + std::to_string(k)), std::ios::binary | std::ios::trunc);
                out.write(seeds[k].data(), static_cast<std::streamsize>(seeds[k].size()));
            }
            std::printf("wrote %zu seeds to %s\n", seeds.size(), folder.c_str());
            return 0;
        } else if (arg == "--dump" && i + 2 < argc) {
            const std::string input = InputOf(seeds, std::strtoul(argv[i + 1], nullptr, 10));
            std::ofstream out(argv[i + 2], std::ios::binary | std::ios::trunc);
            out.write(input.data(), static_cast<std::streamsize>(input.size()));
            return out ? 0 : 1;
        } else if (arg.starts_with("-")) {
            return Usage(argv[0]);
        } else {
            paths.push_back(arg);
        }
    }

    if (!paths.empty()) {
        std::size_t count = 0;
        for (const std::string& p : paths) {
            std::vector<std::filesystem::path> files;
            if (std::filesystem::is_directory(p)) {
                for (const auto& entry : std::filesystem::directory_iterator(p))
                    if (entry.is_regular_file())
                        files.push_back(entry.path());
                std::sort(files.begin(), files.end());
            } else {
                files.emplace_back(p);
            }
            for (const auto& file : files) {
                std::string bytes;
                if (!ReadWhole(file, &bytes)) {
                    std::fprintf(stderr, "cannot read %s\n", file.c_str());
                    return 1;
                }
                currentInput = static_cast<std::sig_atomic_t>(count++);
                Run(bytes);
            }
        }
        std::printf("replayed %zu inputs\n", count);
        return 0;
    }

    const std::size_t total = seeds.size() + (seeds.empty() ? 0 : runs);
    for (std::size_t k = 0; k < total; ++k) {
        currentInput = static_cast<std::sig_atomic_t>(k);
        Run(InputOf(seeds, k));
    }
    std::printf("replayed %zu seeds and %zu mutations\n", seeds.size(), total - seeds.size());
    return 0;
}
