// An environment variable set for the life of an object.
#pragma once

#include <cstdlib>
#include <string>

namespace TestSupport {

// Sets `name` to `value` and restores what it was (or unsets it) at the end.
// `changed`, when given, runs after each change (tzset for TZ, say).
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value, void (*changed)() = nullptr)
        : name_(name), changed_(changed)
    {
        if (const char* old = std::getenv(name)) {
            old_ = old;
            hadOld_ = true;
        }
        ::setenv(name, value.c_str(), 1);
        if (changed_ != nullptr)
            changed_();
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv()
    {
        if (hadOld_)
            ::setenv(name_.c_str(), old_.c_str(), 1);
        else
            ::unsetenv(name_.c_str());
        if (changed_ != nullptr)
            changed_();
    }

private:
    std::string name_;
    void (*changed_)() = nullptr;
    std::string old_;
    bool hadOld_ = false;
};

}  // namespace TestSupport
