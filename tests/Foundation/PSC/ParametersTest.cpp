#include "PSC/Parameters.hpp"

#include "LPF/ByteOrder.hpp"
#include "LPF/Sections.hpp"
#include "Support/Handles.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace {

using Kind = PSC::Parameter::Kind;

// Name, kind, number, integer, boolean, text.
PSC::Parameter Number(std::string n, double v) { return {std::move(n), Kind::Number, v, 0, false, ""}; }
PSC::Parameter Integer(std::string n, std::int32_t v) { return {std::move(n), Kind::Integer, 0.0, v, false, ""}; }
PSC::Parameter Boolean(std::string n, bool v) { return {std::move(n), Kind::Boolean, 0.0, 0, v, ""}; }
PSC::Parameter Text(std::string n, std::string v) { return {std::move(n), Kind::Text, 0.0, 0, false, std::move(v)}; }

using Handle = TestSupport::OwnedHandle;

std::vector<PSC::Parameter> Read(char** section)
{
    std::vector<PSC::Parameter> list;
    EXPECT_EQ(PSC::ReadParameters(section, &list), KR::NoError);
    return list;
}

std::vector<PSC::Parameter> Sample()
{
    return {Number("A", 1.25), Integer("n", -7), Boolean("on", true), Text("mat", "Oak"),
            Number("tiny", std::numeric_limits<double>::denorm_min()), Text("empty", ""),
            Text("bytes", std::string("a\0b\"c", 5)), Integer(std::string(31, 'x'), INT32_MIN)};
}

// --- Format -------------------------------------------------------------------

TEST(ParameterSection, RoundTripAndHeaderBytes)
{
    Handle section(PSC::WriteParameters(Sample()));
    ASSERT_NE(section.h, nullptr);
    EXPECT_EQ(Read(section.h), Sample());
    EXPECT_EQ(section.Bytes().substr(0, 8), std::string("DRAP\x08\0\0\0", 8));  // tag, count 8, little-endian
    EXPECT_EQ(Read(Handle(PSC::WriteParameters({})).h), std::vector<PSC::Parameter>{});
}

TEST(ParameterSection, WriteRefusesBadNames)
{
    PSC::Parameter odd = Number("k", 1);
    odd.kind = static_cast<Kind>(9);
    for (const PSC::Parameter& bad : {Number("", 1), Number(std::string(32, 'n'), 1), odd}) {
        KR::ErrorCode err = KR::NoError;
        EXPECT_EQ(PSC::WriteParameters({Number("fine", 2), bad}, &err), nullptr) << bad.name;
        EXPECT_EQ(err, PSC::ErrBadParameter) << bad.name;
    }
}

// One section for each kind of damage the reader checks; the fuzz replay
// covers damage at large.
TEST(ParameterSection, DamagedSectionsAreRefused)
{
    const std::string bytes = Handle(PSC::WriteParameters(Sample())).Bytes();
    // In a section of one boolean, offset 8 is its kind (1 to 4), 11 its
    // value (0 or 1).
    const std::string flag = Handle(PSC::WriteParameters({Boolean("b", false)})).Bytes();
    std::string badKind = flag, badBoolean = flag;
    badKind[8] = 5;
    badBoolean[11] = 2;
    for (const std::string& bad : {bytes.substr(0, bytes.size() - 1), bytes + "x", badKind, badBoolean}) {
        Handle h(bad);
        std::vector<PSC::Parameter> list = {Number("stale", 1)};
        EXPECT_EQ(PSC::ReadParameters(h.h, &list), PSC::ErrBadSection);
        EXPECT_TRUE(list.empty());
    }
    std::vector<PSC::Parameter> list;
    EXPECT_EQ(PSC::ReadParameters(nullptr, &list), KR::ErrNilHandle);
}

// --- Merging ------------------------------------------------------------------

class Merge : public ::testing::Test {
protected:
    // The parent has A, B, C; the part overrides B, redefines C with another
    // kind and adds D.
    Handle parent{PSC::WriteParameters({Number("A", 1), Number("B", 2), Integer("C", 3)})};
    Handle own{PSC::WriteParameters({Text("D", "mine"), Number("B", 20), Text("C", "other kind")})};

    std::vector<PSC::Parameter> Merged(char** p, char** o, PSC::ParHdlMergeType type)
    {
        Handle result(NewSyParHdlFromRef(p, o, nullptr, type));
        EXPECT_NE(result.h, nullptr);
        return result.h != nullptr ? Read(result.h) : std::vector<PSC::Parameter>{};
    }
};

// Keeping the own values takes the parent's list with the own values;
// taking the parent's values keeps the parent's; adding missing parameters
// keeps the own list and adds the rest. Parameters of the part alone come
// last in the first two.
TEST_F(Merge, EachMergeTypeOrdersAndChoosesItsWayAndBadInputsGiveNothing)
{
    const struct {
        PSC::ParHdlMergeType type;
        std::vector<PSC::Parameter> expected;
    } cases[] = {
        {PSC::KeepOwnValues, {Number("A", 1), Number("B", 20), Integer("C", 3), Text("D", "mine")}},
        {PSC::TakeParentValues, {Number("A", 1), Number("B", 2), Integer("C", 3), Text("D", "mine")}},
        {PSC::AddMissingParameters, {Text("D", "mine"), Number("B", 20), Text("C", "other kind"), Number("A", 1)}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Merged(parent.h, own.h, c.type), c.expected) << c.type;

    // A missing side gives the other; bad inputs give nothing.
    EXPECT_EQ(Merged(parent.h, nullptr, PSC::KeepOwnValues), Read(parent.h));
    EXPECT_EQ(NewSyParHdlFromRef(nullptr, nullptr, nullptr, PSC::KeepOwnValues), nullptr);
    EXPECT_EQ(NewSyParHdlFromRef(parent.h, own.h, nullptr, static_cast<PSC::ParHdlMergeType>(3)), nullptr);
    Handle damaged(parent.Bytes().substr(0, 12));
    EXPECT_EQ(NewSyParHdlFromRef(damaged.h, own.h, nullptr, PSC::KeepOwnValues), nullptr);
    // The inputs stay as they were and stay the caller's.
    EXPECT_EQ(Read(parent.h), (std::vector<PSC::Parameter>{Number("A", 1), Number("B", 2), Integer("C", 3)}));
}

// --- The section handler --------------------------------------------------------

class Handler : public ::testing::Test {
protected:
    void SetUp() override
    {
        PSC::InstallSectionHandler();
        handler = LPF::GetSectionHandler(PSC::ParameterSectionType);
        ASSERT_NE(handler, nullptr);
    }
    LPF::ISectionHandler* handler = nullptr;
};

// Converted to big-endian and back the bytes are the same; either order
// dumps the same values; a damaged section is refused and left alone.
TEST_F(Handler, ConvertsBothWaysDumpsAndRefusesDamage)
{
    Handle section(PSC::WriteParameters({Number("width", 1.5), Integer("n", -3), Boolean("on", false),
                                         Text("label", "say \"hi\"")}));
    const std::string native = section.Bytes();
    LPF::SectionDescriptor descriptor{1, LPF::NativePlatform, 0};
    KR::StringOChannel dump;
    ASSERT_EQ(handler->Dump(dump, &descriptor, section.h, true), KR::NoError);
    EXPECT_EQ(dump.GetText(), "Number of parameters: 4\nwidth = 1.5\nn = -3\non = false\nlabel = \"say \\\"hi\\\"\"\n");

    ASSERT_EQ(handler->ConvertToPlatform(&descriptor, section.h, LPF::OtherPlatform), KR::NoError);
    EXPECT_EQ(section.Bytes().substr(0, 13), std::string("PARD\0\0\0\x04\x01\x05" "wid", 13));
    EXPECT_EQ(handler->Validate(&descriptor, section.h), KR::NoError);
    KR::StringOChannel fromBig;
    ASSERT_EQ(handler->Dump(fromBig, &descriptor, section.h, true), KR::NoError);
    EXPECT_EQ(fromBig.GetText(), dump.GetText());
    ASSERT_EQ(handler->ConvertToNative(nullptr, &descriptor, section.h), KR::NoError);
    EXPECT_EQ(section.Bytes(), native);
    LPF::SectionDescriptor wrong{1, LPF::OtherPlatform, 0};
    EXPECT_EQ(handler->Validate(&wrong, section.h), PSC::ErrBadSection);  // native bytes read as big-endian

    Handle damaged(native.substr(0, native.size() - 1));
    EXPECT_EQ(handler->ConvertToPlatform(&descriptor, damaged.h, LPF::OtherPlatform), PSC::ErrBadSection);
    EXPECT_EQ(damaged.Bytes(), native.substr(0, native.size() - 1));
}

}  // namespace
