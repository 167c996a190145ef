// Builds compiled script code container files for tests, the fuzz target
// and the benchmark: a header, the item table, then each item's code and
// ancestry section, as the container lays them out.
#pragma once

#include "IO/Location.hpp"
#include "KR/Channel.hpp"
#include "KR/GUID.hpp"
#include "PartTable/PscBinCodesContainer.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace PscBinCodesTest {

struct ItemSpec {
    KR::UnID id{};
    IO::Location location;
    std::int16_t scriptType = 1;
    std::int32_t useCount = 1;
    std::int32_t lastUse = 0;
    std::string code;
    std::string ancestry;
};

inline std::string BuildContainerFile(std::int32_t timestamp, const std::vector<ItemSpec>& rows,
                                      std::uint32_t magic = LM::PscBinCodesContainer::Magic)
{
    std::vector<LM::PscBinCodeItem> items;
    for (const ItemSpec& row : rows) {
        LM::PscBinCodeItem item(row.id, row.location, row.scriptType);
        item.useCount = row.useCount;
        item.lastUse = row.lastUse;
        item.codeSize = static_cast<std::uint32_t>(row.code.size());
        item.ancestrySize = static_cast<std::uint32_t>(row.ancestry.size());
        items.push_back(std::move(item));
    }
    const auto header = [&](KR::OChannel& out) {
        out.Write(magic);
        out.Write(timestamp);
        out.Write(LM::PscBinCodesContainer::ArrayVersion);
        out.Write(static_cast<std::uint32_t>(items.size()));
        out.Write(static_cast<std::uint32_t>(LM::PscBinCodesContainer::AllocationStep));
        out.Write(LM::PscBinCodeItem::RecordSize);
        for (const LM::PscBinCodeItem& item : items)
            item.Write(out);
    };
    KR::StringOChannel sizing(KR::binOProtocol);
    header(sizing);
    std::uint32_t position = static_cast<std::uint32_t>(sizing.GetText().size());
    std::string data;
    for (std::size_t n = 0; n < items.size(); ++n) {
        items[n].codeOffset = position;
        position += items[n].codeSize;
        items[n].ancestryOffset = position;
        position += items[n].ancestrySize;
        data += rows[n].code;
        data += rows[n].ancestry;
    }
    KR::StringOChannel out(KR::binOProtocol);
    header(out);
    return out.Take() + data;
}

}  // namespace PscBinCodesTest
