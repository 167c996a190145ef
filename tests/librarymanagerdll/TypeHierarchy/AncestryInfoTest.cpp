#include "AncestryInfo.hpp"
#include "LibraryManagerModule.hpp"
#include "SectionTypes.hpp"
#include "TypeHierarchy/AncestrySectionHandler.hpp"
#include "librarymanagerdll/TypeHierarchy/TestIds.hpp"

#include "KR/DebugChannel.hpp"
#include "KR/Memory.hpp"
#include "Support/Handles.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using LM::AncestryInfo;
using TestIds::LE32;
using TestIds::U;

namespace {

using Handle = TestSupport::OwnedHandle;

std::string Header(std::uint8_t flag, std::uint32_t count)
{
    return std::string(1, char(flag)) + std::string(3, '\0') + LE32(count) + std::string(24, '\0');
}

AncestryInfo Info(std::initializer_list<KR::UnID> ids, bool isTemplate = false)
{
    AncestryInfo info;
    for (const KR::UnID& id : ids)
        info.Append(id);
    if (isTemplate)
        info.MarkAsTemplate();
    return info;
}

std::string Listed(const AncestryInfo& info)
{
    std::string s;
    for (std::uint32_t k = 1; k <= info.GetAncestorsCount(); ++k)
        s += std::to_string(info.GetAncestorRef(k).mainGuid.data1) + ".";
    return s;
}

}  // namespace

TEST(AncestryInfoTest, ParentAndAncestorQueries)
{
    EXPECT_EQ(AncestryInfo().GetParentID(), KR::UnID{});
    AncestryInfo abc = Info({U(1), U(2), U(3)});
    EXPECT_EQ(abc.GetParentID(), U(3));
    EXPECT_TRUE(abc.IsAncestor(U(2)));
    EXPECT_FALSE(abc.IsAncestor(U(2, 5)));  // same main GUID, other revision

    EXPECT_EQ(abc.SetAncestor(2, U(8)), KR::NoError);
    EXPECT_TRUE(abc != Info({U(1), U(8), U(3, 1)}));  // whole UnIDs compared
    EXPECT_TRUE(abc != Info({U(1), U(8)}));
    EXPECT_TRUE(Info({U(1)}, true) == Info({U(1)}, false));  // but not the flag
    KR::DebugCapture capture;
    EXPECT_NE(abc.SetAncestor(4, U(9)), KR::NoError);  // never appends
    EXPECT_EQ(Listed(abc), "1.8.3.");
}

// ---------------------------------------------------------------------------
// The section handler

namespace {

// GUIDs with every field set.
const KR::GUID mainGuid{0x11223344, 0x5566, 0x7788, {0x99, 0x9A, 0x9B, 0x9C, 0x9D, 0x9E, 0x9F, 0xA0}};
const KR::GUID revGuid{0x01020304, 0x0506, 0x0708, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}};

// The big-endian section of one template ancestor {mainGuid, revGuid}.
std::string ForeignSection()
{
    std::string s = std::string("\x01\0\0\0" "\0\0\0\x01", 8) + std::string(24, '\0');
    s += std::string("\x11\x22\x33\x44\x55\x66\x77\x88\x99\x9A\x9B\x9C\x9D\x9E\x9F\xA0", 16);
    s += std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x01\x02\x03\x04\x05\x06\x07\x08", 16);
    return s;
}

std::string NativeSection()
{
    return TestIds::Written(Info({KR::UnID{mainGuid, revGuid}}, true));
}

}  // namespace

TEST(AncestrySectionHandlerTest, IsRegisteredAndConvertsEitherWay)
{
    EXPECT_NE(dynamic_cast<LM::AncestrySectionHandler*>(LPF::GetSectionHandler(LM::AncestrySectionType)), nullptr);
    // The parameter section's handler comes with the module as well.
    ASSERT_NE(LPF::GetSectionHandler(LM::ParameterSectionType), nullptr);
    LM::AncestrySectionHandler handler;
    Handle section(ForeignSection());
    LPF::SectionDescriptor d{3, LPF::OtherPlatform, 0};
    ASSERT_EQ(handler.ConvertToNative(nullptr, &d, section.h), KR::NoError);
    EXPECT_EQ(d.platform, LPF::NativePlatform);
    EXPECT_EQ(section.Bytes(), NativeSection());
    // Already in the target order: nothing changes.
    EXPECT_EQ(handler.ConvertToPlatform(&d, section.h, LPF::NativePlatform), KR::NoError);
    EXPECT_EQ(section.Bytes(), NativeSection());

    // Out of this byte order the count is read after its conversion, so a
    // section with ancestors does not fit its converted count: refused,
    // bytes and descriptor kept. A header alone converts.
    EXPECT_EQ(handler.ConvertToPlatform(&d, section.h, LPF::OtherPlatform), LM::ErrDamagedData);
    EXPECT_EQ(d.platform, LPF::NativePlatform);
    EXPECT_EQ(section.Bytes(), NativeSection());
    Handle header(Header(1, 0));
    std::memcpy(*header.h + 8, "\x01\x02\x03\x04", 4);
    ASSERT_EQ(handler.ConvertToPlatform(&d, header.h, LPF::OtherPlatform), KR::NoError);
    EXPECT_EQ(header.Bytes(), std::string("\x01\0\0\0" "\0\0\0\0" "\x04\x03\x02\x01", 12) + std::string(20, '\0'));

    // Into this order: a block whose count does not fit, or shorter than a
    // header, is refused and left as it came.
    std::string bytes = ForeignSection();
    bytes[7] = 2;
    Handle mismatch(bytes);
    LPF::SectionDescriptor foreign{0, LPF::OtherPlatform, 0};
    EXPECT_EQ(handler.ConvertToNative(nullptr, &foreign, mismatch.h), LM::ErrDamagedData);
    EXPECT_EQ(mismatch.Bytes(), bytes);
    Handle tiny(std::string(31, '\0'));
    EXPECT_EQ(handler.ConvertToNative(nullptr, &foreign, tiny.h), LM::ErrDamagedData);
}
