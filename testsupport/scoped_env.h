// An environment variable set, or removed when `value` is nullopt, for one
// scope; the value it had before (or its absence) comes back at the end.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/environment.h"

namespace testsupport {

class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::optional<std::string>& value) : m_name(std::move(name)) {
        if (const char* old = std::getenv(m_name.c_str()))
            m_previous = old;
        Set(value);
    }
    ~ScopedEnv() { Set(m_previous); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    void Set(const std::optional<std::string>& value) {
        if (value)
            platform::SetEnv(m_name, *value);
        else
            platform::UnsetEnv(m_name);
    }
    std::string m_name;
    std::optional<std::string> m_previous;
};

}  // namespace testsupport
