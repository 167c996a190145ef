// A real temporary folder for a test, and whole-file reads and writes.
#pragma once

#include "IO/Location.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace TestSupport {

// Writes `bytes` as the whole content of the file at `path`, making the
// folders above it as needed.
inline void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

// The whole content of the file at `path`; empty when it cannot be read.
inline std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// `size` bytes of a pattern that differs with `seed`.
inline std::string Pattern(std::size_t size, unsigned seed)
{
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>((i * 131 + seed * 7) & 0xFF);
    return out;
}

// Sets the modification (and access) time of the entry at `path` itself,
// not of what a link at `path` points to.
inline void SetUnixTime(const std::string& path, std::int64_t unixTime)
{
    timespec times[2] = {};
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(unixTime);
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("cannot set the time of " + path);
}

// The modification time of the entry at `path` itself; -1 when there is none.
inline std::int64_t UnixTimeOf(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mtim.tv_sec : -1;
}

// The names of the entries of `folder`, sorted.
inline std::vector<std::string> NamesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A folder made with mkdtemp below `base` and removed with everything in it.
class TempDir {
public:
    explicit TempDir(const std::string& base = std::filesystem::temp_directory_path().string())
    {
        std::string pattern = base + "/lm-test-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed below " + base);
        path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const noexcept { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }
    IO::Location Loc(const std::string& relative = "") const
    {
        return IO::Location(relative.empty() ? path_ : *this / relative);
    }
    IO::Location MakeFolder(const std::string& relative) const
    {
        std::filesystem::create_directories(*this / relative);
        return Loc(relative);
    }
    IO::Location WriteFile(const std::string& relative, const std::string& content) const
    {
        WriteFileBytes(*this / relative, content);
        return Loc(relative);
    }

private:
    std::string path_;
};

}  // namespace TestSupport
