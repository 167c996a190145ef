// Helpers of the enumeration tests: a progress sink that records what the
// module shows, and a set over libraries written into
// a temporary folder.
#pragma once

#include "KRUtils/Progress.hpp"
#include "LibrarySet.hpp"
#include "LibrarySet/FolderSet.hpp"
#include "librarymanagerdll/PartTable/PartTableTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace EnumerateTest {

using PartTableTest::CountFileName;

// Records every progress call as one line of text.
class RecordingSink : public KRUtils::IProgressSink {
public:
    RecordingSink() { previous_ = KRUtils::SetProgressSink(this); }
    ~RecordingSink() override { KRUtils::SetProgressSink(previous_); }

    void BeginLong(bool) override { calls.push_back("begin"); }
    void EndLong(bool) override { calls.push_back("end"); }
    void InitProcessWindow(std::int16_t title, std::int16_t phases, std::int32_t ticks) override
    {
        calls.push_back("window " + std::to_string(title) + " " + std::to_string(phases) + " " +
                        std::to_string(ticks));
    }
    void SetNextPhase(std::int16_t title, std::int32_t total) override
    {
        calls.push_back("phase " + std::to_string(title) + " " + std::to_string(total));
    }
    void BeginNextPhase(std::int16_t title, std::int32_t total) override
    {
        calls.push_back("begin phase " + std::to_string(title) + " " + std::to_string(total));
    }
    void SetPhaseString(const char* name) override
    {
        calls.push_back(name != nullptr ? std::string("name ") + name : "name reset");
    }
    void SetValue(std::int32_t value) override { calls.push_back("value " + std::to_string(value)); }
    void EndPhase() override { calls.push_back("end phase"); }
    void CloseWindow() override { calls.push_back("close"); }
    bool IsBreakRequested(bool) override
    {
        ++breakChecks;
        return false;
    }

    // The calls whose text begins with `prefix`; with `walkOnly` only those
    // made before the type hierarchy's own phase began.
    std::vector<std::string> With(const std::string& prefix, bool walkOnly = false) const
    {
        std::vector<std::string> out;
        for (const std::string& c : calls) {
            if (walkOnly && c.rfind("begin phase 118", 0) == 0)
                break;
            if (c.rfind(prefix, 0) == 0)
                out.push_back(c);
        }
        return out;
    }

    std::vector<std::string> calls;
    int breakChecks = 0;

private:
    KRUtils::IProgressSink* previous_ = nullptr;
};

// A set that stores text files as well as parts, over libraries written
// into the fixture's folder.
class EnumerateFixture : public PartTableTest::LibrarySetFixture {
protected:
    void SetUp() override
    {
        extraStorable_ = {types.text};
        LibrarySetFixture::SetUp();
    }

    // `count` small text files named f000.txt ... in `folder`.
    void WriteTexts(const std::string& folder, int count)
    {
        for (int k = 0; k < count; ++k) {
            std::string name = std::to_string(k);
            name.insert(0, 3 - std::min<std::size_t>(3, name.size()), '0');
            dir.WriteFile(folder + "/f" + name + ".txt", "text");
        }
    }
    std::int32_t AddLibrary(const std::string& relative)
    {
        return set->AddActiveLibrary(dir.Loc(relative), LM::NotPermanent, false, true);
    }

    const LM::FolderItem& Folder(std::int32_t index) { return *set->GetFolderSet()->GetItem(index); }

    TestSupport::TempDir& dir = dir_;
    std::unique_ptr<LM::LibrarySet>& set = set_;
};

}  // namespace EnumerateTest
