// RecordKeys: the keys of a user record that are texts of the system
// catalogue, message (1, n). A users list asks for the same few dozen keys in
// every record; the list keeps one set for each load or save, so that each
// text is looked up in the catalogue (and copied) once, not once per user.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

#include "containers/cstring.h"

class RecordKeys {
  public:
    // The text of message (1, n), looked up at its first use. The reference
    // stays valid as long as the set.
    const CString& operator[](std::uint32_t n);

  private:
    // By n, which is one of the record's own few numbers; a deque, so that
    // growing it leaves the texts already given where they are.
    std::deque<std::optional<CString>> m_texts;
};
