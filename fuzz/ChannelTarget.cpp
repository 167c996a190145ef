// The binary channel protocols, which every object's Read goes through.
// Byte 0 of the input chooses the byte order and how many reads follow
// (up to 31), the next bytes which reads they are; the rest is the stream.
// A read that fails leaves the stream to the next read: the channel must
// stay usable and never read past its data.
#include "FuzzTarget.hpp"

#include "KR/Channel.hpp"
#include "KR/Object.hpp"
#include "KR/String.hpp"

namespace {

const KR::ClassInfo frameClass("LMFuzzFrame", KR::ClassVersion{1, 0});

// One typed read whose outcome only has to be safe.
template <typename T>
void ReadValue(KR::IChannel& channel)
{
    T value;
    (void)channel.Read(value);
}

void ReadOne(KR::IChannel& channel, std::uint8_t op)
{
    switch (op % 12) {
    case 0:
        ReadValue<std::uint8_t>(channel);
        break;
    case 1:
        ReadValue<std::int16_t>(channel);
        break;
    case 2:
        ReadValue<std::uint32_t>(channel);
        break;
    case 3:
        ReadValue<bool>(channel);
        break;
    case 4:
        ReadValue<char>(channel);
        break;
    case 5: {
        // A C string into a buffer of 1 to 16 bytes.
        const std::size_t capacity = 1 + (op >> 4);
        char buffer[16];
        if (channel.Read(buffer, capacity) == KR::NoError)
            LmFuzz::Expect(std::char_traits<char>::length(buffer) < capacity, "a read C string fits its buffer");
        break;
    }
    case 6: {
        std::string text;
        const std::size_t max = op >> 4;
        if (channel.ReadString(&text, max) == KR::NoError)
            LmFuzz::Expect(text.size() <= max, "a read string keeps to its limit");
        break;
    }
    case 7: {
        std::string text;
        (void)channel.ReadString(&text);
        break;
    }
    case 8: {
        KR::String text;
        (void)channel.Read(text);
        break;
    }
    case 9: {
        KR::InputFrame frame(channel, frameClass);
        if (frame.GetStatus() == KR::NoError && (op & 0x10) != 0)
            (void)frame.Close();
        break;
    }
    case 10: {
        char buffer[64];
        std::size_t got = 0;
        (void)channel.ReadBin(buffer, op >> 2 & 63, &got);
        LmFuzz::Expect(got <= (op >> 2 & 63u), "a binary read stays in its buffer");
        break;
    }
    default: {
        std::int32_t v;
        (void)channel.Read(v);
        break;
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    LmFuzz::Bytes input(data, size);
    const std::uint8_t head = input.Byte();
    const KR::IProtocol& protocol = (head & 1) != 0 ? static_cast<const KR::IProtocol&>(KR::binRevIProtocol)
                                                    : static_cast<const KR::IProtocol&>(KR::binIProtocol);
    std::vector<std::uint8_t> ops(head >> 3);
    for (std::uint8_t& op : ops)
        op = input.Byte();
    const std::string_view stream = input.Rest();
    KR::StringIChannel channel(std::string(stream), protocol);
    for (std::uint8_t op : ops) {
        const std::size_t before = channel.GetRemaining();
        ReadOne(channel, op);
        LmFuzz::Expect(channel.GetRemaining() <= before, "a read never moves back");
    }
    return 0;
}

std::vector<std::string> LmFuzz::Seeds()
{
    std::vector<std::string> seeds;
    for (const KR::OProtocol* protocol : {&KR::binOProtocol, &KR::binRevOProtocol}) {
        KR::StringOChannel out(*protocol);
        std::string ops;
        out.Write(std::uint8_t{7});
        ops += '\0';
        out.Write(std::int16_t{-2});
        ops += '\1';
        out.Write(std::uint32_t{0x01020304});
        ops += '\2';
        out.Write(true);
        ops += '\3';
        out.Write('c');
        ops += '\4';
        out.Write("cstr");
        ops += static_cast<char>(5 | 0x70);
        out.WriteString("limited");
        ops += static_cast<char>(6 | 0x80);
        out.WriteString("any string");
        ops += '\7';
        out.Write(KR::String("kr string"));
        ops += '\x08';
        {
            KR::OutputFrame frame(out, frameClass);
            out.Write(std::int32_t{-5});
        }
        ops += static_cast<char>(9 | 0x10);
        ops += '\x0B';
        ops += '\x0B';
        ops += static_cast<char>(10 | (8 << 2));
        const char head = static_cast<char>((ops.size() << 3) | (protocol == &KR::binRevOProtocol ? 1 : 0));
        seeds.push_back(std::string(1, head) + ops + out.Take());
    }
    return seeds;
}
