// The message box: how the launcher shows a text that a person must see even
// when nothing else can be shown (the fatal settings errors).
//
// ShowMessageBox(text, title, style) blocks until the box is closed, like
// MessageBoxA, and returns the button pressed (kIdOk for an OK box).
//   Win32: MessageBoxA. Where the box cannot be shown (no window station, or
//          Wine without a display, where MessageBoxA returns at once without
//          showing anything) the text would be lost, so the same line as on
//          Linux is written to standard error as well, and kIdOk returned.
//   Linux: one line on standard error, the title, ": " and the text, turned
//          from the ANSI code page into UTF-8 for the terminal; it never
//          blocks and returns kIdOk.
// ApplicationTitle() is the title the framework gives its boxes: the name of
// the running executable without folder and extension.
#pragma once

#include <string>
#include <string_view>

namespace platform {

enum : unsigned {
    kMbOk = 0x0,
    kMbIconExclamation = 0x30,
};
constexpr int kIdOk = 1;

int ShowMessageBox(std::string_view text, std::string_view title, unsigned style);

std::string ApplicationTitle();

}  // namespace platform
