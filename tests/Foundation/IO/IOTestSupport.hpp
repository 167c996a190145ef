// Real temporary folders, files with chosen times and zip files made with
// libzip, for the tests of the input/output library.
#pragma once

#include "IO/IO.hpp"
#include "KR/Time.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zip.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace IOTest {

// A folder made with mkdtemp under /tmp and removed with its content.
class TempDir {
public:
    explicit TempDir(const std::string& base = "/tmp")
    {
        std::string pattern = base + "/lm-io-test-XXXXXX";
        const char* made = ::mkdtemp(pattern.data());
        EXPECT_NE(made, nullptr) << base;
        path_ = made != nullptr ? made : base + "/lm-io-test-failed";
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
};

inline void WriteText(const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

inline void SetUnixTime(const std::string& path, std::int64_t unixTime)
{
    timespec times[2] = {};
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(unixTime);
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

inline std::int64_t UnixTimeOf(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mtim.tv_sec;
}

// Unix time of a UTC calendar date.
inline std::int64_t UtcTime(int year, int month, int day, int hour, int minute, int second)
{
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    return ::timegm(&fields);
}

struct ZipEntry {
    std::string name;  // a name ending with '/' makes a folder entry
    std::string data;
    std::int64_t unixTime = UtcTime(2020, 6, 15, 12, 34, 56);  // stored as DOS fields in UTC (even seconds)
    bool extendedTime = false;  // also store the time as an extended timestamp field
    bool store = false;         // stored uncompressed instead of deflated
};

inline void MakeZip(const std::string& path, const std::vector<ZipEntry>& entries)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr) << error;
    for (const ZipEntry& entry : entries) {
        zip_int64_t index = -1;
        if (!entry.name.empty() && entry.name.back() == '/') {
            index = zip_dir_add(archive, entry.name.c_str(), ZIP_FL_ENC_RAW);
        } else {
            zip_source_t* source = zip_source_buffer(archive, entry.data.data(), entry.data.size(), 0);
            ASSERT_NE(source, nullptr);
            index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_RAW);
            if (index < 0)
                zip_source_free(source);
        }
        ASSERT_GE(index, 0) << entry.name << ": " << zip_strerror(archive);
        const auto i = static_cast<zip_uint64_t>(index);
        if (entry.store)
            zip_set_file_compression(archive, i, ZIP_CM_STORE, 0);
        std::tm utc{};
        const std::time_t t = static_cast<std::time_t>(entry.unixTime);
        ::gmtime_r(&t, &utc);
        const auto dosTime = static_cast<zip_uint16_t>((utc.tm_hour << 11) | (utc.tm_min << 5) | (utc.tm_sec / 2));
        const auto dosDate =
            static_cast<zip_uint16_t>(((utc.tm_year + 1900 - 1980) << 9) | ((utc.tm_mon + 1) << 5) | utc.tm_mday);
        ASSERT_EQ(zip_file_set_dostime(archive, i, dosTime, dosDate, 0), 0);
        if (entry.extendedTime) {
            const auto u = static_cast<std::uint32_t>(entry.unixTime);
            const zip_uint8_t field[5] = {1, static_cast<zip_uint8_t>(u), static_cast<zip_uint8_t>(u >> 8),
                                          static_cast<zip_uint8_t>(u >> 16), static_cast<zip_uint8_t>(u >> 24)};
            ASSERT_EQ(zip_file_extra_field_set(archive, i, 0x5455, ZIP_EXTRA_FIELD_NEW, field, 5, ZIP_FL_CENTRAL), 0);
        }
    }
    ASSERT_EQ(zip_close(archive), 0);
}

// Replaces every occurrence of `from` in the file by `to` (same length).
inline void PatchFile(const std::string& path, const std::string& from, const std::string& to)
{
    std::string bytes = ReadText(path);
    std::size_t count = 0;
    for (std::size_t pos = bytes.find(from); pos != std::string::npos; pos = bytes.find(from, pos + 1), ++count)
        bytes.replace(pos, from.size(), to);
    ASSERT_GT(count, 0u) << "nothing to patch in " << path;
    WriteText(path, bytes);
}

inline std::int32_t FoundationTime(std::int64_t unixTime)
{
    return KR::DateTimeManager::FromUnixTime(unixTime);
}

// Mounts a zip file for the life of the object.
class MountedZip {
public:
    MountedZip(const std::string& zipPath, const std::string& mountPoint)
    {
        KR::ErrorCode err = 0;
        vfs_ = IO::ZipVFS::Open(IO::Location(zipPath), &err);
        EXPECT_EQ(err, 0);
        if (vfs_) {
            EXPECT_EQ(IO::fileSystem.Mount(*vfs_, IO::Location(mountPoint)), 0);
        }
    }
    MountedZip(const MountedZip&) = delete;
    MountedZip& operator=(const MountedZip&) = delete;
    ~MountedZip()
    {
        if (vfs_)
            IO::fileSystem.Unmount(*vfs_);
    }
    IO::ZipVFS* Get() const { return vfs_.get(); }

private:
    std::unique_ptr<IO::ZipVFS> vfs_;
};

}  // namespace IOTest
