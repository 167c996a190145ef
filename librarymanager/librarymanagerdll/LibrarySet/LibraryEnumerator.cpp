// The walks of one library during an enumeration.
#include "LibrarySet/LibraryEnumerator.hpp"

#include "IO/FileSystem.hpp"
#include "KRUtils/Progress.hpp"
#include "LibrarySet.hpp"
#include "LibrarySet/ActiveLibraryList.hpp"
#include "LibrarySet/FolderSet.hpp"

namespace LM {

LibraryEnumerator::LibraryEnumerator(const IO::Folder& root, LibrarySet* set, std::int32_t libraryIndex)
    : IO::TreeEnumerator(root), set_(set), libraryIndex_(libraryIndex)
{
    const IO::Location& location = root.GetLocation();
    folderStack_[0] = set_->GetFolderSet()->AddFolder(location, ActiveLibraryList::MakeLocationName(location), 0,
                                                      libraryIndex_);
}

bool LibraryEnumerator::FolderFound(const IO::Name& name)
{
    // A folder below the deepest the stack holds is not entered, nor is a
    // container mounted inside the library: its content is a library of its
    // own, or none.
    if (depth_ >= MaxDepth)
        return false;
    return !IO::fileSystem.IsMountPoint(IO::Location(GetParent().GetLocation(), name));
}

void LibraryEnumerator::FolderEntered(const IO::Name& name, IO::Folder& folder)
{
    ++depth_;
    const auto at = static_cast<std::size_t>(depth_);
    folderStack_[at] = set_->GetFolderSet()->AddFolder(folder.GetLocation(), KR::String(name.Std()),
                                                       folderStack_[at - 1], libraryIndex_);
}

void LibraryEnumerator::FolderExited(const IO::Name&, IO::Folder&)
{
    --depth_;
}

bool LibraryEnumerator::FileFound(const IO::Name& name)
{
    if (fileCounter_ % ProgressStep == 0) {
        // The user may cancel only what is not vital; a vital library is
        // always walked to its end.
        if (TTBreak(true) && !set_->IsVitalActiveLibrary(libraryIndex_)) {
            stopped_ = true;
            Stop();
            return false;
        }
        TTSetProcessValue(static_cast<std::int32_t>(fileCounter_));
    }
    ++fileCounter_;
    // A file that is not stored (not a storable type, unreadable) is simply
    // not in the table.
    set_->StoreSymbol(IO::Location(GetParent().GetLocation(), name), folderStack_[static_cast<std::size_t>(depth_)],
                      -1);
    return false;
}

bool FileCountEnumerator::FileFound(const IO::Name&)
{
    ++fileCounter_;
    return false;
}

}  // namespace LM
