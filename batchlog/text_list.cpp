#include "batchlog/text_list.h"

#include <cstring>

void TextList::Add(std::string_view text) {
    if (!m_controls &&
        (text.find('\n') != std::string_view::npos || text.find('\0') != std::string_view::npos))
        m_controls = true;
    AddLine(text);
}

void TextList::AddLine(std::string_view text) {
    if (text.empty()) {
        m_texts.emplace_back();
        return;
    }
    char* place;
    if (text.size() > kBlockSize / 4) {
        m_blocks.push_back(std::make_unique_for_overwrite<char[]>(text.size()));
        place = m_blocks.back().get();
    } else {
        if (text.size() > m_left) {
            m_blocks.push_back(std::make_unique_for_overwrite<char[]>(kBlockSize));
            m_free = m_blocks.back().get();
            m_left = kBlockSize;
        }
        place = m_free;
        m_free += text.size();
        m_left -= text.size();
    }
    std::memcpy(place, text.data(), text.size());
    m_texts.emplace_back(place, text.size());
}

void TextList::Reset() {
    m_texts = std::vector<std::string_view>();
    m_blocks = std::vector<std::unique_ptr<char[]>>();
    m_free = nullptr;
    m_left = 0;
    m_controls = false;
}
