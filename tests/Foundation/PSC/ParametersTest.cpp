#include "PSC/Parameters.hpp"

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

// Written and read back, every kind and the ends of names and values come
// back; a section of no parameters is valid. Damaged sections are the fuzz
// replay's; merging and the section handler are reached through the part
// table's tests and the tools.
TEST(ParameterSection, RoundTripAndRefusals)
{
    KR::ErrorCode err = KR::ErrBadFormat;
    Handle section(PSC::WriteParameters(Sample(), &err));
    ASSERT_NE(section.h, nullptr);
    EXPECT_EQ(err, KR::NoError);
    EXPECT_EQ(Read(section.h), Sample());
    EXPECT_EQ(section.Bytes().substr(0, 8), std::string("DRAP\x08\0\0\0", 8));  // tag, count 8, little-endian
    EXPECT_EQ(Read(Handle(PSC::WriteParameters({})).h), std::vector<PSC::Parameter>{});
    std::vector<PSC::Parameter> list;
    EXPECT_EQ(PSC::ReadParameters(nullptr, &list), KR::ErrNilHandle);

    // Names must be 1 to 31 bytes, kinds known.
    PSC::Parameter odd = Number("k", 1);
    odd.kind = static_cast<Kind>(9);
    for (const PSC::Parameter& bad : {Number("", 1), Number(std::string(32, 'n'), 1), odd}) {
        EXPECT_EQ(PSC::WriteParameters({Number("fine", 2), bad}, &err), nullptr) << bad.name;
        EXPECT_EQ(err, PSC::ErrBadParameter) << bad.name;
    }
}

}  // namespace
