// Records filled from the first bytes of their files, with the part file
// object made only when first asked for: the record must carry exactly what
// an object made from the same file tells, and the object must come from the
// file as it is at that first use.
#include "PartTableTestSupport.hpp"

#include "AncestryInfo.hpp"
#include "LPF/ByteOrder.hpp"
#include "SectionTypes.hpp"

#include <random>

namespace PartTableTest {
namespace {

using LazyPartFile = LibrarySetFixture;

// An ancestry section of `count` ancestors (ids 100 + k) in `order`; `cut`
// bytes are taken off its end.
std::string Ancestry(std::uint32_t count, bool isTemplate, LPF::ByteOrder order, std::size_t cut = 0)
{
    std::string bytes;
    bytes.push_back(isTemplate ? 1 : 0);
    bytes.append(3, '\0');
    LPF::Append32(bytes, count, order);
    bytes.append(24, '\0');
    for (std::uint32_t k = 1; k <= count; ++k) {
        const KR::UnID id = MakeUnID(100 + k, k);
        LPF::AppendGUID(bytes, id.mainGuid, order);
        LPF::AppendGUID(bytes, id.revGuid, order);
    }
    bytes.resize(bytes.size() - std::min(cut, bytes.size()));
    return bytes;
}

// The bytes of a part file of the first kind named `name` with `ancestry`
// (none when empty), after a section of `before` bytes.
std::string PartBytes(const std::string& name, const std::string& ancestry, std::size_t before = 0,
                      LPF::ByteOrder order = LPF::ByteOrder::Little)
{
    const std::uint32_t platform = LPF::PlatformOfByteOrder(order);
    LPF::PartFileWriter writer(LPF::PartKind::Symbol);
    writer.SetOwnUnID(MakeUnID(7, static_cast<std::uint32_t>(name.size())));
    writer.SetPlaceable(name.size() % 2 == 0);
    writer.SetArchivable(true);
    EXPECT_EQ(writer.SetHeaderPlatform(platform), 0);
    EXPECT_EQ(writer.SetDocumentName(name), 0);
    if (before != 0) {
        const std::string filler(before, 'f');
        writer.AddSection(0x46494C4C, 0, LPF::SectionDescriptor{1, platform, 0}, filler.data(), filler.size());
    }
    if (!ancestry.empty())
        writer.AddSection(LM::AncestrySectionType, 0, LPF::SectionDescriptor{1, platform, 0}, ancestry.data(),
                          ancestry.size());
    return writer.ToBytes();
}

// A record filled from each file against an object made from the same file:
// sound files of every shape and the damaged ones that no object comes from.
TEST_F(LazyPartFile, RecordsCarryWhatThePartFileObjectTells)
{
    using LPF::ByteOrder;
    const std::string good = PartBytes("Window", Ancestry(3, true, ByteOrder::Little));
    std::mt19937 random(17);
    std::string noise(300, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    LPF::PartFileWriter script(LPF::PartKind::Script);
    script.SetDocumentName("Script");
    const std::vector<std::pair<std::string, std::string>> files = {
        {"good.gsm", good},
        {"nameless.gsm", PartBytes("", Ancestry(1, false, ByteOrder::Little))},
        {"utf8.gsm", PartBytes(std::string(29, 'a') + "\xC3\xA9\xC3\xA9", Ancestry(0, false, ByteOrder::Little))},
        {"noancestry.gsm", PartBytes("Plain", "")},
        {"shortancestry.gsm", PartBytes("Short", Ancestry(4, false, ByteOrder::Little, 40))},
        {"tinyancestry.gsm", PartBytes("Tiny", "xy")},
        {"farancestry.gsm", PartBytes("Far", Ancestry(2, false, ByteOrder::Little), 5000)},
        {"bigancestry.gsm", PartBytes("Big", Ancestry(40, false, ByteOrder::Little))},
        {"otherorder.gsm", PartBytes("Other", Ancestry(2, true, ByteOrder::Big), 0, ByteOrder::Big)},
        {"script.gsm", script.ToBytes()},
        {"empty.gsm", ""},
        {"noise.gsm", noise},
        {"cut4.gsm", good.substr(0, 4)},
        {"cut40.gsm", good.substr(0, 40)},
        {"cut70.gsm", good.substr(0, 70)},
        {"cutsection.gsm", good.substr(0, good.size() - 10)},
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
        KR::UnID own{};
        EXPECT_EQ(set_->GetSymbolOwnUnID(i, &own), 0);
        char name[LM::DocumentNameSize] = {};
        if (object == nullptr || object->GetDocumentName(name) != 0)
            std::strcpy(name, fileName.substr(0, fileName.size() - 4).c_str());  // the fallback name
        EXPECT_EQ(DocumentName(i), name);

        LM::AncestryInfo expected;
        bool hasPath = false;
        if (object != nullptr) {
            KR::UnID id{};
            std::int32_t time = 0, objectTime = 1;
            object->GetOwnUnID(&id);
            EXPECT_EQ(own, id);
            const LM::SymbolData* data = Table().Get(i)->GetSymbolData();
            bool flag = false;
            EXPECT_EQ(object->IsPlaceable(&flag), 0);
            EXPECT_EQ(data->placeable, flag);
            EXPECT_EQ(object->IsArchivable(&flag), 0);
            EXPECT_EQ(data->archivable, flag);
            EXPECT_EQ(set_->GetSymbolFileModTime(i, &time), 0);
            EXPECT_EQ(object->GetModificationTime(&objectTime), 0);
            EXPECT_EQ(time, objectTime);
            char** section = nullptr;
            if (object->GetSectionDataRef(LM::AncestrySectionType, 0, &section) == 0 && section != nullptr) {
                hasPath = true;
                expected.SetAncestrySection(section);
                expected.CheckAndFix(id);
            }
        } else {
            EXPECT_EQ(own, NULLUnID);
        }
        LM::AncestryInfo read;
        EXPECT_EQ(set_->GetSymbolAncestryInfo(i, &read) == 0, hasPath);
        EXPECT_TRUE(read == expected);
        EXPECT_EQ(set_->IsSymbolTemplate(i), expected.IsTemplate());
        // The object that the record hands out is there exactly when one can
        // be made from the file.
        EXPECT_EQ(set_->GetSymbolFile(i) != nullptr, object != nullptr);
    }
}

// The object comes from the file as it is when first asked for; the record
// keeps what it was filled with. A file that went before that leaves the
// record without an object, also once the file is back.
TEST_F(LazyPartFile, ObjectIsMadeFromTheFileAsItIsAtFirstUse)
{
    const IO::Location changed = dir_.WriteFile("changed.gsm", PartBytes("Before", ""));
    const IO::Location gone = dir_.WriteFile("gone.gsm", PartBytes("Gone", ""));
    const std::int32_t a = set_->StoreSymbol(changed, 0, -1);
    const std::int32_t b = set_->StoreSymbol(gone, 0, -1);

    dir_.WriteFile("changed.gsm", PartBytes("After", ""));
    std::filesystem::remove(gone.GetText());
    LPF::SymbolFile* object = set_->GetSymbolFile(a);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->GetFullDocumentName(), "After");
    EXPECT_EQ(set_->GetSymbolFile(a), object);  // made once
    EXPECT_EQ(DocumentName(a), "Before");
    EXPECT_EQ(set_->GetSymbolFile(b), nullptr);
    dir_.WriteFile("gone.gsm", PartBytes("Gone", ""));
    EXPECT_EQ(set_->GetSymbolFile(b), nullptr);
    EXPECT_EQ(DocumentName(b), "Gone");
}

}  // namespace
}  // namespace PartTableTest
