#include "IO/RawTreeWalk.hpp"

#include "IO/Errors.hpp"
#include "IO/Internal.hpp"
#include "IO/Platform.hpp"
#include "IO/TreeEnumerator.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

namespace IO {

namespace {

using Internal::FolderId;
using Kind = Internal::EntryKind;

struct Entry {
    std::uint32_t offset = 0;  // of the name in the listing's name buffer
    std::uint32_t length = 0;
    Kind kind = Kind::Other;
};

// One folder's entries: the names one after another, each zero-terminated.
struct Listing {
    std::vector<char> names;
    std::vector<Entry> entries;

    const char* NameOf(const Entry& entry) const noexcept { return names.data() + entry.offset; }
};

// Closes a listed folder when the walk leaves it, also when a callback throws.
class OpenFolder {
public:
    OpenFolder() = default;
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    ~OpenFolder()
    {
        if (dir != nullptr)
            Sys().CloseDir(dir);
    }
    int Fd() const noexcept { return ::dirfd(dir); }

    DIR* dir = nullptr;
};

// Lists the open folder `fd` (taken over) into `listing`, sorted by name in
// byte order; `*id` receives its identity.
KR::ErrorCode List(int fd, Listing& listing, FolderId* id, OpenFolder& open)
{
    listing.names.clear();
    listing.entries.clear();
    struct stat st {};
    if (Sys().FStat(fd, &st) != 0) {
        const int error = errno;
        Sys().Close(fd);
        return Internal::ErrorFromErrno(error);
    }
    *id = FolderId{st.st_dev, st.st_ino};
    open.dir = Sys().FdOpenDir(fd);
    if (open.dir == nullptr) {
        const int error = errno;
        Sys().Close(fd);
        return Internal::ErrorFromErrno(error);
    }
    errno = 0;
    while (const dirent* entry = Sys().ReadDir(open.dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            errno = 0;
            continue;
        }
        const Kind kind = Internal::KindOfEntry(open.Fd(), *entry);
        const std::size_t length = std::strlen(name);
        listing.entries.push_back(Entry{static_cast<std::uint32_t>(listing.names.size()),
                                        static_cast<std::uint32_t>(length), kind});
        listing.names.insert(listing.names.end(), name, name + length + 1);
        errno = 0;
    }
    if (const int error = errno; error != 0)
        return Internal::ErrorFromErrno(error);
    const char* names = listing.names.data();
    std::sort(listing.entries.begin(), listing.entries.end(), [names](const Entry& a, const Entry& b) {
        return std::string_view(names + a.offset, a.length) < std::string_view(names + b.offset, b.length);
    });
    return KR::NoError;
}

}  // namespace

struct RawTreeWalk::Impl {
    std::vector<Listing> levels = std::vector<Listing>(TreeEnumerator::MaxDepth + 1);
    std::vector<FolderId> openFolders;  // from the root to the folder being walked
    int currentFd = -1;
};

RawTreeWalk::RawTreeWalk() : impl_(std::make_unique<Impl>()) {}

RawTreeWalk::~RawTreeWalk() = default;

bool RawTreeWalk::CanWalk(const Location& root) noexcept
{
    return Internal::NothingMounted() && Internal::CheckLocal(root) == KR::NoError;
}

KR::ErrorCode RawTreeWalk::Do(const Location& root)
{
    skipped_ = 0;
    Impl& impl = *impl_;
    impl.openFolders.clear();
    const int fd = Sys().Open(root.GetText().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0)
        return Internal::ErrorFromErrno(errno);
    OpenFolder open;
    FolderId id;
    if (const KR::ErrorCode err = List(fd, impl.levels[0], &id, open); err != KR::NoError)
        return err;
    impl.openFolders.push_back(id);

    // Depth first; each level's listing stays in place while the levels
    // below it are walked.
    struct Walker {
        RawTreeWalk& self;
        Impl& impl;

        void Items(int fd, const Listing& listing, std::uint32_t depth)
        {
            for (const Entry& entry : listing.entries) {
                if (entry.kind == Kind::Other)
                    continue;  // devices, pipes and sockets are no library content
                const char* name = listing.NameOf(entry);
                bool isFolder = entry.kind == Kind::Folder;
                if (entry.kind == Kind::Link) {
                    struct stat st {};
                    isFolder = Sys().FStatAt(fd, name, &st, 0) == 0 && S_ISDIR(st.st_mode);
                }
                if (!self.EntryFound(name, entry.length, isFolder) || entry.kind == Kind::Link)
                    continue;
                if (entry.kind == Kind::File)
                    self.FileFound(name, entry.length);
                else if (self.FolderFound(name, entry.length) && depth + 1 <= TreeEnumerator::MaxDepth)
                    Enter(fd, name, entry.length, depth + 1);
            }
        }

        void Enter(int parentFd, const char* name, std::size_t length, std::uint32_t depth)
        {
            const int fd = Sys().OpenAt(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
            OpenFolder open;
            FolderId id;
            Listing& listing = impl.levels[depth];
            if (fd < 0 || List(fd, listing, &id, open) != KR::NoError) {
                ++self.skipped_;
                return;
            }
            // Met again on the way down (a folder mounted inside itself):
            // entering it would never end.
            if (std::find(impl.openFolders.begin(), impl.openFolders.end(), id) != impl.openFolders.end())
                return;
            impl.openFolders.push_back(id);
            self.FolderEntered(name, length);
            impl.currentFd = open.Fd();
            Items(open.Fd(), listing, depth);
            impl.currentFd = parentFd;
            self.FolderExited();
            impl.openFolders.pop_back();
        }
    } walker{*this, impl};
    impl.currentFd = open.Fd();
    walker.Items(open.Fd(), impl.levels[0], 0);
    impl.currentFd = -1;
    return KR::NoError;
}

KR::ErrorCode RawTreeWalk::GetFileTime(const char* name, std::int32_t* time)
{
    struct stat st {};
    if (Sys().FStatAt(impl_->currentFd, name, &st, 0) != 0)
        return Internal::ErrorFromErrno(errno);
    if (S_ISDIR(st.st_mode))
        return ErrNotAFile;
    *time = Internal::FoundationTime(st.st_mtim.tv_sec);
    return KR::NoError;
}

bool RawTreeWalk::EntryFound(const char*, std::size_t, bool)
{
    return true;
}

void RawTreeWalk::FileFound(const char*, std::size_t) {}

bool RawTreeWalk::FolderFound(const char*, std::size_t)
{
    return true;
}

void RawTreeWalk::FolderEntered(const char*, std::size_t) {}

void RawTreeWalk::FolderExited() {}

}  // namespace IO
