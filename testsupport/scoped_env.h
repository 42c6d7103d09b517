// An environment variable set or removed for one scope; the value it had
// before (or its absence) comes back when the scope ends.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/environment.h"

namespace testsupport {

class ScopedEnv {
  public:
    // Removes the variable when `value` is nullopt.
    ScopedEnv(std::string name, const std::optional<std::string>& value) : m_name(std::move(name)) {
        if (const char* old = std::getenv(m_name.c_str()))
            m_previous = old;
        if (value)
            platform::SetEnv(m_name, *value);
        else
            platform::UnsetEnv(m_name);
    }
    ~ScopedEnv() {
        if (m_previous)
            platform::SetEnv(m_name, *m_previous);
        else
            platform::UnsetEnv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

}  // namespace testsupport
