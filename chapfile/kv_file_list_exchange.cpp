// The pieces of KvFile's list exchanges that are not templates (the
// exchange itself lives in kv_file.h): the element budget and the keys.
#include <algorithm>
#include <array>
#include <charconv>
#include <string>

#include "chapfile/kv_file.h"

KvFile::NestedListRead::NestedListRead(KvFile& file) : m_file(file) {
    if (m_file.m_objectListDepth++ > 0)
        return;
    std::size_t budget = 1000000 + m_file.m_chapters.size();
    for (const KvFileChapitre& chapter : m_file.m_chapters) budget += chapter.GetLineCount();
    m_file.m_listBudget = budget;
}

unsigned KvFile::TakeFromListBudget(unsigned count) {
    if (m_objectListDepth == 0)
        return count;
    unsigned taken = static_cast<unsigned>(std::min<std::size_t>(count, m_listBudget));
    m_listBudget -= taken;
    return taken;
}

CString KvFile::ListCountKey(const CString& name) {
    return CString::Formatted("%s taille", name.c_str());
}

void KvFile::ListElementKey(const CString& name, unsigned index, CString& key) {
    // "%s %d" without a format call or a fresh string per element: a list of a
    // million texts spends most of its time on its keys otherwise.
    std::string& text = key.str();
    text.assign(name.c_str());
    text += ' ';
    std::array<char, 16> digits{};
    auto end = std::to_chars(digits.data(), digits.data() + digits.size(), static_cast<int>(index));
    text.append(digits.data(), end.ptr);
}

int KvFile::ExchangeListElement(const CString& name, unsigned index, KvObjetFile& element) {
    CString key;
    ListElementKey(name, index, key);
    BeginSection(key);
    int result = element.Exchange(*this);
    EndSection();
    return result;
}
