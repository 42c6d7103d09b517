#include "batchlog/text_list.h"

#include <algorithm>
#include <cstring>

#include "platform/large_memory.h"

void TextList::Add(std::string_view text) {
    if (!m_controls &&
        (text.find('\n') != std::string_view::npos || text.find('\0') != std::string_view::npos))
        m_controls = true;
    AddLine(text);
}

TextList::BlockBytes::BlockBytes(std::size_t size, bool large) : m_size(size) {
    if (large)
        m_data = static_cast<char*>(platform::AllocateLarge(size));
    m_large = m_data != nullptr;
    if (!m_large)
        m_data = new char[size];
}

TextList::BlockBytes::~BlockBytes() {
    if (m_large)
        platform::FreeLarge(m_data, m_size);
    else
        delete[] m_data;
}

void TextList::OpenBlock(std::size_t size) {
    // A first text that is empty gets a block without bytes.
    if (size == 0) {
        m_blocks.push_back({BlockBytes(), m_ends.size()});
    } else {
        const bool large = m_size >= kBlockSize;  // a full block before
        size = std::max(large ? kLargeBlockSize : kBlockSize, size);
        m_blocks.push_back({BlockBytes(size, large), m_ends.size()});
    }
    m_used = 0;
    m_size = size;
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
