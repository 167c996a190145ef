// Helpers of the library set tests: zip files in a temporary folder, a
// module state to work with and a file system that counts its instances.
#pragma once

#include "IO/FixedVFS.hpp"
#include "IO/Location.hpp"
#include "IO/ZipVFS.hpp"
#include "KR/Iterator.hpp"
#include "LibraryManagerModule.hpp"
#include "LibrarySet.hpp"
#include "Support/ErrorHandlers.hpp"
#include "Support/TempDir.hpp"
#include "Support/Zip.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace LMTest {

namespace fs = std::filesystem;

using TestSupport::NullErrorHandler;
using TestSupport::TempDir;

// Writes a zip file of `files` at `relative` in `dir`.
inline IO::Location MakeZip(const TempDir& dir, const std::string& relative,
                            const std::vector<TestSupport::ZipEntry>& files)
{
    TestSupport::MakeZip(dir / relative, files);
    return dir.Loc(relative);
}

// Wraps a real file system and counts the instances alive and deleted.
class CountingVFS final : public IO::FixedVFS {
public:
    explicit CountingVFS(IO::FixedVFS* inner) : inner_(inner) { ++alive; }
    ~CountingVFS() override
    {
        --alive;
        ++deleted;
    }
    KR::ErrorCode GetInfo(const IO::RelativeLocation& path, EntryInfo* info) const override
    {
        return inner_->GetInfo(path, info);
    }
    KR::ErrorCode ListFolder(const IO::RelativeLocation& path, std::vector<FolderEntry>* entries) const override
    {
        return inner_->ListFolder(path, entries);
    }
    KR::ErrorCode ReadFile(const IO::RelativeLocation& path, std::string* content,
                           std::uint64_t maxSize) const override
    {
        return inner_->ReadFile(path, content, maxSize);
    }

    static inline int alive = 0;
    static inline int deleted = 0;

private:
    std::unique_ptr<IO::FixedVFS> inner_;
};

// The createFixedVFS of the tests: a counted zip file system.
inline IO::FixedVFS* CreateCountedZipVFS(const IO::Location& location)
{
    IO::FixedVFS* zip = IO::CreateZipVFS(location);
    return zip != nullptr ? new CountingVFS(zip) : nullptr;
}

inline LM::LibraryManagerStrings TestStrings()
{
    LM::LibraryManagerStrings strings;
    strings.Set(5, "All Libraries");
    strings.Set(6, "ScriptCodes");
    strings.Set(7, "Other Objects");
    strings.Set(8, "Missing Parts");
    return strings;
}

inline void InitModule(const IO::Location& scriptCacheFolder,
                       IO::FixedVFS* (*createFixedVFS)(const IO::Location&) = &CreateCountedZipVFS)
{
    LM::LibraryManagerCallBacks callBacks;
    callBacks.createFixedVFS = createFixedVFS;
    LM::InitLibraryManager(callBacks, TestStrings(), 1, 2, scriptCacheFolder);
}

inline KR::ConstForwardIterator<FTM::GeneralID> NoTypes()
{
    return KR::ConstForwardIterator<FTM::GeneralID>();
}

// A module state whose script code cache is in a fresh temporary folder.
class ModuleFixture : public ::testing::Test {
protected:
    void SetUp() override { InitModule(dir.MakeFolder("scriptcache")); }

    TempDir dir;
    NullErrorHandler handler;
};

// The module state and one set to work on.
class SetFixture : public ModuleFixture {
protected:
    void SetUp() override
    {
        ModuleFixture::SetUp();
        set = NewSet();
    }
    void TearDown() override { set.reset(); }

    std::unique_ptr<LM::LibrarySet> NewSet() { return std::make_unique<LM::LibrarySet>(handler, NoTypes()); }

    std::vector<std::string> LibraryNames() const
    {
        std::vector<std::string> names;
        for (std::int32_t i = 0; i < set->GetActiveLibraryNum(); ++i) {
            KR::String name;
            set->GetActiveLibraryName(i, &name);
            names.push_back(name.Std());
        }
        return names;
    }

    std::vector<bool> Existing() const
    {
        std::vector<bool> exist;
        for (std::int32_t i = 0; i < set->GetActiveLibraryNum(); ++i)
            exist.push_back(set->IsExistActiveLibrary(i));
        return exist;
    }

    std::unique_ptr<LM::LibrarySet> set;
};

}  // namespace LMTest
