// A read-only file system holding at most one file at its root.
#pragma once

#include "IO/Errors.hpp"
#include "IO/FixedVFS.hpp"

#include <string>
#include <vector>

namespace TestSupport {

// With an empty name the file system is one empty folder.
class OneFileVFS : public IO::FixedVFS {
public:
    OneFileVFS(std::string fileName = "", std::string fileContent = "")
        : name(std::move(fileName)), content(std::move(fileContent))
    {
    }
    KR::ErrorCode GetInfo(const IO::RelativeLocation& path, EntryInfo* info) const override
    {
        if (!path.IsEmpty() && (name.empty() || path.ToString() != name))
            return IO::ErrNotFound;
        *info = EntryInfo{path.IsEmpty(), 0, path.IsEmpty() ? 0 : content.size()};
        return KR::NoError;
    }
    KR::ErrorCode ListFolder(const IO::RelativeLocation&, std::vector<FolderEntry>* entries) const override
    {
        entries->clear();
        if (!name.empty())
            entries->push_back(FolderEntry{IO::Name(name), false});
        return KR::NoError;
    }
    KR::ErrorCode ReadFile(const IO::RelativeLocation& path, std::string* out, std::uint64_t) const override
    {
        if (name.empty() || path.ToString() != name)
            return IO::ErrNotFound;
        *out = content;
        return KR::NoError;
    }

    std::string name, content;
};

}  // namespace TestSupport
