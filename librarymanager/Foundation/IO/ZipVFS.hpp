// A FixedVFS over a zip file (read with libzip).
//
// The archive's central directory is read once when the file system is made;
// file data are decompressed when a file is read. Folders are the folder
// entries of the archive and every folder implied by a file's path. Entries
// whose names are absolute, contain a ".." component, contain a backslash or a
// zero byte, or are empty are refused: they are not part of the tree
// (GetRefusedCount tells how many there were). So is an entry that clashes
// with an earlier one (a second entry of the same name, or a path through
// a file), and so is a symbolic link, whose data are only its target's path.
// Entry times are the extended timestamp when there is one, otherwise the
// DOS date and time of the central directory read as UTC. A damaged archive
// gives an error, never a crash; an entry that is intact but compressed or
// encrypted in a way this reader cannot decode gives ErrNotSupported.
#pragma once

#include "IO/FixedVFS.hpp"

#include <memory>

namespace IO {

class ZipVFS final : public FixedVFS {
public:
    // Opens the zip file at a local location. Null, with `*error` set, when
    // the file cannot be read (ErrNotFound, ErrAccessDenied, ...) or is no
    // readable zip archive (ErrDamagedArchive). A mounted location is read
    // through the file system that serves it.
    static std::unique_ptr<ZipVFS> Open(const Location& zipFile, KR::ErrorCode* error = nullptr);
    ~ZipVFS() override;

    KR::ErrorCode GetInfo(const RelativeLocation& path, EntryInfo* info) const override;
    KR::ErrorCode ListFolder(const RelativeLocation& path, std::vector<FolderEntry>* entries) const override;
    KR::ErrorCode ReadFile(const RelativeLocation& path, std::string* content, std::uint64_t maxSize) const override;

    std::uint32_t GetRefusedCount() const noexcept;

    struct Impl;

private:
    explicit ZipVFS(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Suitable as the application's createFixedVFS callback: a new ZipVFS for a
// zip file, null for anything else. The caller owns the result.
FixedVFS* CreateZipVFS(const Location& location);

}  // namespace IO
