// The walks of one library during an enumeration.
#include "LibrarySet/LibraryEnumerator.hpp"

#include "IO/FileSystem.hpp"
#include "IO/Platform.hpp"
#include "KRUtils/Progress.hpp"
#include "LibrarySet.hpp"
#include "LibrarySet/ActiveLibraryList.hpp"
#include "LibrarySet/FolderSet.hpp"
#include "LibrarySet/LibrarySetInternals.hpp"
#include "LibrarySet/ReadAhead.hpp"
#include "PartTable/PartTable.hpp"

namespace LM {

LibraryEnumerator::LibraryEnumerator(const IO::Folder& root, LibrarySet* set, std::int32_t libraryIndex)
    : IO::TreeEnumerator(root), set_(set), libraryIndex_(libraryIndex)
{
    const IO::Location& location = root.GetLocation();
    folderStack_[0] = set_->GetFolderSet()->AddFolder(location, ActiveLibraryList::MakeLocationName(location), 0,
                                                      libraryIndex_);
}

LibraryEnumerator::~LibraryEnumerator() = default;

void LibraryEnumerator::FilesListed(int folderFd, const std::vector<const IO::Name*>& files)
{
    Listed listed;
    if (folderFd >= 0 && !files.empty()) {
        if (!readAheadTried_) {
            readAheadTried_ = true;
            readAhead_ = ReadAhead::Start();
        }
        if (readAhead_ != nullptr)
            listed.batch = readAhead_->Post(folderFd, files);
    }
    listed_.push_back(listed);
}

void LibraryEnumerator::FilesWalked()
{
    if (listed_.empty())
        return;
    if (readAhead_ != nullptr)
        readAhead_->Retire(listed_.back().batch);
    listed_.pop_back();
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
    // The file's place among the files of its folder, as the reader has it.
    const std::uint32_t index = listed_.empty() ? 0 : listed_.back().filesMet++;
    if (fileCounter_ % ProgressStep == 0) {
        // The user may cancel only what is not vital; a vital library is
        // always walked to its end.
        if (TTBreak(true) && !set_->IsVitalActiveLibrary(libraryIndex_)) {
            stopped_ = true;
            Stop();
            readAhead_.reset();  // what it read is never used
            return false;
        }
        TTSetProcessValue(static_cast<std::int32_t>(fileCounter_));
    }
    ++fileCounter_;
    // The file's first bytes when the reader has them: the part table takes
    // them instead of reading the file (only while the system's platform is
    // active: a test's platform sees every call of the walk).
    const ReadAhead::Slot* slot = nullptr;
    if (readAhead_ != nullptr && !listed_.empty() && IO::IsSystemPlatformActive())
        slot = readAhead_->Take(listed_.back().batch, index, name);
    struct Offer {
        ReadAhead* reader;
        const ReadAhead::Slot* slot;
        PartTable* table;
        ~Offer()
        {
            if (slot == nullptr)
                return;
            if (table != nullptr)
                table->OfferHead(nullptr);
            reader->Release(slot);
        }
    } offer{readAhead_.get(), slot, LibrarySetInternals::GetPartTable(*set_)};
    if (slot != nullptr && offer.table != nullptr)
        offer.table->OfferHead(&slot->head);
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
