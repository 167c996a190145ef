// The compiled script code cache file: the input is the whole file. A
// container is made on it (reading the table), every item's code and
// section are asked for (read from the file on first use), and for some
// inputs the container then writes its file, which must read back with the
// same items and bytes.
#include "FuzzTarget.hpp"

#include "KR/Memory.hpp"
#include "KR/Time.hpp"
#include "LibraryManagerModule.hpp"
#include "PartTable/PscBinCodesContainer.hpp"
#include "Support/TempDir.hpp"
#include "librarymanagerdll/PartTable/PscBinCodesFile.hpp"

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

std::int32_t fuzzNow = 0;
std::int32_t FuzzNow() noexcept
{
    return fuzzNow;
}

std::string CacheFolder()
{
    return LmFuzz::ScratchFolder() + "/cache";
}

struct Setup {
    Setup()
    {
        LM::LibraryManagerStrings strings;
        strings.Set(6, "ScriptCodes");
        LM::InitLibraryManager({}, strings, 0, 0, IO::Location(CacheFolder()));
        KR::DateTimeManager::SetTimeSource(&FuzzNow);
    }
};

std::string Bytes(char** handle)
{
    return handle == nullptr ? std::string() : std::string(*handle, KR::bmManager.GetHandleSize(handle));
}

struct Lent {
    std::string code;
    std::string ancestry;
};

// Asks for every item's code and section; checks them against the file.
std::vector<Lent> Exercise(LM::PscBinCodesContainer& container, const std::string* file)
{
    std::vector<Lent> lent;
    for (std::int32_t k = 1; k <= container.GetCount(); ++k) {
        const LM::PscBinCodeItem& item = container.GetItem(k);
        LmFuzz::Expect(item.scriptType >= 1 && item.scriptType <= 6, "items have a script type of 1 to 6");
        LmFuzz::Expect(container.Find(item.partId, item.location, item.scriptType) <= k,
                       "an item's key finds it or an earlier item");
        char** code = nullptr;
        char** ancestry = nullptr;
        LmFuzz::Expect(container.GetCode(k, &code, &ancestry) == KR::NoError, "a valid index lends");
        Lent one{Bytes(code), Bytes(ancestry)};
        if (file != nullptr) {
            LmFuzz::Expect(one.code == file->substr(item.codeOffset, item.codeSize) &&
                               one.ancestry == file->substr(item.ancestryOffset, item.ancestrySize),
                           "lent bytes are those at the item's place in the file");
        }
        if (code != nullptr)
            KR::bmManager.KillHandle(code);
        if (ancestry != nullptr)
            KR::bmManager.KillHandle(ancestry);
        lent.push_back(std::move(one));
    }
    return lent;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Setup setup;
    LmFuzz::ClearScratchFolder();
    const std::string input(reinterpret_cast<const char*>(data), size);
    TestSupport::WriteFileBytes(CacheFolder() + "/ScriptCodes.dat", input);
    // "Now" is the file's timestamp, so that writing purges nothing.
    fuzzNow = 0;
    if (size >= 8)
        std::memcpy(&fuzzNow, data + 4, 4);

    const IO::Location folder(CacheFolder());
    auto container = std::make_unique<LM::PscBinCodesContainer>(folder);
    const std::vector<Lent> lent = Exercise(*container, &input);
    const bool write = size % 32 == 0;
    if (!write) {
        // Without its folder the container cannot write, and does not try.
        std::error_code ignored;
        std::filesystem::remove_all(CacheFolder(), ignored);
        container.reset();
        return 0;
    }
    const std::int32_t count = container->GetCount();
    container.reset();
    LM::PscBinCodesContainer reloaded(folder);
    LmFuzz::Expect(reloaded.GetCount() == count, "a written container reads back all its items");
    const std::vector<Lent> again = Exercise(reloaded, nullptr);
    for (std::size_t n = 0; n < lent.size(); ++n) {
        LmFuzz::Expect(again[n].code == lent[n].code && again[n].ancestry == lent[n].ancestry,
                       "a written container reads back the same bytes");
    }
    return 0;
}

std::vector<std::string> LmFuzz::Seeds()
{
    using PscBinCodesTest::BuildContainerFile;
    KR::UnID id{};
    id.mainGuid.data1 = 0x1234;
    id.revGuid.data4[7] = 9;
    std::string section(64, '\0');
    section[4] = 1;  // one ancestor
    section[32] = 0x55;
    const std::int32_t stamp = 0x2D000000;
    return {
        BuildContainerFile(stamp, {}),
        BuildContainerFile(stamp, {{id, IO::Location("/lib/a.gsm"), 1, 3, stamp, "compiled code", section}}),
        BuildContainerFile(stamp, {{id, IO::Location("/lib/a.gsm"), 2, 1, stamp, std::string(300, 'x'), ""},
                                   {KR::UnID{}, IO::Location("/lib/b.gsm"), 6, 7, stamp - 86400, "", section},
                                   {id, IO::Location("/lib/a.gsm"), 2, 1, stamp, "second", ""}}),
    };
}
