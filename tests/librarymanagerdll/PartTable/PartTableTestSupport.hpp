// Shared helpers of the part table tests: a module set up with two library
// part file types, part files written into a temporary folder, and an error
// handler that records the duplicate reports it receives.
#pragma once

#include "FTM/FileTypes.hpp"
#include "ILibraryErrorHandler.hpp"
#include "IO/Location.hpp"
#include "IO/ZipVFS.hpp"
#include "KR/GUID.hpp"
#include "KR/Iterator.hpp"
#include "KRUtils/KRUtils.hpp"
#include "LPF/PartFile.hpp"
#include "LibraryManagerModule.hpp"
#include "LibrarySet.hpp"
#include "LibrarySet/LibrarySetInternals.hpp"
#include "LibrarySet/ModuleState.hpp"
#include "PartTable/PartTable.hpp"
#include "Support/ErrorHandlers.hpp"
#include "Support/TempDir.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace PartTableTest {

// File types registered once per process.
struct Types {
    FTM::TypeID part = 0;    // first library part file type, extension "gsm"
    FTM::TypeID script = 0;  // second library part file type, extension "scr"
    FTM::TypeID text = 0;    // an ordinary type, extensions "txt" and "xyz"
    FTM::GroupID group = 0;  // a group holding only the text type
};

inline const Types& GetTypes()
{
    static const Types types = [] {
        Types t;
        FTM::FileType part("Test part");
        part.AddExtension("gsm");
        t.part = FTM::FileTypeManager::AddType(part);
        FTM::FileType script("Test script");
        script.AddExtension("scr");
        t.script = FTM::FileTypeManager::AddType(script);
        t.group = FTM::FileTypeManager::AddGroup("Test texts");
        FTM::FileType text("Test text");
        text.AddExtension("txt");
        text.AddExtension("xyz");
        t.text = FTM::FileTypeManager::AddType(text, t.group);
        return t;
    }();
    return types;
}

inline KR::UnID MakeUnID(std::uint32_t main, std::uint32_t rev)
{
    KR::UnID id{};
    id.mainGuid.data1 = main;
    id.mainGuid.data4[7] = 1;
    id.revGuid.data1 = rev;
    id.revGuid.data4[7] = 2;
    return id;
}

struct RecordedReport {
    enum class Kind { Files, UnID, Name } kind = Kind::Files;
    KR::UnID unID{};
    std::string name;
    std::vector<IO::Location> locations;
    bool allocated = false;      // the locations came in the allocated array
    bool inlineEmpty = true;     // no inline location was set
};

class RecordingHandler : public TestSupport::NullErrorHandler {
public:
    std::int32_t AskNameTooLong(const IO::Name& name) override
    {
        asked.push_back(name.Std());
        return answer;
    }
    void DuplicateCheckStarted() override { ++started; }
    void DuplicateFilesFound(const LM::DuplicateNameReport* r) override { Record(RecordedReport::Kind::Files, *r, {}); }
    void DuplicateUnIDFound(const LM::DuplicateUnIDReport* r) override
    {
        Record(RecordedReport::Kind::UnID, *r, r->unID);
    }
    void DuplicateNameFound(const LM::DuplicateNameReport* r) override { Record(RecordedReport::Kind::Name, *r, {}); }

    int started = 0;
    std::vector<RecordedReport> reports;
    std::int32_t answer = 0;  // to the question about an over-long name
    std::vector<std::string> asked;

private:
    template <typename Report>
    void Record(RecordedReport::Kind kind, const Report& r, const KR::UnID& id)
    {
        RecordedReport rec;
        rec.kind = kind;
        rec.unID = id;
        rec.name = r.name;
        rec.allocated = r.locations != nullptr;
        for (const IO::Location& l : r.inlineLocations)
            rec.inlineEmpty = rec.inlineEmpty && l.IsEmpty();
        for (std::uint32_t k = 0; k < r.count; ++k)
            rec.locations.push_back(r.GetLocation(k));
        reports.push_back(rec);
    }
};

// The name of the file count file in these tests.
inline constexpr const char* CountFileName = "File Count";

// A temporary folder, the module initialised with the test types (container
// libraries mounted as zip files), and helpers to write files into the
// folder, its sub-folders made as needed.
class PartFileFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        LM::LibraryManagerCallBacks callBacks;
        callBacks.createFixedVFS = &IO::CreateZipVFS;
        LM::LibraryManagerStrings strings;
        strings.Set(4, CountFileName);
        strings.Set(5, "Libraries");
        strings.Set(6, "ScriptCodes");
        strings.Set(7, "Other Objects");
        strings.Set(8, "Missing Parts");
        cache_ = dir_.MakeFolder("cache");
        LM::InitLibraryManager(callBacks, strings, types.part, types.script, cache_);
    }

    IO::Location PathOf(const std::string& fileName) const { return dir_.Loc(fileName); }

    const Types& types = GetTypes();  // registered before the module is set up

    // A part file of the first kind.
    IO::Location WritePart(const std::string& fileName, const std::string& documentName, const KR::UnID& id,
                           bool placeable = false, bool archivable = false) const
    {
        LPF::PartFileWriter writer(LPF::PartKind::Symbol);
        writer.SetOwnUnID(id);
        writer.SetPlaceable(placeable);
        writer.SetArchivable(archivable);
        return Write(writer, fileName, documentName);
    }

    // A part file of the second kind.
    IO::Location WriteScript(const std::string& fileName, const std::string& documentName) const
    {
        LPF::PartFileWriter writer(LPF::PartKind::Script);
        return Write(writer, fileName, documentName);
    }

    // Any other file.
    IO::Location WritePlain(const std::string& fileName, const std::string& content = "data") const
    {
        return dir_.WriteFile(fileName, content);
    }

    TestSupport::TempDir dir_;
    IO::Location cache_;  // the compiled script codes' folder

private:
    IO::Location Write(LPF::PartFileWriter& writer, const std::string& fileName, const std::string& documentName) const
    {
        if (!documentName.empty()) {
            EXPECT_EQ(writer.SetDocumentName(documentName), 0);
        }
        std::filesystem::create_directories(std::filesystem::path(dir_ / fileName).parent_path());
        const IO::Location location = PathOf(fileName);
        EXPECT_EQ(writer.WriteTo(location), 0);
        return location;
    }
};

// A library set on top of the fixture; it stores the two part types and
// the types `extraStorable_` adds.
class LibrarySetFixture : public PartFileFixture {
protected:
    void SetUp() override
    {
        PartFileFixture::SetUp();
        set_ = NewSet();
        ASSERT_TRUE(set_->IsUsable());
    }

    void TearDown() override { set_.reset(); }

    std::unique_ptr<LM::LibrarySet> NewSet()
    {
        std::vector<FTM::GeneralID> storable{types.part, types.script};
        storable.insert(storable.end(), extraStorable_.begin(), extraStorable_.end());
        return std::make_unique<LM::LibrarySet>(
            handler_, KR::ConstForwardIterator<FTM::GeneralID>(storable.begin(), storable.end()));
    }

    LM::PartTable& Table() { return *LM::LibrarySetInternals::GetPartTable(*set_); }

    std::int32_t AddFile(const IO::Location& location, FTM::GeneralID type, std::int32_t folder = 0)
    {
        return Table().AppendFromFile(location, folder, type, 0);
    }

    // The document name of record `i`, which must end within the buffer.
    std::string DocumentName(std::int32_t i)
    {
        char name[LM::DocumentNameSize];
        std::memset(name, 'x', sizeof name);
        EXPECT_EQ(set_->GetSymbolDocumentName(i, name), 0);
        return std::string(name, ::strnlen(name, sizeof name));
    }

    RecordingHandler handler_;
    std::vector<FTM::GeneralID> extraStorable_;
    std::unique_ptr<LM::LibrarySet> set_;
};

}  // namespace PartTableTest
