// Part files: the input is the whole content of a file. Opens it (as a part
// file of either kind), reads header, UnID, name and every section's data,
// which converts sections in the other byte order through the registered
// handlers (ancestry and parameters); dumps each section through its
// handler; then saves the file and checks that every section that was
// served comes back the same from the saved file.
#include "AncestryBytes.hpp"
#include "FuzzTarget.hpp"

#include "AncestryInfo.hpp"
#include "IO/Location.hpp"
#include "KR/Channel.hpp"
#include "KR/Memory.hpp"
#include "LPF/ByteOrder.hpp"
#include "LPF/PartFile.hpp"
#include "PSC/Parameters.hpp"
#include "Support/TempDir.hpp"
#include "TypeHierarchy/AncestrySectionHandler.hpp"

#include <cstring>
#include <map>
#include <tuple>

namespace {

constexpr std::uint32_t AncestryType = LM::AncestrySectionHandler::SectionType;
constexpr std::uint32_t PlainType = LPF::MakeSectionType('D', 'A', 'T', 'A');  // no handler

struct Setup {
    Setup() { PSC::InstallSectionHandler(); }
};

using SectionKey = std::pair<std::uint32_t, std::uint8_t>;

// Reads everything a reader could ask for; returns the data of the sections
// that were served.
std::map<SectionKey, std::string> Exercise(LPF::PartFile& file)
{
    char name[32];
    (void)file.GetDocumentName(name);
    LmFuzz::Expect(std::strlen(name) <= 31, "a short document name fits its buffer");
    (void)file.GetFullDocumentName();
    std::int32_t time = 0;
    (void)file.GetModificationTime(&time);
    if (auto* symbol = dynamic_cast<LPF::SymbolFile*>(&file)) {
        KR::UnID id;
        bool flag = false;
        (void)symbol->GetOwnUnID(&id);
        (void)symbol->IsPlaceable(&flag);
        (void)symbol->IsArchivable(&flag);
    }
    std::map<SectionKey, std::string> served;
    const std::uint32_t count = file.GetSectionCount();
    for (std::uint32_t i = 0; i < count; ++i) {
        LPF::SectionInfo info;
        LmFuzz::Expect(file.GetSectionInfo(i, &info) == KR::NoError, "every listed section has its info");
        LmFuzz::Expect(file.HasSection(info.type, info.subIdent), "every listed section is found");
        char** data = nullptr;
        if (file.GetSectionDataRef(info.type, info.subIdent, &data) != KR::NoError) {
            LmFuzz::Expect(data == nullptr, "a refused section gives no data");
            continue;
        }
        LmFuzz::Expect(data != nullptr, "a served section has data");
        const std::size_t size = KR::bmManager.GetHandleSize(data);
        served[{info.type, info.subIdent}] = std::string(*data, size);
        LPF::SectionDescriptor descriptor;
        LmFuzz::Expect(file.GetSectionDescriptor(info.type, info.subIdent, &descriptor) == KR::NoError &&
                           descriptor.platform == LPF::NativePlatform,
                       "served data are in this machine's byte order");
        if (LPF::ISectionHandler* handler = LPF::GetSectionHandler(info.type)) {
            KR::StringOChannel text;
            (void)handler->Dump(text, &descriptor, data, true);
        }
        if (i % 2 == 1) {
            // Released, the section is read from the file again.
            LmFuzz::Expect(file.SetSectionDataRef(info.type, info.subIdent, nullptr) == KR::NoError &&
                               file.GetSectionDataRef(info.type, info.subIdent, &data) == KR::NoError &&
                               std::string(*data, KR::bmManager.GetHandleSize(data)) ==
                                   served[{info.type, info.subIdent}],
                           "a released section reads again the same");
        }
        if (info.type == AncestryType) {
            LM::AncestryInfo ancestry(data);
            (void)ancestry.CheckAndFix();
        }
    }
    return served;
}

void Check(const std::string& path)
{
    const IO::Location location(path);
    KR::ErrorCode err = KR::NoError;
    std::unique_ptr<LPF::PartFile> file = LPF::OpenPartFile(location, &err);
    LmFuzz::Expect((file == nullptr) == (err != KR::NoError), "a part file opens or gives an error");
    if (file == nullptr)
        return;
    const std::map<SectionKey, std::string> served = Exercise(*file);
    if (file->Save() != KR::NoError)
        return;
    std::unique_ptr<LPF::PartFile> saved = LPF::OpenPartFile(location, &err);
    LmFuzz::Expect(saved != nullptr, "a saved part file opens again");
    for (const auto& [key, bytes] : served) {
        char** data = nullptr;
        LmFuzz::Expect(saved->GetSectionDataRef(key.first, key.second, &data) == KR::NoError &&
                           std::string(*data, KR::bmManager.GetHandleSize(data)) == bytes,
                       "a saved section reads back as it was served");
    }
    LmFuzz::Expect(saved->GetFullDocumentName() == file->GetFullDocumentName(), "the name is saved");
}

// The bytes of a section in the other byte order, as its handler makes them.
std::string OtherOrder(std::uint32_t type, const std::string& native)
{
    char** handle = KR::bmManager.NewHandle(native.size());
    std::memcpy(*handle, native.data(), native.size());
    LPF::SectionDescriptor descriptor;
    (void)LPF::GetSectionHandler(type)->ConvertToPlatform(&descriptor, handle, LPF::OtherPlatform);
    std::string out(*handle, KR::bmManager.GetHandleSize(handle));
    KR::bmManager.KillHandle(handle);
    return out;
}

std::string Ancestry(std::uint32_t count, bool repeat)
{
    LM::AncestryInfo info;
    for (std::uint32_t k = 0; k < count; ++k) {
        KR::UnID id{};
        id.mainGuid.data1 = repeat && k == count - 1 ? 1 : k + 1;
        id.revGuid.data2 = static_cast<std::uint16_t>(k);
        info.Append(id);
    }
    info.MarkAsTemplate();
    char** handle = info.GetAncestrySection();
    std::string out(*handle, KR::bmManager.GetHandleSize(handle));
    KR::bmManager.KillHandle(handle);
    return out;
}

std::string Parameters()
{
    std::vector<PSC::Parameter> list(4);
    list[0].name = "A";
    list[0].number = 1.5;
    list[1].name = "n";
    list[1].kind = PSC::Parameter::Kind::Integer;
    list[1].integer = -3;
    list[2].name = "on";
    list[2].kind = PSC::Parameter::Kind::Boolean;
    list[2].boolean = true;
    list[3].name = "mat";
    list[3].kind = PSC::Parameter::Kind::Text;
    list[3].text = "Oak";
    char** handle = PSC::WriteParameters(list);
    std::string out(*handle, KR::bmManager.GetHandleSize(handle));
    KR::bmManager.KillHandle(handle);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const Setup setup;
    const std::string path = LmFuzz::ScratchFolder() + "/part.lpf";
    TestSupport::WriteFileBytes(path, std::string(reinterpret_cast<const char*>(data), size));
    Check(path);
    LmFuzz::ClearScratchFolder();
    return 0;
}

std::vector<std::string> LmFuzz::Seeds()
{
    static const Setup setup;
    const LPF::SectionDescriptor native{1, LPF::NativePlatform, 0};
    const LPF::SectionDescriptor other{1, LPF::OtherPlatform, 0};
    std::vector<std::string> seeds;
    for (std::uint32_t header : {LPF::NativePlatform, LPF::OtherPlatform}) {
        // A symbol file with an ancestry and parameters in each byte order
        // and a section without handler.
        LPF::PartFileWriter writer(LPF::PartKind::Symbol);
        writer.SetHeaderPlatform(header);
        writer.SetDocumentName("Door \xC3\xA4 with a name longer than thirty-one bytes");
        KR::UnID id{};
        id.mainGuid.data1 = 0x12345678;
        id.revGuid.data3 = 0x9ABC;
        writer.SetOwnUnID(id);
        writer.SetPlaceable(true);
        const std::string ancestry = Ancestry(3, false);
        const std::string parameters = Parameters();
        writer.AddSection(AncestryType, 0, native, ancestry.data(), ancestry.size());
        const std::string otherAncestry = LmFuzz::AncestryInOtherOrder(Ancestry(2, true));
        writer.AddSection(AncestryType, 1, other, otherAncestry.data(), otherAncestry.size());
        writer.AddSection(PSC::ParameterSectionType, 0, native, parameters.data(), parameters.size());
        const std::string otherParameters = OtherOrder(PSC::ParameterSectionType, parameters);
        writer.AddSection(PSC::ParameterSectionType, 1, other, otherParameters.data(), otherParameters.size());
        writer.AddSection(PlainType, 0, native, "plain", 5);
        writer.AddSection(PlainType, 1, other, "other", 5);
        seeds.push_back(writer.ToBytes());
    }
    {
        // A script file without name, a large section beyond the first read
        // and an empty one.
        LPF::PartFileWriter writer(LPF::PartKind::Script);
        const std::string large = Ancestry(160, false);
        writer.AddSection(AncestryType, 0, native, large.data(), large.size());
        writer.AddSection(PlainType, 0, native, nullptr, 0);
        seeds.push_back(writer.ToBytes());
    }
    {
        // A directory longer than the first read.
        LPF::PartFileWriter writer(LPF::PartKind::Symbol);
        writer.SetDocumentName("Many");
        for (unsigned i = 0; i < 140; ++i) {
            const std::string bytes(1 + i % 7, static_cast<char>(i));
            writer.AddSection(PlainType, static_cast<std::uint8_t>(i), native, bytes.data(), bytes.size());
        }
        seeds.push_back(writer.ToBytes());
    }
    return seeds;
}
