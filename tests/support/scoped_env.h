#pragma once
// Sets an environment variable for the life of the object and then puts back what was there.
#include <cstdlib>
#include <optional>
#include <string>

namespace kv {

class ScopedEnv {
public:
    // `value` nullopt: the variable is removed.
    ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) old_ = old;
        Set(value);
    }
    ~ScopedEnv() { Set(old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void Set(const std::optional<std::string>& value) const {
#ifdef _WIN32
        ::_putenv_s(name_.c_str(), value ? value->c_str() : ""); // empty removes it
#else
        if (value)
            ::setenv(name_.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
#endif
    }
    std::string name_;
    std::optional<std::string> old_;
};

} // namespace kv
