// The file count file of a library.
#include "LibrarySet/FileCount.hpp"

#include "IO/File.hpp"
#include "KRUtils/ScratchFile.hpp"

#include <cstring>

namespace LM {

FileCountRecord::FileCountRecord(const IO::Location& root, const char* fileName)
    : location(root, IO::Name(fileName))
{
    IO::File file(location);
    if (file.GetStatus() != KR::NoError || file.Open(IO::OpenMode::Read) != KR::NoError)
        return;
    std::int32_t tag = 0;
    if (file.Read(tag) != KR::NoError || tag != FileCountTag)
        return;
    std::int32_t stored = -1;
    if (file.Read(stored) != KR::NoError)
        return;
    count = stored;
    valid = true;
}

FileCountRecord::~FileCountRecord()
{
    if (!changed || !valid)
        return;
    try {
        WriteFileCountFile(location, count);
    } catch (...) {
        // The old file stays; the next enumeration counts again.
    }
}

void FileCountRecord::SetCount(std::uint32_t files) noexcept
{
    const auto n = static_cast<std::int32_t>(files);
    if (valid && n != count)
        changed = true;
    count = n;
}

KR::ErrorCode WriteFileCountFile(const IO::Location& location, std::int32_t count)
{
    IOUtil::ScratchFile scratch(location);
    if (KR::ErrorCode err = scratch.GetStatus(); err != KR::NoError)
        return err;
    if (KR::ErrorCode err = scratch.Open(IO::OpenMode::WriteNew); err != KR::NoError)
        return err;
    if (KR::ErrorCode err = scratch.Write(FileCountTag); err != KR::NoError)
        return err;
    if (KR::ErrorCode err = scratch.Write(count); err != KR::NoError)
        return err;
    if (KR::ErrorCode err = scratch.Close(); err != KR::NoError)
        return err;
    return scratch.MakePermanent();
}

}  // namespace LM
