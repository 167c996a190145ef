#include "FuzzTarget.hpp"

#include "Support/TempDir.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace LmFuzz {

namespace {

// The scratch folder, removed with its content when static objects are
// destroyed.
const TestSupport::TempDir& TheScratch()
{
    static const TestSupport::TempDir scratch;
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
    return TheScratch().Path();
}

void ClearScratchFolder()
{
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(ScratchFolder(), ignored))
        std::filesystem::remove_all(entry.path(), ignored);
}

}  // namespace LmFuzz
