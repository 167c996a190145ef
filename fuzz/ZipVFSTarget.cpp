// The zip file system. The input is taken as a zip archive twice: from a
// file on disk, and from memory (as a file inside a mounted file system,
// which the archive is then read through). Each opened archive is walked:
// every folder listed, every entry's info asked for, every file read. Both
// ways of opening must see the same archive.
#include "FuzzTarget.hpp"

#include "IO/File.hpp"
#include "IO/FileSystem.hpp"
#include "IO/FixedVFS.hpp"
#include "IO/Folder.hpp"
#include "IO/TreeEnumerator.hpp"
#include "IO/ZipVFS.hpp"
#include "Support/TempDir.hpp"

#include <zip.h>

#include <fstream>
#include <iterator>

namespace {

// Largest file content read; larger files are refused with ErrTooLarge.
constexpr std::uint64_t MaxRead = 1u << 20;
// Walks stop after this many entries, so that a directory of many tiny
// entries does not make one input slow.
constexpr std::size_t MaxEntries = 512;

// A file system with one file, "in.zip", holding the input.
class OneFileVFS : public IO::FixedVFS {
public:
    explicit OneFileVFS(std::string_view content) : content_(content) {}

    KR::ErrorCode GetInfo(const IO::RelativeLocation& path, EntryInfo* info) const override
    {
        if (path.IsEmpty()) {
            *info = EntryInfo{true, 0, 0};
            return KR::NoError;
        }
        if (!IsTheFile(path))
            return IO::ErrNotFound;
        *info = EntryInfo{false, 0, content_.size()};
        return KR::NoError;
    }
    KR::ErrorCode ListFolder(const IO::RelativeLocation& path, std::vector<FolderEntry>* entries) const override
    {
        if (!path.IsEmpty())
            return IsTheFile(path) ? IO::ErrNotAFolder : IO::ErrNotFound;
        *entries = {FolderEntry{IO::Name("in.zip"), false}};
        return KR::NoError;
    }
    KR::ErrorCode ReadFile(const IO::RelativeLocation& path, std::string* content, std::uint64_t maxSize) const override
    {
        if (!IsTheFile(path))
            return path.IsEmpty() ? IO::ErrNotAFile : IO::ErrNotFound;
        if (content_.size() > maxSize)
            return IO::ErrTooLarge;
        *content = std::string(content_);
        return KR::NoError;
    }

private:
    static bool IsTheFile(const IO::RelativeLocation& path)
    {
        return path.IsValid() && path.GetLength() == 1 && path.GetLastName() == IO::Name("in.zip");
    }
    std::string_view content_;
};

// What a walk saw, in order: one line per entry.
std::string Walk(const IO::ZipVFS& vfs)
{
    std::string seen = std::to_string(vfs.GetRefusedCount()) + "\n";
    std::vector<IO::RelativeLocation> pending{IO::RelativeLocation()};
    std::size_t visited = 0;
    while (!pending.empty() && visited < MaxEntries) {
        const IO::RelativeLocation folder = pending.back();
        pending.pop_back();
        std::vector<IO::FixedVFS::FolderEntry> entries;
        LmFuzz::Expect(vfs.ListFolder(folder, &entries) == KR::NoError, "a folder of the walk lists");
        for (const IO::FixedVFS::FolderEntry& entry : entries) {
            if (++visited > MaxEntries)
                break;
            LmFuzz::Expect(entry.name.IsValid(), "a listed name is a valid name");
            IO::RelativeLocation path = folder;
            LmFuzz::Expect(path.AppendName(entry.name) == KR::NoError, "a listed name can be appended");
            IO::FixedVFS::EntryInfo info;
            LmFuzz::Expect(vfs.GetInfo(path, &info) == KR::NoError && info.isFolder == entry.isFolder,
                           "a listed entry has its info");
            seen += path.ToString() + (info.isFolder ? "/ " : " ") + std::to_string(info.size) + " " +
                    std::to_string(info.modificationTime);
            if (entry.isFolder) {
                pending.push_back(path);
            } else {
                std::string content;
                const KR::ErrorCode err = vfs.ReadFile(path, &content, MaxRead);
                LmFuzz::Expect(err != KR::NoError || content.size() == info.size, "a file reads at its size");
                seen += " " + std::to_string(err) + " " + std::to_string(content.size());
            }
            seen += "\n";
        }
    }
    // Paths that are not in the archive.
    IO::FixedVFS::EntryInfo info;
    std::string content;
    (void)vfs.GetInfo(IO::RelativeLocation("../x"), &info);
    (void)vfs.ReadFile(IO::RelativeLocation("no/such/file"), &content, MaxRead);
    return seen;
}

// Walks a mounted archive through the file layer, as a library in a zip
// file is read: every folder entered, every file opened and read.
class MountedWalk : public IO::TreeEnumerator {
public:
    using IO::TreeEnumerator::TreeEnumerator;
    std::uint64_t total = 0;

protected:
    bool FileFound(const IO::Name& name) override
    {
        IO::File file(GetParent(), name);
        std::int64_t size = 0;
        if (file.Open(IO::OpenMode::Read) == KR::NoError && file.GetSize(&size) == KR::NoError) {
            LmFuzz::Expect(size >= 0, "a file size is not negative");
            std::string buffer(static_cast<std::size_t>(std::min<std::int64_t>(size, 4096)), '\0');
            std::size_t got = 0;
            (void)file.ReadBin(buffer.data(), buffer.size(), &got);
            LmFuzz::Expect(got <= buffer.size(), "a read stays in its buffer");
            total += static_cast<std::uint64_t>(size);
        }
        return false;
    }
};

// Mounts `vfs`, walks it, and copies it out into the scratch folder when it
// is small.
void WalkMounted(IO::ZipVFS& vfs)
{
    const IO::Location mountPoint(LmFuzz::ScratchFolder() + "/archive");
    LmFuzz::Expect(IO::fileSystem.Mount(vfs, mountPoint) == KR::NoError, "the archive mounts");
    const IO::Folder root(mountPoint);
    MountedWalk walk(root);
    (void)walk.Do();
    if (walk.total <= MaxRead) {
        IO::Folder scratch(IO::Location(LmFuzz::ScratchFolder() + "/out"), IO::OnNotFound::Create);
        std::vector<IO::FolderEntry> entries;
        if (root.List(&entries) == KR::NoError)
            for (const IO::FolderEntry& entry : entries)
                (void)IO::Folder(root).Copy(entry.name, scratch, entry.name);
    }
    (void)IO::fileSystem.Unmount(vfs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::string path = LmFuzz::ScratchFolder() + "/in.zip";
    TestSupport::WriteFileBytes(path, std::string(bytes));
    KR::ErrorCode fileError = KR::NoError;
    std::unique_ptr<IO::ZipVFS> fromFile = IO::ZipVFS::Open(IO::Location(path), &fileError);
    LmFuzz::Expect((fromFile == nullptr) == (fileError != KR::NoError), "an archive opens or gives an error");
    const std::string fileWalk = fromFile ? Walk(*fromFile) : std::string();
    fromFile.reset();
    LmFuzz::ClearScratchFolder();

    OneFileVFS holder(bytes);
    const IO::Location mountPoint(LmFuzz::ScratchFolder() + "/mounted");
    LmFuzz::Expect(IO::fileSystem.Mount(holder, mountPoint) == KR::NoError, "the holder mounts");
    KR::ErrorCode memoryError = KR::NoError;
    std::unique_ptr<IO::ZipVFS> fromMemory = IO::ZipVFS::Open(IO::Location(mountPoint, "in.zip"), &memoryError);
    LmFuzz::Expect((fromMemory == nullptr) == (memoryError != KR::NoError), "an archive opens or gives an error");
    const std::string memoryWalk = fromMemory ? Walk(*fromMemory) : std::string();
    if (fromMemory)
        WalkMounted(*fromMemory);
    fromMemory.reset();
    (void)IO::fileSystem.Unmount(holder);
    LmFuzz::ClearScratchFolder();

    LmFuzz::Expect((fileError == KR::NoError) == (memoryError == KR::NoError) && fileWalk == memoryWalk,
                   "an archive reads the same from a file and from memory");
    return 0;
}

std::vector<std::string> LmFuzz::Seeds()
{
    struct Entry {
        const char* name;
        std::string data;
        bool store;
        bool extendedTime;
    };
    const std::vector<std::vector<Entry>> archives = {
        {{"a.txt", "alpha", false, false},
         {"folder/", "", false, true},
         {"folder/b.bin", std::string(3000, 'b'), false, true},
         {"folder/sub/c", "stored", true, false},
         {"implied/d", "d", true, true}},
        {{"../evil", "x", true, false},
         {"/abs", "x", true, false},
         {"back\\slash", "x", true, false},
         {"dup", "1", true, false},
         {"dup", "2", true, false},
         {"dup/through", "3", true, false},
         {"zXro", "zero byte in name", true, false},
         {"./dot/./e", "e", false, false}},
        {},
    };
    std::vector<std::string> seeds;
    const std::string path = LmFuzz::ScratchFolder() + "/seed.zip";
    for (const std::vector<Entry>& entries : archives) {
        int error = 0;
        zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        LmFuzz::Expect(archive != nullptr, "a seed archive is made");
        for (const Entry& e : entries) {
            zip_int64_t index = 0;
            if (std::string_view(e.name).ends_with('/')) {
                index = zip_dir_add(archive, e.name, ZIP_FL_ENC_RAW);
            } else {
                zip_source_t* source = zip_source_buffer(archive, e.data.data(), e.data.size(), 0);
                index = zip_file_add(archive, e.name, source, ZIP_FL_ENC_RAW);
                if (index < 0)
                    zip_source_free(source);
            }
            if (index < 0)
                continue;  // libzip itself refuses some names (a second "dup")
            const auto i = static_cast<zip_uint64_t>(index);
            zip_set_file_compression(archive, i, e.store ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
            zip_file_set_dostime(archive, i, 0x6000, 0x50CF, 0);
            if (e.extendedTime) {
                const zip_uint8_t field[5] = {1, 0x10, 0x20, 0x30, 0x5F};
                zip_file_extra_field_set(archive, i, 0x5455, ZIP_EXTRA_FIELD_NEW, field, 5, ZIP_FL_CENTRAL);
            }
        }
        if (entries.empty())
            zip_dir_add(archive, "only/", ZIP_FL_ENC_RAW);
        LmFuzz::Expect(zip_close(archive) == 0, "a seed archive is written");
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // "zXro" becomes a name with a zero byte, in the local and the central header.
        for (std::size_t at = bytes.find("zXro"); at != std::string::npos; at = bytes.find("zXro", at))
            bytes[at + 1] = '\0';
        seeds.push_back(std::move(bytes));
    }
    LmFuzz::ClearScratchFolder();
    // Not an archive at all.
    seeds.push_back("PK\x05\x06 not really a zip");
    return seeds;
}
