#include "chapfile/kv_file_chapter.h"

#include <atomic>
#include <string_view>
#include <utility>

namespace {
std::atomic<unsigned long long> g_renames{0};
}

void KvFileChapitre::SetName(const CString& name) {
    m_head.SetKey(name);
    g_renames.fetch_add(1, std::memory_order_relaxed);
}

unsigned long long KvFileChapitre::RenameCount() {
    return g_renames.load(std::memory_order_relaxed);
}

KvFileChapitre::KvFileChapitre() {
    m_head.SetType(KvFileString::kChapterHead);
}

KvFileChapitre::KvFileChapitre(const KvFileChapitre& other)
    : m_head(other.m_head), m_used(other.m_used) {
    for (std::size_t i = 0; i < other.m_count; ++i) AddLine(other.GetLine(i));
}

KvFileChapitre& KvFileChapitre::operator=(const KvFileChapitre& other) {
    if (this != &other) {
        KvFileChapitre copy(other);
        *this = std::move(copy);
    }
    return *this;
}

KvFileChapitre::KvFileChapitre(KvFileChapitre&& other) noexcept {
    *this = std::move(other);
}

KvFileChapitre& KvFileChapitre::operator=(KvFileChapitre&& other) noexcept {
    if (this != &other) {
        m_head = std::move(other.m_head);
        m_used = other.m_used;
        m_blocks = std::move(other.m_blocks);
        m_count = std::exchange(other.m_count, 0);
        m_index = std::move(other.m_index);
        m_firstOfKey = std::move(other.m_firstOfKey);
        m_next = std::exchange(other.m_next, 0);
        other.m_blocks.clear();
        other.m_index.Clear();
        other.m_firstOfKey.clear();
    }
    return *this;
}

void KvFileChapitre::AddLine(KvFileString line) {
    if (m_count % kBlockSize == 0)
        m_blocks.push_back(std::make_unique<KvFileString[]>(kBlockSize));
    m_blocks.back()[m_count % kBlockSize] = std::move(line);
    ++m_count;
}

const KvFileString* KvFileChapitre::FindLine(const CString& key) const {
    CString wanted = key.Lower();
    wanted.TrimRight(" ");
    auto keyOf = [this](std::size_t i) -> std::string_view { return GetLine(i).GetKey().str(); };
    if (m_index.Indexed() < m_count) {
        m_index.Reserve(m_count);
        m_firstOfKey.reserve(m_count);
        while (m_index.Indexed() < m_count)
            m_firstOfKey.push_back(m_index.Append(keyOf(m_index.Indexed()), keyOf));
    }
    if (m_next < m_count && m_firstOfKey[m_next] && keyOf(m_next) == wanted.str())
        return &GetLine(m_next++);
    std::size_t found = m_index.Find(wanted.str(), keyOf);
    if (found == chapfile_detail::FirstIndex::kNone)
        return nullptr;
    m_next = found + 1;
    return &GetLine(found);
}

bool KvFileChapitre::IsElement(const CString& className) const {
    return GetName() == ("element " + className).Lower();
}
