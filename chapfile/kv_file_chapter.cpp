#include "chapfile/kv_file_chapter.h"

#include <atomic>
#include <string_view>

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
    : m_head(other.m_head), m_used(other.m_used), m_lines(other.m_lines) {}

KvFileChapitre& KvFileChapitre::operator=(const KvFileChapitre& other) {
    if (this != &other) {
        m_head = other.m_head;
        m_used = other.m_used;
        m_lines = other.m_lines;
        m_index.Clear();
    }
    return *this;
}

const KvFileString* KvFileChapitre::FindLine(const CString& key) const {
    CString wanted = key.Lower();
    wanted.TrimRight(" ");
    auto keyOf = [this](std::size_t i) -> std::string_view { return m_lines[i].GetKey().str(); };
    while (m_index.Indexed() < m_lines.size()) m_index.Append(keyOf(m_index.Indexed()), keyOf);
    std::size_t found = m_index.Find(wanted.str(), keyOf);
    return found == chapfile_detail::FirstIndex::kNone ? nullptr : &m_lines[found];
}

bool KvFileChapitre::IsElement(const CString& className) const {
    return GetName() == ("element " + className).Lower();
}
