// The walks of one library during an enumeration. Internal.
#pragma once

#include "IO/TreeEnumerator.hpp"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace LM {

class LibrarySet;
class ReadAhead;

// Walks one active library: adds a folder item for the library's root and
// for every folder it enters, stores every file it meets as a library part
// in the folder being walked, and shows the progress. Folders that are mount
// points are not entered, nor folders nested deeper than MaxDepth below the
// root (the folder stack would not hold them).
class LibraryEnumerator : public IO::TreeEnumerator {
public:
    static constexpr std::size_t StackSize = 100;
    static constexpr std::int32_t MaxDepth = static_cast<std::int32_t>(StackSize) - 1;
    // Files between two progress updates (and cancel checks).
    static constexpr std::uint32_t ProgressStep = 50;

    LibraryEnumerator(const IO::Folder& root, LibrarySet* set, std::int32_t libraryIndex);
    // Stops and waits for the reader of this walk, if it has one.
    ~LibraryEnumerator() override;

    std::uint32_t GetFileCounter() const noexcept { return fileCounter_; }
    // True when the user cancelled during this library (never for a vital one).
    bool IsStoppedByUser() const noexcept { return stopped_; }

protected:
    bool FileFound(const IO::Name& name) override;
    bool FolderFound(const IO::Name& name) override;
    void FolderEntered(const IO::Name& name, IO::Folder& folder) override;
    void FolderExited(const IO::Name& name, IO::Folder& folder) override;
    void FilesListed(int folderFd, const std::vector<const IO::Name*>& files) override;
    void FilesWalked() override;

private:
    // A folder whose files are being walked: its batch at the reader (0:
    // none) and how many of its files the walk has come to.
    struct Listed {
        std::uint32_t batch = 0;
        std::uint32_t filesMet = 0;
    };

    LibrarySet* set_;
    std::int32_t libraryIndex_;
    std::uint32_t fileCounter_ = 0;
    bool stopped_ = false;
    std::int32_t depth_ = 0;
    std::array<std::int32_t, StackSize> folderStack_{};
    // The files' first bytes are read ahead on a second thread where that
    // is safe (see ReadAhead); started with the first real folder.
    std::unique_ptr<ReadAhead> readAhead_;
    bool readAheadTried_ = false;
    std::vector<Listed> listed_;
};

// Counts the files below a root, mount points included, for the progress
// total of a library that has no file count file.
class FileCountEnumerator : public IO::TreeEnumerator {
public:
    using IO::TreeEnumerator::TreeEnumerator;
    std::uint32_t GetFileCounter() const noexcept { return fileCounter_; }

protected:
    bool FileFound(const IO::Name& name) override;

private:
    std::uint32_t fileCounter_ = 0;
};

}  // namespace LM
