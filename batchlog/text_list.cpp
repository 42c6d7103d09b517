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

void TextList::BlockFree::operator()(char* bytes) const {
    if (large)
        platform::FreeLarge(bytes, size);
    else
        delete[] bytes;
}

TextList::BlockBytes TextList::NewBlockBytes(std::size_t size, bool large) {
    if (large) {
        if (void* bytes = platform::AllocateLarge(size))
            return BlockBytes(static_cast<char*>(bytes), BlockFree{size, true});
    }
    return BlockBytes(new char[size], BlockFree{size, false});
}

void TextList::OpenBlock(std::size_t size) {
    // A first text that is empty gets a block without bytes.
    if (size == 0) {
        m_blocks.push_back({BlockBytes(nullptr, BlockFree{}), m_ends.size()});
    } else {
        const bool large = m_size >= kBlockSize;  // a full block before
        size = std::max(large ? kLargeBlockSize : kBlockSize, size);
        m_blocks.push_back({NewBlockBytes(size, large), m_ends.size()});
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
