// Records filled from the first bytes of their files, with the part file
// object made only when first asked for: the record must carry exactly what
// an object made from the same file tells, and the object must come from the
// file as it is at that first use.
#include "PartTableTestSupport.hpp"

#include "AncestryInfo.hpp"
#include "LPF/ByteOrder.hpp"
#include "SectionTypes.hpp"

#include <random>
#include <tuple>

namespace PartTableTest {
namespace {

using LazyPartFile = LibrarySetFixture;

// The bytes of a part file named `name` in byte order `order`, after a
// section of `before` bytes, with an ancestry section of `count` ancestors
// (none for -1) cut by `cut` bytes.
std::string PartBytes(const std::string& name, int count, std::size_t before = 0, std::size_t cut = 0,
                      LPF::ByteOrder order = LPF::ByteOrder::Little)
{
    const LPF::SectionDescriptor descriptor{1, LPF::PlatformOfByteOrder(order), 0};
    std::string ancestry(4, count % 2 == 0 ? '\0' : '\1');
    LPF::Append32(ancestry, static_cast<std::uint32_t>(count), order);
    ancestry.append(24, '\0');
    for (int k = 1; k <= count; ++k)
        for (const KR::GUID& guid : {MakeUnID(100 + k, k).mainGuid, MakeUnID(100 + k, k).revGuid})
            LPF::AppendGUID(ancestry, guid, order);
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.SetOwnUnID(MakeUnID(7, static_cast<std::uint32_t>(name.size())));
    writer.SetPlaceable(name.size() % 2 == 0);
    writer.SetArchivable(true);
    writer.SetHeaderPlatform(descriptor.platform);
    writer.SetDocumentName(name);
    writer.AddSection(0x46494C4C, 0, descriptor, std::string(before, 'f').data(), before);
    if (count >= 0)
        writer.AddSection(LM::AncestrySectionType, 0, descriptor, ancestry.data(), ancestry.size() - cut);
    return writer.ToBytes();
}

// What a record tells of its file, or what an object made from the file
// tells (null: none can be made) in the same form.
using Values = std::tuple<std::string, KR::UnID, bool, bool, std::int32_t, bool, std::vector<KR::UnID>, bool, bool>;

Values FromObject(LPF::SymbolFile* object, const std::string& fallbackName)
{
    Values v{fallbackName, NULLUnID, false, false, 0, false, {}, false, object != nullptr};
    auto& [name, own, placeable, archivable, time, hasPath, ancestors, isTemplate, hasObject] = v;
    char** section = nullptr;
    if (object == nullptr || object->GetOwnUnID(&own) != 0 || object->IsPlaceable(&placeable) != 0 ||
        object->IsArchivable(&archivable) != 0 || object->GetModificationTime(&time) != 0)
        return v;
    if (char text[LM::DocumentNameSize]; object->GetDocumentName(text) == 0)
        name = text;
    if (object->GetSectionDataRef(LM::AncestrySectionType, 0, &section) == 0 && section != nullptr) {
        LM::AncestryInfo info(section);
        info.CheckAndFix(own);
        hasPath = true;
        ancestors.assign(info.GetAncestorsRef(), info.GetAncestorsRef() + info.GetAncestorsCount());
        isTemplate = info.IsTemplate();
    }
    return v;
}

// A record filled from each file against an object made from the same file:
// sound files of every shape and the damaged ones that no object comes from.
TEST_F(LazyPartFile, RecordsCarryWhatThePartFileObjectTells)
{
    const std::string good = PartBytes("Window", 3);
    std::mt19937 random(17);
    std::string noise(300, '\0');
    std::generate(noise.begin(), noise.end(), [&] { return static_cast<char>(random()); });
    LPF::PartFileWriter script(LPF::PartKind::Script);
    const std::vector<std::pair<std::string, std::string>> files = {
        {"good.gsm", good}, {"nameless.gsm", PartBytes("", 1)}, {"noancestry.gsm", PartBytes("Plain", -1)},
        {"utf8.gsm", PartBytes(std::string(29, 'a') + "\xC3\xA9\xC3\xA9", 0)}, {"big.gsm", PartBytes("Big", 40)},
        {"short.gsm", PartBytes("Short", 4, 0, 40)}, {"tiny.gsm", PartBytes("Tiny", 0, 0, 30)},
        {"far.gsm", PartBytes("Far", 2, 5000)}, {"other.gsm", PartBytes("Other", 3, 0, 0, LPF::ByteOrder::Big)},
        {"script.gsm", script.ToBytes()}, {"empty.gsm", ""}, {"noise.gsm", noise}, {"cut4.gsm", good.substr(0, 4)},
        {"cut40.gsm", good.substr(0, 40)}, {"cut70.gsm", good.substr(0, 70)}, {"cut.gsm", good.substr(0, 300)},
    };
    for (const auto& [fileName, bytes] : files) {
        SCOPED_TRACE(fileName);
        const IO::Location location = dir_.WriteFile(fileName, bytes);
        const std::int32_t i = set_->StoreSymbol(location, 0, -1);
        ASSERT_GE(i, 0);
        std::unique_ptr<LPF::SymbolFile> object;
        try {
            object = std::make_unique<LPF::SymbolFile>(location);
        } catch (const KR::KRException&) {
        }
        const LM::SymbolData* data = Table().Get(i)->GetSymbolData();
        LM::AncestryInfo info;
        const bool hasPath = set_->GetSymbolAncestryInfo(i, &info) == 0;
        Values record{DocumentName(i), data->GetOwnUnID(), data->placeable, data->archivable, 0, hasPath,
                      std::vector<KR::UnID>(info.GetAncestorsRef(), info.GetAncestorsRef() + info.GetAncestorsCount()),
                      set_->IsSymbolTemplate(i), set_->GetSymbolFile(i) != nullptr};
        set_->GetSymbolFileModTime(i, &std::get<4>(record));
        EXPECT_TRUE(record == FromObject(object.get(), fileName.substr(0, fileName.size() - 4)));
    }
}

// The object comes from the file as it is when first asked for; the record
// keeps what it was filled with. A file that went before that leaves the
// record without an object, also once the file is back.
TEST_F(LazyPartFile, ObjectIsMadeFromTheFileAsItIsAtFirstUse)
{
    const IO::Location changed = dir_.WriteFile("changed.gsm", PartBytes("Before", -1));
    const IO::Location gone = dir_.WriteFile("gone.gsm", PartBytes("Gone", -1));
    const std::int32_t a = set_->StoreSymbol(changed, 0, -1);
    const std::int32_t b = set_->StoreSymbol(gone, 0, -1);

    dir_.WriteFile("changed.gsm", PartBytes("After", -1));
    std::filesystem::remove(gone.GetText());
    LPF::SymbolFile* object = set_->GetSymbolFile(a);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->GetFullDocumentName(), "After");
    EXPECT_EQ(set_->GetSymbolFile(a), object);  // made once
    EXPECT_EQ(DocumentName(a), "Before");
    EXPECT_EQ(set_->GetSymbolFile(b), nullptr);
    dir_.WriteFile("gone.gsm", PartBytes("Gone", -1));
    EXPECT_EQ(set_->GetSymbolFile(b), nullptr);
    EXPECT_EQ(DocumentName(b), "Gone");
}

}  // namespace
}  // namespace PartTableTest
