// The text forms of GUIDs and UnIDs, as a configuration or a user gives
// them. A text that parses prints back to the same value.
#include "FuzzTarget.hpp"

#include "KR/GUID.hpp"

#include <cctype>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);  // terminated for the parsers

    KR::UnID id;
    if (KR::UnID::FromString(text.c_str(), &id) == KR::NoError) {
        KR::UnID back;
        LmFuzz::Expect(KR::UnID::FromString(id.ToString().c_str(), &back) == KR::NoError && back == id,
                       "a parsed UnID prints to a text that parses to it");
    }
    KR::GUID guid;
    if (KR::guidManager.FromText(text.c_str(), &guid) == KR::NoError) {
        KR::GUID back;
        LmFuzz::Expect(KR::guidManager.FromText(KR::guidManager.ToText(guid).c_str(), &back) == KR::NoError &&
                           KR::guidManager.IsEqual(back, guid),
                       "a parsed GUID prints to a text that parses to it");
    }
    return 0;
}

std::vector<std::string> LmFuzz::Seeds()
{
    KR::UnID id{};
    id.mainGuid = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
    id.revGuid = {0x99AABBCC, 0xDDEE, 0xFF00, {9, 10, 11, 12, 13, 14, 15, 16}};
    const std::string text = id.ToString();
    std::string lower = text;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return {text, lower, text.substr(1, 36), "{00000000-0000-0000-0000-000000000000}-{zz}", ""};
}
