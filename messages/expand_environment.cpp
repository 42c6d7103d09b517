#include "messages/expand_environment.h"

#include <cstdlib>
#include <cstring>

namespace {

// A variable whose value refers to itself ("PATHX=%PATHX%;more") would make
// the further passes go on for ever, the text growing each time. Passes stop
// when one changes nothing, after kMaxPasses passes, or once the text is
// longer than the largest environment value Windows allows; what is left
// unexpanded then stays in the text.
constexpr int kMaxPasses = 8;
constexpr int kMaxLength = 32767;

// One pass. Returns false when it stopped early, at an unset variable or at
// a "%" without a partner; the text is then final.
bool ExpandOnce(CString& text) {
    int percent = text.Find('%');
    while (percent != CString::npos) {
        CString prefix = text.Left(percent);
        CString rest = text.Mid(percent + 1);
        int close = rest.Find('%');
        if (close == CString::npos)
            return false;
        CString name = rest.Left(close);
        CString suffix = rest.Mid(close + 1);
        const char* value = name.IsEmpty() ? nullptr : std::getenv(name.c_str());
        if (value == nullptr)
            return false;
        text = prefix + value + suffix;
        int next = suffix.Find('%');
        if (next == CString::npos)
            break;
        percent = prefix.GetLength() + static_cast<int>(std::strlen(value)) + next;
    }
    return true;
}

}  // namespace

CString ExpandEnvironment(const CString& text) {
    // Most texts name no variable: the folders of a users list, for one.
    if (text.Find('%') == CString::npos)
        return text;
    CString result = text;
    for (int pass = 0; pass < kMaxPasses; ++pass) {
        CString before = result;
        if (!ExpandOnce(result))
            break;
        if (result.Find('%') == CString::npos || result == before ||
            result.GetLength() > kMaxLength)
            break;
    }
    return result;
}
