// The list exchanges of KvFile: a count line and one element per index, for
// lists of texts and lists of objects (the object form lives in kv_file.h as
// a template).
#include <algorithm>

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

CString KvFile::ListElementKey(const CString& name, unsigned index) {
    return CString::Formatted("%s %d", name.c_str(), static_cast<int>(index));
}

int KvFile::ExchangeListElement(const CString& name, unsigned index, KvObjetFile& element) {
    BeginSection(ListElementKey(name, index));
    int result = element.Exchange(*this);
    EndSection();
    return result;
}

int KvFile::ExchangeStringList(const CString& name, KvListe<CString>& list, unsigned limit) {
    if (IsReading()) {
        list.Reset();
        unsigned count = 0;
        if (ExchangeValue(ListCountKey(name), count) != 4)
            return 0;
        count = TakeFromListBudget(std::min(count, limit));
        int result = 4;
        for (unsigned i = 0; i < count; ++i) {
            CString* element = list.NewElement();
            if (element == nullptr)
                break;
            result = ExchangeValue(ListElementKey(name, i), *element);
        }
        return result;
    }
    // The limit applies to reading only: whatever the list holds is written.
    unsigned count = list.GetCount();
    if (ExchangeValue(ListCountKey(name), count) != 4)
        return 0;
    int result = 4;
    unsigned i = 0;
    // Writing does not change the text; see ExchangeObjectList for the cast.
    list.ForEach([&](const CString& element) {
        result = ExchangeValue(ListElementKey(name, i++), const_cast<CString&>(element));
    });
    return result;
}
