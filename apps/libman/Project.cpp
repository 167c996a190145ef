#include "Project.hpp"

#include "IO/Replace.hpp"
#include "KR/Hex.hpp"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Libman {

namespace {

constexpr const char* FormatName = "libman-project";
constexpr int FormatVersion = 1;
constexpr int InfoVersion = 201;

// The string member `key` of `object`, or "" when it is absent; false when
// it is present with another type.
bool OptionalString(const nlohmann::json& object, const char* key, std::string* value)
{
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return true;
    if (!it->is_string())
        return false;
    *value = it->get<std::string>();
    return true;
}

}  // namespace

std::string ToHex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        text.push_back(digits[c >> 4]);
        text.push_back(digits[c & 15]);
    }
    return text;
}

bool FromHex(const std::string& text, std::string* bytes)
{
    if (text.size() % 2 != 0)
        return false;
    std::string out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int high = KR::HexValue(text[i]);
        int low = KR::HexValue(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        out.push_back(static_cast<char>(high * 16 + low));
    }
    *bytes = std::move(out);
    return true;
}

LoadStatus LoadProject(const std::string& path, Project* project, std::string* problem)
{
    *project = Project{};
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 && errno == ENOENT)
        return LoadStatus::Missing;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *problem = std::string("cannot be opened: ") + std::strerror(errno);
        return LoadStatus::Damaged;
    }
    std::stringstream text;
    text << in.rdbuf();
    nlohmann::json root = nlohmann::json::parse(text.str(), nullptr, false);
    if (root.is_discarded() || !root.is_object()) {
        *problem = "it is not a JSON object";
        return LoadStatus::Damaged;
    }
    auto format = root.find("format");
    if (format == root.end() || *format != FormatName) {
        *problem = std::string("its \"format\" is not \"") + FormatName + "\"";
        return LoadStatus::Damaged;
    }
    auto version = root.find("version");
    if (version == root.end() || !version->is_number_integer() || *version != FormatVersion) {
        *problem = "its \"version\" is not " + std::to_string(FormatVersion);
        return LoadStatus::Damaged;
    }
    auto configuration = root.find("configuration");
    if (configuration != root.end()) {
        if (!configuration->is_object() || configuration->value("version", 0) != InfoVersion ||
            !configuration->contains("hex") || !(*configuration)["hex"].is_string() ||
            !FromHex((*configuration)["hex"].get<std::string>(), &project->infoBlock)) {
            *problem = "its \"configuration\" is not a version 201 block in hexadecimal text";
            return LoadStatus::Damaged;
        }
    }
    nlohmann::json settings = root.value("settings", nlohmann::json::object());
    auto useLan = settings.find("useLanCache");
    if (!settings.is_object() || !OptionalString(settings, "scriptCodeCache", &project->scriptCodeCache) ||
        !OptionalString(settings, "lanCache", &project->lanCache) ||
        !OptionalString(settings, "urlCache", &project->urlCache) ||
        (useLan != settings.end() && !useLan->is_boolean())) {
        *problem = "its \"settings\" hold a value of the wrong type";
        return LoadStatus::Damaged;
    }
    project->useLanCache = useLan != settings.end() && useLan->get<bool>();
    return LoadStatus::Loaded;
}

std::string ReplaceFileContent(const std::string& path, const std::string& bytes)
{
    bool exists = false;
    if (KR::ErrorCode error = IO::CheckReplaceable(path, &exists); error != 0)
        return path + " cannot be replaced (it is not a regular file; error " + std::to_string(error) + ")";
    const std::string scratch = IO::ScratchPathBeside(path, "libman");
    int fd = ::open(scratch.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0)
        return "cannot create " + scratch + ": " + std::strerror(errno);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::string why = std::strerror(errno);
            ::close(fd);
            ::unlink(scratch.c_str());
            return "cannot write " + scratch + ": " + why;
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (KR::ErrorCode error = IO::ReplaceFile(scratch, path, IO::ReplaceMode::Replace); error != 0) {
        ::unlink(scratch.c_str());
        return "cannot replace " + path + " (error " + std::to_string(error) + ")";
    }
    return {};
}

std::string SaveProject(const std::string& path, const Project& project)
{
    nlohmann::json root;
    root["format"] = FormatName;
    root["version"] = FormatVersion;
    root["configuration"] = {{"version", InfoVersion}, {"hex", ToHex(project.infoBlock)}};
    root["settings"] = {{"scriptCodeCache", project.scriptCodeCache},
                        {"lanCache", project.lanCache},
                        {"urlCache", project.urlCache},
                        {"useLanCache", project.useLanCache}};
    return ReplaceFileContent(path, root.dump(2) + "\n");
}

}  // namespace Libman
