#include "PSC/Parameters.hpp"

#include "KR/Memory.hpp"
#include "LPF/ByteOrder.hpp"
#include "LPF/Sections.hpp"

#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>

namespace PSC {

namespace {

using LPF::ByteOrder;

// Section layout (docs/formats/parameter-section.md):
//   header: tag 'PARD' (uint32), parameter count (uint32)
//   record: kind (1 byte), name length n (1 byte, 1..31), n name bytes, value
//   value:  Number 8-byte IEEE double, Integer int32, Boolean 1 byte (0 or 1),
//           Text uint32 length + bytes
constexpr std::size_t HeaderSize = 8;

bool IsKnownKind(std::uint8_t kind) noexcept
{
    return kind >= static_cast<std::uint8_t>(Parameter::Kind::Number) &&
           kind <= static_cast<std::uint8_t>(Parameter::Kind::Text);
}

// Walks a section in byte order `order`, checking every length against the
// section's size before it is used. With `parameters` it collects them; with
// `swap` it reverses every multi-byte value in place once the whole section
// has been checked (so a damaged section is left untouched).
KR::ErrorCode Walk(unsigned char* data, std::size_t size, ByteOrder order, std::vector<Parameter>* parameters,
                   bool swap)
{
    if (size < HeaderSize || LPF::Load32(data, order) != ParameterSectionType)
        return ErrBadSection;
    const std::uint32_t count = LPF::Load32(data + 4, order);
    // Every record takes at least 4 bytes: a count beyond that is damage,
    // and checking it first bounds what is reserved below.
    if (count > (size - HeaderSize) / 4)
        return ErrBadSection;
    if (parameters != nullptr) {
        parameters->clear();
        parameters->reserve(count);
    }
    // Offsets of the multi-byte values, and their widths, for the swap.
    std::vector<std::pair<std::size_t, std::uint8_t>> values;
    if (swap)
        values.reserve(count);
    std::size_t at = HeaderSize;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (size - at < 2)
            return ErrBadSection;
        const std::uint8_t kind = data[at];
        const std::uint8_t nameLength = data[at + 1];
        at += 2;
        if (!IsKnownKind(kind) || nameLength == 0 || nameLength > MaxParameterNameLength || size - at < nameLength)
            return ErrBadSection;
        Parameter p;
        if (parameters != nullptr) {
            p.name.assign(reinterpret_cast<const char*>(data + at), nameLength);
            p.kind = static_cast<Parameter::Kind>(kind);
        }
        at += nameLength;
        switch (static_cast<Parameter::Kind>(kind)) {
        case Parameter::Kind::Number:
            if (size - at < 8)
                return ErrBadSection;
            p.number = std::bit_cast<double>(LPF::Load64(data + at, order));
            values.emplace_back(at, 8);
            at += 8;
            break;
        case Parameter::Kind::Integer:
            if (size - at < 4)
                return ErrBadSection;
            p.integer = static_cast<std::int32_t>(LPF::Load32(data + at, order));
            values.emplace_back(at, 4);
            at += 4;
            break;
        case Parameter::Kind::Boolean:
            if (size - at < 1 || data[at] > 1)
                return ErrBadSection;
            p.boolean = data[at] != 0;
            at += 1;
            break;
        case Parameter::Kind::Text: {
            if (size - at < 4)
                return ErrBadSection;
            const std::uint32_t length = LPF::Load32(data + at, order);
            values.emplace_back(at, 4);
            at += 4;
            if (size - at < length)
                return ErrBadSection;
            if (parameters != nullptr)
                p.text.assign(reinterpret_cast<const char*>(data + at), length);
            at += length;
            break;
        }
        }
        if (parameters != nullptr)
            parameters->push_back(std::move(p));
        if (!swap)
            values.clear();
    }
    if (at != size)
        return ErrBadSection;  // bytes after the last record
    if (swap) {
        LPF::ReverseBytes(data, 4);
        LPF::ReverseBytes(data + 4, 4);
        for (auto [offset, width] : values)
            LPF::ReverseBytes(data + offset, width);
    }
    return KR::NoError;
}

KR::ErrorCode WalkHandle(char** section, ByteOrder order, std::vector<Parameter>* parameters, bool swap)
{
    if (section == nullptr || !KR::bmManager.IsHandle(section))
        return KR::ErrNilHandle;
    const std::size_t size = KR::bmManager.GetHandleSize(section);
    try {
        return Walk(reinterpret_cast<unsigned char*>(*section), size, order, parameters, swap);
    } catch (const std::bad_alloc&) {
        return KR::ErrMemFull;
    }
}

void AppendParameter(std::string& out, const Parameter& p, ByteOrder order)
{
    out.push_back(static_cast<char>(p.kind));
    out.push_back(static_cast<char>(p.name.size()));
    out += p.name;
    switch (p.kind) {
    case Parameter::Kind::Number:
        LPF::Append64(out, std::bit_cast<std::uint64_t>(p.number), order);
        break;
    case Parameter::Kind::Integer:
        LPF::Append32(out, static_cast<std::uint32_t>(p.integer), order);
        break;
    case Parameter::Kind::Boolean:
        out.push_back(p.boolean ? 1 : 0);
        break;
    case Parameter::Kind::Text:
        LPF::Append32(out, static_cast<std::uint32_t>(p.text.size()), order);
        out += p.text;
        break;
    }
}

const Parameter* FindByName(const std::vector<Parameter>& list, const std::string& name) noexcept
{
    for (const Parameter& p : list)
        if (p.name == name)
            return &p;
    return nullptr;
}

// The value of `p` printed for a dump.
std::string ValueText(const Parameter& p)
{
    switch (p.kind) {
    case Parameter::Kind::Number: {
        char buffer[32];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, p.number);
        return std::string(buffer, result.ptr);
    }
    case Parameter::Kind::Integer:
        return std::to_string(p.integer);
    case Parameter::Kind::Boolean:
        return p.boolean ? "true" : "false";
    case Parameter::Kind::Text: {
        // Quoted, so that a text "12" is not taken for a number.
        std::string out = "\"";
        for (char c : p.text) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += c;
            } else if (c == '\n') {
                out += "\\n";
            } else if (static_cast<unsigned char>(c) < 0x20) {
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
                out += hex;
            } else {
                out += c;
            }
        }
        return out + "\"";
    }
    }
    return {};
}

class ParameterSectionHandler final : public LPF::ISectionHandler {
public:
    KR::ErrorCode ConvertToPlatform(LPF::SectionDescriptor* descriptor, char** section,
                                    std::uint32_t targetPlatform) override
    {
        if (descriptor == nullptr)
            return KR::ErrParam;
        ByteOrder from, to;
        if (!LPF::ByteOrderOfPlatform(descriptor->platform, &from) ||
            !LPF::ByteOrderOfPlatform(targetPlatform, &to))
            return KR::ErrParam;
        if (from == to) {
            descriptor->platform = targetPlatform;
            return KR::NoError;
        }
        KR::ErrorCode err = WalkHandle(section, from, nullptr, true);
        if (err == KR::NoError)
            descriptor->platform = targetPlatform;
        return err;
    }

    KR::ErrorCode ConvertToNative(void*, LPF::SectionDescriptor* descriptor, char** section) override
    {
        return ConvertToPlatform(descriptor, section, LPF::NativePlatform);
    }

    KR::ErrorCode Validate(const LPF::SectionDescriptor* descriptor, char** section) override
    {
        ByteOrder order = ByteOrder::Little;
        if (descriptor != nullptr && !LPF::ByteOrderOfPlatform(descriptor->platform, &order))
            return ErrBadSection;
        return WalkHandle(section, order, nullptr, false);
    }

    KR::ErrorCode Dump(KR::OChannel& output, const LPF::SectionDescriptor* descriptor, char** section,
                       bool detailed) override
    {
        ByteOrder order = ByteOrder::Little;
        if (descriptor != nullptr && !LPF::ByteOrderOfPlatform(descriptor->platform, &order))
            return ErrBadSection;
        std::vector<Parameter> parameters;
        KR::ErrorCode err = WalkHandle(section, order, &parameters, false);
        if (err != KR::NoError)
            return err;
        output << "Number of parameters: " << static_cast<std::uint32_t>(parameters.size()) << "\n";
        if (detailed)
            for (const Parameter& p : parameters)
                output << p.name << " = " << ValueText(p) << "\n";
        return output.GetStatus();
    }

    bool CanConvert() const override { return true; }
};

}  // namespace

KR::ErrorCode ReadParameters(char** section, std::vector<Parameter>* parameters)
{
    if (parameters == nullptr)
        return KR::ErrParam;
    KR::ErrorCode err = WalkHandle(section, ByteOrder::Little, parameters, false);
    if (err == KR::ErrNilHandle && section != nullptr)
        err = ErrBadSection;
    if (err != KR::NoError)
        parameters->clear();
    return err;
}

char** WriteParameters(const std::vector<Parameter>& parameters, KR::ErrorCode* error)
{
    auto fail = [error](KR::ErrorCode code) -> char** {
        if (error != nullptr)
            *error = code;
        return nullptr;
    };
    std::string bytes;
    try {
        LPF::Append32(bytes, ParameterSectionType, ByteOrder::Little);
        LPF::Append32(bytes, static_cast<std::uint32_t>(parameters.size()), ByteOrder::Little);
        for (const Parameter& p : parameters) {
            if (p.name.empty() || p.name.size() > MaxParameterNameLength || !IsKnownKind(static_cast<std::uint8_t>(p.kind)) ||
                p.text.size() > 0xFFFFFFFFu)
                return fail(ErrBadParameter);
            AppendParameter(bytes, p, ByteOrder::Little);
        }
    } catch (const std::bad_alloc&) {
        return fail(KR::ErrMemFull);
    }
    if (parameters.size() > 0xFFFFFFFFu)
        return fail(ErrBadParameter);
    char** handle = KR::bmManager.NewHandle(bytes.size());
    if (handle == nullptr)
        return fail(KR::ErrMemFull);
    std::memcpy(*handle, bytes.data(), bytes.size());
    if (error != nullptr)
        *error = KR::NoError;
    return handle;
}

void InstallSectionHandler()
{
    static ParameterSectionHandler handler;
    LPF::InstallSectionHandler(ParameterSectionType, &handler);
}

}  // namespace PSC

char** NewSyParHdlFromRef(char** parent, char** own, char** extra, PSC::ParHdlMergeType mergeType)
{
    using PSC::Parameter;
    if (extra != nullptr || (parent == nullptr && own == nullptr))
        return nullptr;
    if (mergeType != PSC::KeepOwnValues && mergeType != PSC::TakeParentValues &&
        mergeType != PSC::AddMissingParameters)
        return nullptr;
    try {
        std::vector<Parameter> parents, owns;
        if (parent != nullptr && PSC::ReadParameters(parent, &parents) != KR::NoError)
            return nullptr;
        if (own != nullptr && PSC::ReadParameters(own, &owns) != KR::NoError)
            return nullptr;

        std::vector<Parameter> merged;
        merged.reserve(parents.size() + owns.size());
        if (mergeType == PSC::AddMissingParameters) {
            merged = owns;
            for (const Parameter& p : parents)
                if (PSC::FindByName(owns, p.name) == nullptr)
                    merged.push_back(p);
        } else {
            for (const Parameter& p : parents) {
                const Parameter* mine = PSC::FindByName(owns, p.name);
                if (mergeType == PSC::KeepOwnValues && mine != nullptr && mine->kind == p.kind) {
                    Parameter q = *mine;
                    q.name = p.name;
                    merged.push_back(std::move(q));
                } else {
                    merged.push_back(p);
                }
            }
            for (const Parameter& p : owns)
                if (PSC::FindByName(parents, p.name) == nullptr)
                    merged.push_back(p);
        }
        return PSC::WriteParameters(merged);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
