#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace veltra::test {

/// Sets (or, for nothing, unsets) an environment variable for the life of the object and puts the old
/// value back after, so that no test leaks its settings into the next.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : _name(name)
    {
        if (const char* old = std::getenv(name))
            _saved = old;
        set(value);
    }
    ~ScopedEnv() { set(_saved); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void set(const std::optional<std::string>& value) const
    {
        if (value)
            ::setenv(_name, value->c_str(), 1);
        else
            ::unsetenv(_name);
    }

    const char* _name;
    std::optional<std::string> _saved;
};

} // namespace veltra::test
