// What the targets of the active libraries info block share: a module state,
// sets to read blocks into, snapshots of a set's lists, and seeds written by
// sets in both forms and both byte orders.
//
// Input of every info block target: byte 0 holds option bits (1: the block
// comes from the other byte order, 2: with permanent libraries, 4: compare
// the caches, 8: the set starts with a configuration of its own); the rest
// is the block.
#pragma once

#include "FuzzTarget.hpp"

#include "Configuration/InfoBlock.hpp"
#include "KR/DebugChannel.hpp"
#include "LibraryManagerModule.hpp"
#include "LibrarySet.hpp"
#include "Support/ErrorHandlers.hpp"
#include "Support/Handles.hpp"

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace LmFuzz::InfoBlock {

struct Options {
    bool swapBytes = false;
    bool withPermanent = false;
    bool compareCaches = false;
    bool prefilled = false;
    std::string_view block;
};

inline Options Parse(const std::uint8_t* data, std::size_t size)
{
    Bytes input(data, size);
    const std::uint8_t bits = input.Byte();
    return {(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0, (bits & 8) != 0, input.Rest()};
}

inline TestSupport::NullErrorHandler& Handler()
{
    static TestSupport::NullErrorHandler handler;
    return handler;
}

// A set of a module state made once (no container files: no library is
// mounted), with cache locations of its own and, when `prefilled`, two
// libraries and an other object.
inline std::unique_ptr<LM::LibrarySet> NewSet(bool prefilled)
{
    static const bool initialised = [] {
        LM::LibraryManagerStrings strings;
        strings.Set(5, "All");
        strings.Set(6, "Codes");
        LM::InitLibraryManager(LM::LibraryManagerCallBacks{}, strings, 1, 2, IO::Location(ScratchFolder()));
        return true;
    }();
    (void)initialised;
    auto set = std::make_unique<LM::LibrarySet>(Handler(), KR::ConstForwardIterator<FTM::GeneralID>());
    set->SetFtpCacheLocation(IO::Location("/fuzz/url cache"));
    set->SetLanCacheLocation(IO::Location("/fuzz/lan cache"));
    if (prefilled) {
        set->AddActiveLibrary(IO::Location("/fuzz/libs/A"), LM::Permanent, true, false);
        set->AddActiveLibrary(KR::String("http://host/lib/Web/"), LM::NotPermanent, false);
        set->AddOtherObject(IO::Location("/fuzz/other/Part.gsm"));
    }
    return set;
}

// Everything a reader may change in a set, as text. `sorted` leaves out the
// order of the lists (which a round trip changes among equal names);
// `withObjects` false leaves out the other objects.
inline std::string Snapshot(LM::LibrarySet& set, bool sorted = false, bool withObjects = true)
{
    std::vector<std::string> libraries, objects;
    for (std::int32_t i = 0; i < set.GetActiveLibraryNum(); ++i) {
        IO::Location location;
        KR::String url;
        set.GetActiveLibraryLocation(i, &location);
        set.GetActiveLibraryUrl(i, &url);
        libraries.push_back(location.GetText() + "|" + url.Std() + (set.IsVitalActiveLibrary(i) ? "|v" : "|-") +
                            (set.IsPermanentActiveLibrary(i) ? "p;" : "-;"));
    }
    for (std::int32_t i = 0; withObjects && i < set.GetOtherObjectNum(); ++i) {
        IO::Location location;
        KR::String url;
        set.GetOtherObjectLocation(i, &location);
        set.GetOtherObjectUrl(i, &url);
        objects.push_back(location.GetText() + "|" + url.Std() + ";");
    }
    if (sorted) {
        std::sort(libraries.begin(), libraries.end());
        std::sort(objects.begin(), objects.end());
    }
    std::string out = set.IsUseLanCache() ? "lan;" : "-;";
    for (const auto& part : libraries)
        out += part;
    out += "/";
    for (const auto& part : objects)
        out += part;
    return out;
}

// The version 201 block of a set; empty when it gives none.
inline std::string InfoOf(LM::LibrarySet& set, bool withPermanent, std::int32_t version = 0)
{
    char** info = nullptr;
    if (set.GetActiveLibrariesInfo(&info, withPermanent, version) != KR::NoError)
        return {};
    TestSupport::OwnedHandle owned(info);
    return owned.Bytes();
}

// The same bytes with every 32-bit number and text count reversed, as a
// platform of the other byte order writes them.
inline std::string Reversed(const std::string& block)
{
    std::string out;
    LM::Info::ItemReader in(block.data(), block.size(), false);
    auto word = [&](std::int32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out += static_cast<char>((static_cast<std::uint32_t>(value) >> shift) & 0xFF);
    };
    auto text = [&](const std::string& t) {
        word(static_cast<std::int32_t>(t.size()));
        out += t;
    };
    auto location = [&](const IO::Location& l) {
        out += static_cast<char>(l.IsEmpty() ? 0 : (l.IsURL() ? 2 : (l.GetStatus() == KR::NoError ? 1 : 3)));
        text(l.GetText());
    };
    word(in.Int32());
    const bool lan = in.Bool();
    out += static_cast<char>(lan);
    if (lan)
        location(in.Location());
    location(in.Location());
    const std::int32_t n = in.Int32();
    word(n);
    for (std::int32_t i = 0; i < n; ++i) {
        const auto record = in.Library();
        out += static_cast<char>(record.vital);
        out += static_cast<char>(record.permanent);
        out += static_cast<char>(record.isUrl);
        if (record.isUrl)
            text(record.url.Std());
        else
            location(record.location);
    }
    const std::int32_t m = in.Int32();
    word(m);
    for (std::int32_t i = 0; i < m; ++i) {
        const auto record = in.OtherObject();
        location(record.location);
        text(record.url.Std());
    }
    word(in.Int32());
    return out;
}

// Blocks written by sets, in both byte orders and in the text form, each
// with every option byte the targets look at.
inline std::vector<std::string> Seeds()
{
    KR::DebugCapture quiet;
    std::vector<std::string> blocks;
    auto set = NewSet(true);
    set->AddActiveLibrary(IO::Location("/fuzz/libs/B"), LM::NotPermanent, false, false);
    set->AddActiveLibrary(IO::Location("C:\\Lib\\Old"), LM::NotPermanent, true, false);
    set->SetOtherObjectUrl(0, KR::String("http://host/Part.gsm"));
    set->AddOtherObject(KR::String("http://host/x/Only.gsm"));
    blocks.push_back(InfoOf(*set, true));
    blocks.push_back(InfoOf(*NewSet(false), true));
    blocks.push_back(InfoOf(*set, true, LM::LibrarySet::InfoOldTextVersion));
    blocks.push_back(std::string("Ms/lan\0WWDisk:Lib:A\0WW/b\0\0", 27));
    std::vector<std::string> seeds;
    for (const std::string& block : blocks) {
        seeds.push_back(std::string(1, '\x0A') + block);
        seeds.push_back(std::string(1, '\x06') + block);
    }
    seeds.push_back(std::string(1, '\x0B') + Reversed(blocks[0]));
    seeds.push_back(std::string(1, '\x01') + Reversed(blocks[1]));
    return seeds;
}

}  // namespace LmFuzz::InfoBlock
