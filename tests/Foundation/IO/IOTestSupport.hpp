// Files with chosen times, patched files and mounted zip files for the tests
// of the input/output library, beside the shared temporary folders and zip
// files.
#pragma once

#include "IO/IO.hpp"
#include "KR/Time.hpp"
#include "Support/TempDir.hpp"
#include "Support/Zip.hpp"

#include <gtest/gtest.h>

#include <string>

namespace IOTest {

using namespace TestSupport;

// Replaces every occurrence of `from` in the file by `to` (same length).
inline void PatchFile(const std::string& path, const std::string& from, const std::string& to)
{
    std::string bytes = ReadFileBytes(path);
    std::size_t count = 0;
    for (std::size_t pos = bytes.find(from); pos != std::string::npos; pos = bytes.find(from, pos + 1), ++count)
        bytes.replace(pos, from.size(), to);
    ASSERT_GT(count, 0u) << "nothing to patch in " << path;
    WriteFileBytes(path, bytes);
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
