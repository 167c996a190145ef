#include "IO/Folder.hpp"

#include "IO/FileSystem.hpp"
#include "IO/Internal.hpp"
#include "IO/Platform.hpp"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace IO {

namespace {

using Internal::ErrorFromErrno;

// Creates the folder `path` and every missing folder above it.
KR::ErrorCode CreateFolderPath(const std::string& path)
{
    if (Sys().MkDir(path.c_str(), 0777) == 0)
        return KR::NoError;
    if (errno == ENOENT) {
        const std::size_t slash = path.rfind('/');
        const std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
        const KR::ErrorCode err = CreateFolderPath(parent);
        if (err != KR::NoError)
            return err;
        if (Sys().MkDir(path.c_str(), 0777) == 0)
            return KR::NoError;
    }
    if (errno != EEXIST)
        return ErrorFromErrno(errno);
    // Made by someone else meanwhile, or a file of that name.
    struct stat st {};
    if (Sys().Stat(path.c_str(), &st) != 0)
        return ErrorFromErrno(errno);
    return S_ISDIR(st.st_mode) ? KR::NoError : ErrNotAFolder;
}

}  // namespace

Folder::Folder(const Location& location, OnNotFound onNotFound) : location_(location)
{
    status_ = Internal::CheckLocal(location_);
    if (status_ != KR::NoError)
        return;
    const std::string& path = location_.GetText();
    RelativeLocation inside;
    if (const FixedVFS* vfs = Internal::FindFolderMount(path, &inside)) {
        FixedVFS::EntryInfo info;
        status_ = vfs->GetInfo(inside, &info);
        if (status_ == KR::NoError && !info.isFolder)
            status_ = ErrNotAFolder;
        else if (status_ == ErrNotFound && onNotFound == OnNotFound::Create)
            status_ = ErrReadOnly;
        return;
    }
    struct stat st {};
    if (Sys().Stat(path.c_str(), &st) == 0) {
        status_ = S_ISDIR(st.st_mode) ? KR::NoError : ErrNotAFolder;
        return;
    }
    status_ = ErrorFromErrno(errno);
    if (status_ == ErrNotFound && onNotFound == OnNotFound::Create) {
        // A missing folder above a mount point would have to be made inside
        // the mounted file system.
        if (Internal::FindEntryMount(path, nullptr) != nullptr)
            status_ = ErrReadOnly;
        else
            status_ = CreateFolderPath(path);
    }
}

bool Folder::IsWriteable() const
{
    if (status_ != KR::NoError || Internal::FindFolderMount(location_.GetText(), nullptr) != nullptr)
        return false;
    return Sys().Access(location_.GetText().c_str(), W_OK) == 0;
}

KR::ErrorCode Folder::CreateFolder(const Name& name, FolderEntry* entry)
{
    if (status_ != KR::NoError)
        return status_;
    if (!name.IsValid())
        return ErrBadName;
    const Location child(location_, name);
    const auto fill = [&] {
        if (entry != nullptr) {
            entry->location = child;
            entry->name = name;
            entry->isFolder = true;
        }
    };
    if (Internal::FindFolderMount(child.GetText(), nullptr) != nullptr) {
        bool isFolder = false;
        if (fileSystem.Exists(child, &isFolder)) {
            if (!isFolder)
                return ErrNotAFolder;
            fill();
            return ErrAlreadyExists;
        }
        return ErrReadOnly;
    }
    if (Sys().MkDir(child.GetText().c_str(), 0777) == 0) {
        fill();
        return KR::NoError;
    }
    if (errno != EEXIST)
        return ErrorFromErrno(errno);
    struct stat st {};
    if (Sys().Stat(child.GetText().c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return ErrNotAFolder;
    fill();
    return ErrAlreadyExists;
}

KR::ErrorCode Folder::Copy(const Name& name, Folder& target, const Name& targetName)
{
    if (status_ != KR::NoError)
        return status_;
    if (target.GetStatus() != KR::NoError)
        return target.GetStatus();
    if (!name.IsValid() || !targetName.IsValid())
        return ErrBadName;
    return fileSystem.Copy(Location(location_, name), Location(target.GetLocation(), targetName));
}

KR::ErrorCode Folder::Delete(const Name& name, DataSafety safety)
{
    if (status_ != KR::NoError)
        return status_;
    if (!name.IsValid())
        return ErrBadName;
    return fileSystem.Delete(Location(location_, name), safety);
}

bool Folder::Contains(const Name& name, bool* isFolder) const
{
    if (isFolder != nullptr)
        *isFolder = false;
    if (status_ != KR::NoError || !name.IsValid())
        return false;
    return fileSystem.Exists(Location(location_, name), isFolder);
}

KR::ErrorCode Folder::List(std::vector<FolderEntry>* entries) const
{
    if (entries == nullptr)
        return KR::ErrIllegalArgument;
    entries->clear();
    if (status_ != KR::NoError)
        return status_;
    const std::string& path = location_.GetText();
    RelativeLocation inside;
    if (const FixedVFS* vfs = Internal::FindFolderMount(path, &inside)) {
        std::vector<FixedVFS::FolderEntry> listed;
        const KR::ErrorCode err = vfs->ListFolder(inside, &listed);
        if (err != KR::NoError)
            return err;
        entries->reserve(listed.size());
        for (const FixedVFS::FolderEntry& item : listed) {
            if (!item.name.IsValid())
                continue;
            Location child(location_, item.name);
            const bool isFolder = item.isFolder || Internal::IsMountPath(child.GetText());
            entries->push_back(FolderEntry{std::move(child), item.name, isFolder});
        }
    } else {
        DIR* dir = Sys().OpenDir(path.c_str());
        if (dir == nullptr)
            return ErrorFromErrno(errno);
        const bool anyMount = !Internal::NothingMounted();
        errno = 0;
        while (const dirent* item = Sys().ReadDir(dir)) {
            const Name name(item->d_name);
            if (!name.IsValid()) {
                errno = 0;
                continue;
            }
            Location child(location_, name);
            bool isFolder = item->d_type == DT_DIR;
            if (item->d_type == DT_LNK || item->d_type == DT_UNKNOWN) {
                struct stat st {};
                isFolder = Sys().Stat(child.GetText().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
            }
            if (!isFolder && anyMount)
                isFolder = Internal::IsMountPath(child.GetText());
            entries->push_back(FolderEntry{std::move(child), name, isFolder});
            errno = 0;
        }
        const int error = errno;
        Sys().CloseDir(dir);
        if (error != 0) {
            entries->clear();
            return ErrorFromErrno(error);
        }
    }
    std::sort(entries->begin(), entries->end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name.Std() < b.name.Std(); });
    return KR::NoError;
}

}  // namespace IO
