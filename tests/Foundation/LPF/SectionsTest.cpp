#include "LPF/ByteOrder.hpp"
#include "LPF/Sections.hpp"

#include <gtest/gtest.h>

namespace {

class NullHandler : public LPF::ISectionHandler {
public:
    KR::ErrorCode ConvertToPlatform(LPF::SectionDescriptor*, char**, std::uint32_t) override { return 0; }
    KR::ErrorCode ConvertToNative(void*, LPF::SectionDescriptor*, char**) override { return 0; }
    KR::ErrorCode Validate(const LPF::SectionDescriptor*, char**) override { return 0; }
    KR::ErrorCode Dump(KR::OChannel&, const LPF::SectionDescriptor*, char**, bool) override { return 0; }
    bool CanConvert() const override { return false; }
};

TEST(SectionHandlers, RegistrationReplacesAndRefusesNull)
{
    constexpr std::uint32_t type = LPF::MakeSectionType('R', 'E', 'G', '1');
    NullHandler first, second;
    EXPECT_EQ(LPF::GetSectionHandler(type), nullptr);
    EXPECT_EQ(LPF::InstallSectionHandler(type, nullptr), KR::ErrParam);
    EXPECT_EQ(LPF::GetSectionHandler(type), nullptr);
    ASSERT_EQ(LPF::InstallSectionHandler(type, &first), KR::NoError);
    EXPECT_EQ(LPF::GetSectionHandler(type), &first);
    ASSERT_EQ(LPF::InstallSectionHandler(type, &second), KR::NoError);
    EXPECT_EQ(LPF::GetSectionHandler(type), &second);
    EXPECT_EQ(LPF::GetSectionHandler(LPF::MakeSectionType('R', 'E', 'G', '2')), nullptr);
}

// A registration made while another library's static objects are built.
NullHandler staticHandler;
const bool registeredStatically =
    LPF::InstallSectionHandler(LPF::MakeSectionType('S', 'T', 'A', 'T'), &staticHandler) == KR::NoError;

TEST(SectionHandlers, RegistrationDuringStaticInitialisationHolds)
{
    EXPECT_TRUE(registeredStatically);
    EXPECT_EQ(LPF::GetSectionHandler(LPF::MakeSectionType('S', 'T', 'A', 'T')), &staticHandler);
}

TEST(SectionTypes, FourCharacterCodes)
{
    EXPECT_EQ(LPF::MakeSectionType('A', 'N', 'C', 'S'), 0x414E4353u);
    char text[5];
    LPF::SectionTypeToText(0x50415244u, text);
    EXPECT_STREQ(text, "PARD");
    LPF::SectionTypeToText(0x41000142u, text);
    EXPECT_STREQ(text, "A??B");
}

TEST(ByteOrderHelpers, ValuesAndGUIDsInBothOrders)
{
    unsigned char b[16];
    LPF::Store32(b, 0x01020304u, LPF::ByteOrder::Big);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[3], 4);
    EXPECT_EQ(LPF::Load32(b, LPF::ByteOrder::Little), 0x04030201u);
    LPF::Store64(b, 0x0102030405060708ull, LPF::ByteOrder::Little);
    EXPECT_EQ(b[0], 8);
    EXPECT_EQ(LPF::Load64(b, LPF::ByteOrder::Big), 0x0807060504030201ull);

    KR::GUID g;
    g.data1 = 0xA1A2A3A4;
    g.data2 = 0xB1B2;
    g.data3 = 0xC1C2;
    for (int i = 0; i < 8; ++i)
        g.data4[i] = static_cast<std::uint8_t>(i);
    LPF::StoreGUID(b, g, LPF::ByteOrder::Big);
    EXPECT_EQ(b[0], 0xA1);
    EXPECT_EQ(b[4], 0xB1);
    EXPECT_EQ(b[6], 0xC1);
    EXPECT_EQ(b[8], 0);
    EXPECT_EQ(b[15], 7);
    KR::GUID back = LPF::LoadGUID(b, LPF::ByteOrder::Big);
    EXPECT_EQ(back.data1, g.data1);
    EXPECT_EQ(back.data2, g.data2);
    EXPECT_EQ(back.data3, g.data3);
    EXPECT_EQ(std::memcmp(back.data4, g.data4, 8), 0);

    LPF::ByteOrder order;
    EXPECT_TRUE(LPF::ByteOrderOfPlatform(0x4D4D, &order));
    EXPECT_EQ(order, LPF::ByteOrder::Big);
    EXPECT_FALSE(LPF::ByteOrderOfPlatform(0x1234, &order));
}

}  // namespace
