#include "batchlog/text_list.h"

#include <algorithm>
#include <cstring>

void TextList::Add(std::string_view text) {
    if (!m_controls &&
        (text.find('\n') != std::string_view::npos || text.find('\0') != std::string_view::npos))
        m_controls = true;
    AddLine(text);
}

void TextList::AddInNewBlock(std::string_view text) {
    text = text.substr(0, UINT32_MAX);
    if (m_blocks.empty() || text.size() > m_size - m_used) {
        // The rest of the current block stays unused: a text never spans two.
        // A first text that is empty gets a block without bytes.
        const std::size_t size = text.empty() ? 0 : std::max(kBlockSize, text.size());
        m_blocks.push_back(
            {size == 0 ? nullptr : std::make_unique_for_overwrite<char[]>(size), m_ends.size()});
        m_used = 0;
        m_size = size;
    }
    if (!text.empty())  // an empty view's data may be null
        std::memcpy(m_blocks.back().bytes.get() + m_used, text.data(), text.size());
    m_used += text.size();
    m_ends.push_back(static_cast<std::uint32_t>(m_used));
}

std::string_view TextList::operator[](std::size_t index) const {
    // The last block whose first text is not after `index`.
    const auto after = std::upper_bound(
        m_blocks.begin(), m_blocks.end(), index,
        [](std::size_t wanted, const Block& block) { return wanted < block.first; });
    return View(index, static_cast<std::size_t>(after - m_blocks.begin()) - 1);
}

void TextList::Reset() {
    m_ends = std::vector<std::uint32_t>();
    m_blocks = std::vector<Block>();
    m_used = 0;
    m_size = 0;
    m_controls = false;
}
