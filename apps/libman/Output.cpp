#include "Output.hpp"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <unistd.h>

namespace Libman {

namespace {

bool UseColour(int fd)
{
    const char* noColour = std::getenv("NO_COLOR");
    if (noColour != nullptr && noColour[0] != '\0')
        return false;
    return ::isatty(fd) == 1;
}

}  // namespace

Output::Output(bool json) : json_(json), colourOut_(UseColour(STDOUT_FILENO)), colourErr_(UseColour(STDERR_FILENO)) {}

void Output::Error(const std::string& message)
{
    errors_.push_back(message);
    if (beforeMessage_)
        beforeMessage_();
    std::cerr << (colourErr_ ? "\033[1;31mlibman: error:\033[0m " : "libman: error: ") << message << '\n';
}

void Output::Warning(const std::string& message)
{
    warnings_.push_back(message);
    if (beforeMessage_)
        beforeMessage_();
    std::cerr << (colourErr_ ? "\033[1;33mlibman: warning:\033[0m " : "libman: warning: ") << message << '\n';
}

void Output::Line(const std::string& text)
{
    if (!json_)
        std::cout << text << '\n';
}

void Output::Raw(const std::string& text)
{
    raw_ = true;
    std::cout << text;
}

std::string Output::Bold(const std::string& text) const
{
    return colourOut_ ? "\033[1m" + text + "\033[0m" : text;
}

int Output::Finish(int status)
{
    if (json_ && !raw_) {
        result_["status"] = status;
        result_["errors"] = errors_;
        result_["warnings"] = warnings_;
        std::cout << result_.dump(2) << '\n';
    }
    std::cout.flush();
    return status;
}

}  // namespace Libman
