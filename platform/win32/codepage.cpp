#include "platform/codepage.h"

#include <windows.h>

namespace platform {

std::string WideToAnsi(std::u16string_view text) {
    if (text.empty())
        return std::string();
    auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    int length = static_cast<int>(text.size());
    int needed = WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, "?", nullptr);
    if (needed <= 0)
        return std::string();
    std::string result(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, length, result.data(), needed, "?", nullptr);
    return result;
}

std::u16string AnsiToWide(std::string_view text) {
    if (text.empty())
        return std::u16string();
    int length = static_cast<int>(text.size());
    int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (needed <= 0)
        return std::u16string();
    std::u16string result(static_cast<std::size_t>(needed), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, reinterpret_cast<wchar_t*>(result.data()),
                        needed);
    return result;
}

}  // namespace platform
