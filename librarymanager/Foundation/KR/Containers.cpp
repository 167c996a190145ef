#include "KR/Containers.hpp"

namespace KR::ContainersPrivate {

void ThrowBadIndex(const char* source, const char* operation, std::size_t index, std::size_t size)
{
    std::string src = source != nullptr ? source : "";
    std::string message = "Index " + std::to_string(index) + " out of range ";
    if (size == 0)
        message += "(empty)";
    else
        message += "1.." + std::to_string(size);
    message += " in " + src + "::" + (operation != nullptr ? operation : "") + ".";
    throw IllegalArgumentException(std::move(message), std::move(src));
}

void ThrowEmpty(const char* source, const char* operation)
{
    std::string src = source != nullptr ? source : "";
    std::string message = "Empty container in " + src + "::" + (operation != nullptr ? operation : "") + ".";
    throw IllegalArgumentException(std::move(message), std::move(src));
}

}  // namespace KR::ContainersPrivate
