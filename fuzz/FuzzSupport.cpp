#include "FuzzTarget.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace LmFuzz {

namespace {

// Owns the scratch folder; removes it when static objects are destroyed.
struct Scratch {
    std::string path;
    Scratch()
    {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/lm-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("lm-fuzz: mkdtemp");
            std::abort();
        }
        path = pattern;
    }
    ~Scratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
};

Scratch& TheScratch()
{
    static Scratch scratch;
    return scratch;
}

}  // namespace

void Expect(bool condition, const char* what)
{
    if (condition)
        return;
    std::fprintf(stderr, "lm-fuzz: expectation failed: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

const std::string& ScratchFolder()
{
    return TheScratch().path;
}

void ClearScratchFolder()
{
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(ScratchFolder(), ignored))
        std::filesystem::remove_all(entry.path(), ignored);
}

void WriteFile(const std::string& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("lm-fuzz: cannot write " + path);
}

}  // namespace LmFuzz
