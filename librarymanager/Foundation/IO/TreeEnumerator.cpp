#include "IO/TreeEnumerator.hpp"

#include "IO/File.hpp"
#include "IO/Internal.hpp"
#include "IO/Platform.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

namespace IO {

namespace Internal {

namespace {

struct WalkedFolder {
    const std::string* path = nullptr;
    int fd = -1;
};

thread_local WalkedFolder walkedFolder;

}  // namespace

WalkedFolderScope::WalkedFolderScope(const std::string& path, int fd) noexcept
    : previousPath_(walkedFolder.path), previousFd_(walkedFolder.fd)
{
    walkedFolder = WalkedFolder{&path, fd};
}

WalkedFolderScope::~WalkedFolderScope()
{
    walkedFolder = WalkedFolder{previousPath_, previousFd_};
}

int WalkedFolderOf(const std::string& path, const char** name) noexcept
{
    const WalkedFolder& folder = walkedFolder;
    if (folder.path == nullptr || folder.fd < 0)
        return -1;
    const std::string& parent = *folder.path;
    if (path.size() <= parent.size() + 1 || path.compare(0, parent.size(), parent) != 0)
        return -1;
    std::size_t start = parent.size();
    if (parent.empty() || parent.back() != '/') {
        if (path[start] != '/')
            return -1;
        ++start;
    }
    if (start >= path.size() || path.find('/', start) != std::string::npos)
        return -1;
    *name = path.c_str() + start;
    return folder.fd;
}

EntryKind KindOfMode(mode_t mode) noexcept
{
    if (S_ISDIR(mode))
        return EntryKind::Folder;
    if (S_ISREG(mode))
        return EntryKind::File;
    if (S_ISLNK(mode))
        return EntryKind::Link;
    return EntryKind::Other;
}

EntryKind KindOfEntry(int dirFd, const dirent& entry) noexcept
{
    switch (entry.d_type) {
    case DT_DIR:
        return EntryKind::Folder;
    case DT_REG:
        return EntryKind::File;
    case DT_LNK:
        return EntryKind::Link;
    case DT_UNKNOWN: {
        struct stat st {};
        if (Sys().FStatAt(dirFd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
            return KindOfMode(st.st_mode);
        return EntryKind::Other;
    }
    default:
        return EntryKind::Other;
    }
}

}  // namespace Internal

namespace {

using Internal::ErrorFromErrno;
using Internal::FolderId;
using Internal::KindOfMode;
using Kind = Internal::EntryKind;

struct Item {
    Name name;
    Kind kind;
};

// When a folder's entries last changed, in nanoseconds.
std::int64_t ChangeStamp(const struct stat& st) noexcept
{
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// The entries of the folder at `location` in name order. `*id` receives the
// identity of a real folder; `*real` tells whether it is one.
KR::ErrorCode ListFolder(const Location& location, std::vector<Item>* items, FolderId* id, bool* real,
                         int* keptFd = nullptr, std::int64_t* changed = nullptr)
{
    items->clear();
    if (keptFd != nullptr)
        *keptFd = -1;
    const std::string& path = location.GetText();
    const bool anyMount = !Internal::NothingMounted();
    RelativeLocation inside;
    if (const FixedVFS* vfs = Internal::FindFolderMount(path, &inside)) {
        *real = false;
        std::vector<FixedVFS::FolderEntry> entries;
        const KR::ErrorCode err = vfs->ListFolder(inside, &entries);
        if (err != KR::NoError)
            return err;
        items->reserve(entries.size());
        for (FixedVFS::FolderEntry& entry : entries) {
            if (!entry.name.IsValid())
                continue;
            Kind kind = entry.isFolder ? Kind::Folder : Kind::File;
            if (kind == Kind::File && anyMount && Internal::IsMountPath(Location(location, entry.name).GetText()))
                kind = Kind::Folder;
            items->push_back(Item{std::move(entry.name), kind});
        }
    } else {
        *real = true;
        const int fd = Sys().Open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
        if (fd < 0)
            return ErrorFromErrno(errno);
        struct stat st {};
        if (Sys().FStat(fd, &st) != 0) {
            const int error = errno;
            Sys().Close(fd);
            return ErrorFromErrno(error);
        }
        *id = FolderId{st.st_dev, st.st_ino};
        if (changed != nullptr)
            *changed = ChangeStamp(st);
        DIR* dir = Sys().FdOpenDir(fd);
        if (dir == nullptr) {
            const int error = errno;
            Sys().Close(fd);
            return ErrorFromErrno(error);
        }
        errno = 0;
        while (const dirent* entry = Sys().ReadDir(dir)) {
            Name name(entry->d_name);
            if (!name.IsValid()) {
                errno = 0;
                continue;
            }
            Kind kind = Internal::KindOfEntry(::dirfd(dir), *entry);
            // A mount point is a folder to the walk, whatever is stored there.
            if (kind != Kind::Folder && anyMount && Internal::IsMountPath(Location(location, name).GetText()))
                kind = Kind::Folder;
            items->push_back(Item{std::move(name), kind});
            errno = 0;
        }
        const int error = errno;
        // A folder with files keeps a descriptor of its own for the walk to
        // open them by name (see WalkedFolderScope); a failed dup costs only
        // that shortcut.
        if (error == 0 && keptFd != nullptr &&
            std::any_of(items->begin(), items->end(), [](const Item& item) { return item.kind != Kind::Folder; }))
            *keptFd = Sys().Dup(::dirfd(dir));
        Sys().CloseDir(dir);
        if (error != 0)
            return ErrorFromErrno(error);
    }
    std::sort(items->begin(), items->end(), [](const Item& a, const Item& b) { return a.name.Std() < b.name.Std(); });
    return KR::NoError;
}

}  // namespace

// A listing kept for a later walk: the entries in order, and what the folder
// was when it was listed.
namespace {
struct Listed {
    std::vector<Item> items;
    FolderId id;
    std::int64_t changed = 0;
    bool real = false;
};
}  // namespace

struct TreeEnumerator::Listings::Store {
    std::unordered_map<std::string, Listed> byPath;
};

TreeEnumerator::Listings::Listings() : store(std::make_unique<Store>()) {}

TreeEnumerator::Listings::~Listings() = default;

namespace {

// Uses a kept listing of the folder at `location` as ListFolder would have
// listed it, when the folder is still the one listed: the same real folder
// (then opened again, for the descriptor the walk holds) whose entries have
// not changed since, or the same mount.
// False, with nothing held, otherwise.
bool UseListed(const Location& location, Listed& listed, std::vector<Item>* items, FolderId* id, bool* real,
               int* keptFd)
{
    const std::string& path = location.GetText();
    RelativeLocation inside;
    const bool mounted = Internal::FindFolderMount(path, &inside) != nullptr;
    if (mounted != !listed.real)
        return false;
    int fd = -1;
    if (listed.real) {
        fd = Sys().Open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
        if (fd < 0)
            return false;
        struct stat st {};
        if (Sys().FStat(fd, &st) != 0 || !(FolderId{st.st_dev, st.st_ino} == listed.id) ||
            ChangeStamp(st) != listed.changed) {
            Sys().Close(fd);
            return false;
        }
        if (std::all_of(listed.items.begin(), listed.items.end(),
                        [](const Item& item) { return item.kind == Kind::Folder; })) {
            Sys().Close(fd);
            fd = -1;
        }
    }
    *items = std::move(listed.items);
    *id = listed.id;
    *real = listed.real;
    *keptFd = fd;
    return true;
}

// The entries of the folder at `location`, from `listings` when they hold
// a listing of it that is still right, else read by ListFolder.
KR::ErrorCode ListOnce(TreeEnumerator::Listings* listings, const Location& location, std::vector<Item>* items,
                       FolderId* id, bool* real, int* keptFd, std::int64_t* changed)
{
    if (listings != nullptr) {
        auto& byPath = listings->store->byPath;
        if (auto it = byPath.find(location.GetText()); it != byPath.end()) {
            Listed listed = std::move(it->second);
            byPath.erase(it);
            *changed = listed.changed;
            if (UseListed(location, listed, items, id, real, keptFd))
                return KR::NoError;
        }
    }
    return ListFolder(location, items, id, real, keptFd, changed);
}

// Keeps the listing of a walked folder for a later walk.
void Keep(TreeEnumerator::Listings* listings, const Location& location, std::vector<Item>&& items,
          const FolderId& id, std::int64_t changed, bool real)
{
    if (listings == nullptr)
        return;
    try {
        listings->store->byPath.insert_or_assign(location.GetText(), Listed{std::move(items), id, changed, real});
    } catch (const std::bad_alloc&) {
        // The later walk lists the folder itself.
    }
}

// A descriptor that the walk holds for the folder it is in, announced to
// the file layer while the folder's entries are visited and closed after.
class HeldFolder {
public:
    HeldFolder(const std::string& path, int fd) : fd_(fd), scope_(path, fd) {}
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;
    ~HeldFolder()
    {
        if (fd_ >= 0)
            Sys().Close(fd_);
    }

private:
    int fd_;
    Internal::WalkedFolderScope scope_;
};

}  // namespace

struct TreeEnumerator::Walk {
    TreeEnumerator& self;
    std::vector<FolderId> openFolders;  // real folders from the root to the one being walked

    void WalkItems(Folder& folder, const std::vector<Item>& items, std::uint32_t depth)
    {
        for (const Item& item : items) {
            if (self.stopped_)
                return;
            self.current_ = &folder;
            Kind kind = item.kind;
            if (kind == Kind::Other)
                continue;  // devices, pipes and sockets are no library content
            Kind target = Kind::Other;
            if (kind == Kind::Link) {
                struct stat st {};
                if (Sys().Stat(Location(folder.GetLocation(), item.name).GetText().c_str(), &st) == 0)
                    target = KindOfMode(st.st_mode);
            }

            if (!self.EntryFound(item.name, kind == Kind::Folder || target == Kind::Folder) || self.stopped_)
                continue;
            if (kind == Kind::Link) {
                if (!self.LinkFound(item.name) || self.stopped_)
                    continue;
                kind = target;  // a dangling link or a link to a device is passed over
            }
            if (kind == Kind::File) {
                if (self.FileFound(item.name))
                    self.Stop();
            } else if (kind == Kind::Folder) {
                if (self.FolderFound(item.name) && !self.stopped_ && depth + 1 <= MaxDepth)
                    Enter(folder, item.name, Location(folder.GetLocation(), item.name), depth + 1);
            }
        }
    }

    void ListFiles(int fd, const std::vector<Item>& items)
    {
        std::vector<const Name*> files;
        for (const Item& item : items)
            if (item.kind == Kind::File)
                files.push_back(&item.name);
        self.FilesListed(fd, files);
    }

    void Enter(Folder& parent, const Name& name, const Location& location, std::uint32_t depth)
    {
        std::vector<Item> items;
        FolderId id;
        bool real = false;
        int fd = -1;
        std::int64_t changed = 0;
        if (ListOnce(self.listings_, location, &items, &id, &real, &fd, &changed) != KR::NoError) {
            ++self.skipped_;
            return;
        }
        // A folder already open on the way down is met again through a link:
        // entering it would never end.
        if (real && std::find(openFolders.begin(), openFolders.end(), id) != openFolders.end()) {
            if (fd >= 0)
                Sys().Close(fd);
            return;
        }
        Folder folder(location);
        if (real)
            openFolders.push_back(id);
        self.current_ = &parent;
        self.FolderEntered(name, folder);
        if (!self.stopped_) {
            const HeldFolder held(folder.GetLocation().GetText(), fd);
            const int outerFd = self.heldFd_;
            self.heldFd_ = fd;
            ListFiles(fd, items);
            WalkItems(folder, items, depth);
            self.FilesWalked();
            self.heldFd_ = outerFd;
        }
        self.current_ = &parent;
        if (!self.stopped_)
            self.FolderExited(name, folder);
        if (real)
            openFolders.pop_back();
        Keep(self.listings_, location, std::move(items), id, changed, real);
    }
};

TreeEnumerator::TreeEnumerator(const Folder& root) : root_(root) {}

TreeEnumerator::~TreeEnumerator() = default;

Folder& TreeEnumerator::GetParent() noexcept
{
    return current_ != nullptr ? *current_ : root_;
}

KR::ErrorCode TreeEnumerator::Do()
{
    stopped_ = false;
    skipped_ = 0;
    current_ = nullptr;
    if (root_.GetStatus() != KR::NoError)
        return root_.GetStatus();
    std::vector<Item> items;
    FolderId id;
    bool real = false;
    int fd = -1;
    std::int64_t changed = 0;
    const KR::ErrorCode err = ListOnce(listings_, root_.GetLocation(), &items, &id, &real, &fd, &changed);
    if (err != KR::NoError)
        return err;
    Walk walk{*this, {}};
    if (real)
        walk.openFolders.push_back(id);
    {
        const HeldFolder held(root_.GetLocation().GetText(), fd);
        heldFd_ = fd;
        walk.ListFiles(fd, items);
        walk.WalkItems(root_, items, 0);
        FilesWalked();
        heldFd_ = -1;
    }
    current_ = nullptr;
    Keep(listings_, root_.GetLocation(), std::move(items), id, changed, real);
    return KR::NoError;
}

KR::ErrorCode TreeEnumerator::GetFileTime(const Name& name, std::int32_t* time)
{
    // A real folder holds no mount point among its files (the walk reports
    // those as folders) and lies below none, so its files are on the disk.
    if (heldFd_ < 0)
        return File(GetParent(), name).GetModificationTime(time);
    struct stat st {};
    if (Sys().FStatAt(heldFd_, name.ToCStr(), &st, 0) != 0)
        return ErrorFromErrno(errno);
    if (S_ISDIR(st.st_mode))
        return ErrNotAFile;
    *time = Internal::FoundationTime(st.st_mtim.tv_sec);
    return KR::NoError;
}

bool TreeEnumerator::EntryFound(const Name&, bool)
{
    return true;
}

bool TreeEnumerator::FileFound(const Name&)
{
    return false;
}

bool TreeEnumerator::FolderFound(const Name&)
{
    return true;
}

bool TreeEnumerator::LinkFound(const Name&)
{
    return false;
}

void TreeEnumerator::FolderEntered(const Name&, Folder&) {}

void TreeEnumerator::FolderExited(const Name&, Folder&) {}

void TreeEnumerator::FilesListed(int, const std::vector<const Name*>&) {}

void TreeEnumerator::FilesWalked() {}

}  // namespace IO
