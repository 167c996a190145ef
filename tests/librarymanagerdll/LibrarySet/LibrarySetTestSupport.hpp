// Helpers of the library set tests: temporary folders, zip files, a module
// state to work with, an error handler and a file system that counts its
// instances.
#pragma once

#include "IO/FixedVFS.hpp"
#include "IO/Location.hpp"
#include "IO/ZipVFS.hpp"
#include "KR/Iterator.hpp"
#include "LibraryManagerModule.hpp"
#include "LibrarySet.hpp"

#include <gtest/gtest.h>
#include <zip.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace LMTest {

namespace fs = std::filesystem;

// A folder under /tmp that is removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "lmls-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path(const std::string& relative = "") const
    {
        return relative.empty() ? path_.string() : (path_ / relative).string();
    }
    IO::Location Loc(const std::string& relative = "") const { return IO::Location(Path(relative)); }
    IO::Location MakeFolder(const std::string& relative) const
    {
        fs::create_directories(Path(relative));
        return Loc(relative);
    }
    IO::Location WriteFile(const std::string& relative, const std::string& content) const
    {
        fs::create_directories(fs::path(Path(relative)).parent_path());
        std::ofstream(Path(relative), std::ios::binary) << content;
        return Loc(relative);
    }

private:
    fs::path path_;
};

// Writes a zip file holding `files` (name -> content) with libzip.
inline IO::Location MakeZip(const TempDir& dir, const std::string& relative,
                            const std::map<std::string, std::string>& files)
{
    fs::create_directories(fs::path(dir.Path(relative)).parent_path());
    int error = 0;
    zip_t* archive = zip_open(dir.Path(relative).c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr)
        throw std::runtime_error("zip_open failed");
    for (const auto& [name, content] : files) {
        zip_source_t* source = zip_source_buffer(archive, content.data(), content.size(), 0);
        if (source == nullptr || zip_file_add(archive, name.c_str(), source, ZIP_FL_OVERWRITE) < 0) {
            zip_source_free(source);
            zip_discard(archive);
            throw std::runtime_error("zip_file_add failed");
        }
    }
    if (zip_close(archive) != 0) {
        zip_discard(archive);
        throw std::runtime_error("zip_close failed");
    }
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

class NullErrorHandler : public LM::ILibraryErrorHandler {
public:
    void DuplicateCheckStarted() override {}
    void DuplicateFilesFound(const LM::DuplicateNameReport*) override {}
    void DuplicateUnIDFound(const LM::DuplicateUnIDReport*) override {}
    void DuplicateNameFound(const LM::DuplicateNameReport*) override {}
    void ApplicationReport(KR::ErrorCode, const IO::Location&) override {}
    void CacheEqualsLibrary(const IO::Location&, const IO::Location&) override {}
    void CacheNestedWithLibrary(const IO::Location&, const IO::Location&) override {}
    void DownloadFailed(const IO::Location&, const IO::Location&) override {}
    void UploadFailed(const IO::Location&, const IO::Location&) override {}
    std::int32_t AskDeletedFromLibrary(const IO::Location&, const IO::Location&) override { return 0; }
    std::int32_t AskChangedInBoth(const IO::Location&, const IO::Location&) override { return 0; }
    std::int32_t AskNameTooLong(const IO::Name&) override { return 0; }
};

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

// A module state over a fresh temporary folder and one set to work on.
class SetFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitModule(dir.MakeFolder("scriptcache"));
        set = std::make_unique<LM::LibrarySet>(handler, NoTypes());
    }
    void TearDown() override { set.reset(); }

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

    TempDir dir;
    NullErrorHandler handler;
    std::unique_ptr<LM::LibrarySet> set;
};

}  // namespace LMTest
