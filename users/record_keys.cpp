#include "users/record_keys.h"

#include "messages/catalogue.h"

const CString& RecordKeys::operator[](std::uint32_t n) {
    if (n >= m_texts.size())
        m_texts.resize(n + 1);
    std::optional<CString>& text = m_texts[n];
    if (!text)
        text = g_systemMessages.GetMessage(1, n);
    return *text;
}
