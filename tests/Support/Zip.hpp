// Zip files made with libzip, with chosen entry times.
#pragma once

#include <zip.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace TestSupport {

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

// Writes a zip file of `entries` at `path`, making the folders above it.
inline void MakeZip(const std::string& path, const std::vector<ZipEntry>& entries)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr)
        throw std::runtime_error("zip_open failed: " + std::to_string(error));
    const auto fail = [archive](const std::string& what) {
        const std::string message = what + ": " + zip_strerror(archive);
        zip_discard(archive);
        throw std::runtime_error(message);
    };
    for (const ZipEntry& entry : entries) {
        zip_int64_t index = -1;
        if (!entry.name.empty() && entry.name.back() == '/') {
            index = zip_dir_add(archive, entry.name.c_str(), ZIP_FL_ENC_RAW);
        } else {
            zip_source_t* source = zip_source_buffer(archive, entry.data.data(), entry.data.size(), 0);
            if (source == nullptr)
                fail(entry.name);
            index = zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_RAW);
            if (index < 0)
                zip_source_free(source);
        }
        if (index < 0)
            fail(entry.name);
        const auto i = static_cast<zip_uint64_t>(index);
        if (entry.store)
            zip_set_file_compression(archive, i, ZIP_CM_STORE, 0);
        std::tm utc{};
        const std::time_t t = static_cast<std::time_t>(entry.unixTime);
        ::gmtime_r(&t, &utc);
        const auto dosTime = static_cast<zip_uint16_t>((utc.tm_hour << 11) | (utc.tm_min << 5) | (utc.tm_sec / 2));
        const auto dosDate =
            static_cast<zip_uint16_t>(((utc.tm_year + 1900 - 1980) << 9) | ((utc.tm_mon + 1) << 5) | utc.tm_mday);
        if (zip_file_set_dostime(archive, i, dosTime, dosDate, 0) != 0)
            fail(entry.name);
        if (entry.extendedTime) {
            const auto u = static_cast<std::uint32_t>(entry.unixTime);
            const zip_uint8_t field[5] = {1, static_cast<zip_uint8_t>(u), static_cast<zip_uint8_t>(u >> 8),
                                          static_cast<zip_uint8_t>(u >> 16), static_cast<zip_uint8_t>(u >> 24)};
            if (zip_file_extra_field_set(archive, i, 0x5455, ZIP_EXTRA_FIELD_NEW, field, 5, ZIP_FL_CENTRAL) != 0)
                fail(entry.name);
        }
    }
    if (zip_close(archive) != 0)
        fail("zip_close");
}

}  // namespace TestSupport
