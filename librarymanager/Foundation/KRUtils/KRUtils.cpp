#include "KRUtils/KRUtils.hpp"

#include "IO/Errors.hpp"

#include <unordered_map>

namespace {

struct MountTable {
    std::unordered_map<IO::Location, IO::Location> sources;  // mount point -> source
};

MountTable& Table()
{
    static MountTable* table = new MountTable;  // usable during static destruction too
    return *table;
}

bool IsUsable(const IO::Location& location) noexcept
{
    return !location.IsEmpty() && location.GetStatus() == KR::NoError;
}

}  // namespace

KR::ErrorCode AddResourceFileSystemMountPoint(const IO::Location& mountPoint, const IO::Location& source)
{
    if (!IsUsable(mountPoint) || !IsUsable(source))
        return IO::ErrBadLocation;
    MountTable& table = Table();
    if (!table.sources.emplace(mountPoint, source).second)
        return IO::ErrAlreadyMounted;
    return KR::NoError;
}

KR::ErrorCode RemoveResourceFileSystemMountPoint(const IO::Location& mountPoint)
{
    MountTable& table = Table();
    return table.sources.erase(mountPoint) != 0 ? KR::NoError : IO::ErrNotMounted;
}

bool IsResourceFileSystemMountPoint(const IO::Location& location)
{
    MountTable& table = Table();
    return table.sources.count(location) != 0;
}

IO::Location GetResourceFileSystemLocationFromMountPoint(const IO::Location& mountPoint)
{
    MountTable& table = Table();
    auto it = table.sources.find(mountPoint);
    return it != table.sources.end() ? it->second : IO::Location();
}
