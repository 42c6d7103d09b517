#include "chapfile/kv_file_chapter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

// Lengths are 32 bits wide. Parsed lines hold at most 999 characters; only a
// line built by hand could pass 4 GiB, and it is refused outright rather than
// stored cut.
std::uint32_t Narrow(std::size_t size) {
    if (size > 0xFFFFFFFFu)
        throw std::length_error("chaptered file line too long");
    return static_cast<std::uint32_t>(size);
}

char Fold(char ch, bool folded) {
    return folded ? AsciiLower(ch) : ch;
}

}  // namespace

void KvFileChapitre::SetName(const CString& name) {
    m_head.SetKey(name);
    if (m_renamed != nullptr)
        *m_renamed = true;
}

KvFileChapitre::KvFileChapitre() {
    m_head.SetType(KvFileString::kChapterHead);
}

KvFileChapitre::~KvFileChapitre() = default;

KvFileChapitre::KvFileChapitre(const KvFileChapitre& other)
    : m_head(other.m_head), m_used(other.m_used) {
    for (std::size_t i = 0; i < other.m_count; ++i) {
        if (other.RecordAt(i).layout != Layout::kParsedValue) {
            Parts parts = other.PartsAt(i);
            AddParts(other.TextAt(i), parts.key, parts.value, parts.type, parts.folded);
        } else {
            AddParsedLine(other.TextAt(i), chapfile_detail::SplitLine(other.TextAt(i)));
        }
    }
}

KvFileChapitre& KvFileChapitre::operator=(const KvFileChapitre& other) {
    if (this != &other) {
        KvFileChapitre copy(other);
        *this = std::move(copy);
    }
    return *this;
}

// A move keeps the chapter in its file (the file's list moves its chapters
// as it grows); an assignment gives the chapter another name in place.
KvFileChapitre::KvFileChapitre(KvFileChapitre&& other) noexcept {
    *this = std::move(other);
    m_renamed = other.m_renamed;
}

KvFileChapitre& KvFileChapitre::operator=(KvFileChapitre&& other) noexcept {
    if (this != &other) {
        m_head = std::move(other.m_head);
        m_used = other.m_used;
        if (m_renamed != nullptr)
            *m_renamed = true;
        // Records point into the chunks, which move along unchanged.
        m_records = std::move(other.m_records);
        m_count = std::exchange(other.m_count, 0);
        m_firstBlockSize = std::exchange(other.m_firstBlockSize, 0);
        m_chunks = std::move(other.m_chunks);
        m_free = std::exchange(other.m_free, nullptr);
        m_freeSize = std::exchange(other.m_freeSize, 0);
        m_nextChunkSize = std::exchange(other.m_nextChunkSize, kFirstChunkSize);
        m_built = std::move(other.m_built);
        m_keyHashes = std::move(other.m_keyHashes);
        m_index = std::move(other.m_index);
        m_firstOfKey = std::move(other.m_firstOfKey);
        m_next = std::exchange(other.m_next, 0);
        other.m_records.clear();
        other.m_chunks.clear();
        other.m_built.clear();
        other.m_keyHashes.clear();
        other.m_index.Clear();
        other.m_firstOfKey.clear();
    }
    return *this;
}

char* KvFileChapitre::Allocate(std::size_t size) {
    if (size > m_freeSize) {
        const std::size_t chunkSize = m_nextChunkSize;
        m_nextChunkSize = std::min(chunkSize * 2, kChunkSize);
        // A text at least as long as a chunk gets a chunk of its own; the
        // rest of the current chunk stays usable then.
        if (size >= chunkSize) {
            m_chunks.push_back(std::make_unique_for_overwrite<char[]>(size));
            return m_chunks.back().get();
        }
        m_chunks.push_back(std::make_unique_for_overwrite<char[]>(chunkSize));
        m_free = m_chunks.back().get();
        m_freeSize = chunkSize;
    }
    char* result = m_free;
    m_free += size;
    m_freeSize -= size;
    return result;
}

KvFileChapitre::Record& KvFileChapitre::NewRecord() {
    if (m_count < kRecordBlock) {
        if (m_count == m_firstBlockSize) {
            const std::size_t size = m_count == 0 ? kFirstRecords : m_count * 2;
            auto grown = std::make_unique_for_overwrite<Record[]>(size);
            if (m_count > 0)
                std::copy_n(m_records[0].get(), m_count, grown.get());
            if (m_records.empty())
                m_records.push_back(std::move(grown));
            else
                m_records[0] = std::move(grown);
            m_firstBlockSize = size;
        }
        return m_records[0][m_count++];
    }
    if ((m_count & (kRecordBlock - 1)) == 0)
        m_records.push_back(std::make_unique_for_overwrite<Record[]>(kRecordBlock));
    return m_records.back()[m_count++ & (kRecordBlock - 1)];
}

void KvFileChapitre::AddParsedLine(std::string_view text, const chapfile_detail::LineSplit& split) {
    const char* end = text.data() + text.size();
    bool compact = split.type == KvFileString::kValue && text.size() <= 0xFFFF &&
                   (split.key.empty() || split.key.data() == text.data()) &&
                   (split.value.empty() || split.value.data() + split.value.size() == end);
    if (!compact) {
        AddParts(text, split.key, split.value, split.type, true);
        return;
    }
    char* place = Allocate(text.size());
    std::memcpy(place, text.data(), text.size());
    Record& record = NewRecord();
    record.text = place;
    record.textLength = Narrow(text.size());
    record.keyLength = static_cast<std::uint16_t>(split.key.size());
    record.valueOffset = static_cast<std::uint16_t>(
        split.value.empty() ? text.size()
                            : static_cast<std::size_t>(split.value.data() - text.data()));
    record.layout = Layout::kParsedValue;
    m_keyHashes.push_back(chapfile_detail::FirstIndex::HashLower(split.key));
}

void KvFileChapitre::AddParts(std::string_view text, std::string_view key, std::string_view value,
                              int type, bool folded) {
    std::uint32_t head[3] = {Narrow(key.size()), Narrow(value.size()),
                             static_cast<std::uint32_t>(type)};
    std::uint32_t textLength = Narrow(text.size());
    char* place = Allocate(sizeof head + text.size() + key.size() + value.size());
    std::memcpy(place, head, sizeof head);
    place += sizeof head;
    // An empty part may be a view of nothing at all (a header with no title).
    for (std::string_view part : {text, key, value}) {
        if (!part.empty())
            std::memcpy(place, part.data(), part.size());
        place += part.size();
    }
    place -= text.size() + key.size() + value.size();
    Record& record = NewRecord();
    record.text = place;
    record.textLength = textLength;
    record.keyLength = 0;
    record.valueOffset = 0;
    record.layout = folded ? Layout::kParsedParts : Layout::kAddedParts;
    m_keyHashes.push_back(KeyHash({key, value, type, folded}));
}

KvFileChapitre::Parts KvFileChapitre::PartsAt(std::size_t index) const {
    const Record& r = RecordAt(index);
    if (r.layout != Layout::kParsedValue) {
        std::uint32_t head[3];
        std::memcpy(head, r.text - sizeof head, sizeof head);
        const char* key = r.text + r.textLength;
        return {{key, head[0]},
                {key + head[0], head[1]},
                static_cast<int>(head[2]),
                r.layout == Layout::kParsedParts};
    }
    return {{r.text, r.keyLength},
            {r.text + r.valueOffset, r.textLength - r.valueOffset},
            KvFileString::kValue,
            true};
}

std::uint32_t KvFileChapitre::KeyHash(const Parts& parts) {
    return parts.folded ? chapfile_detail::FirstIndex::HashLower(parts.key)
                        : chapfile_detail::FirstIndex::Hash(parts.key);
}

bool KvFileChapitre::KeyEquals(const Parts& parts, std::string_view lowerKey) {
    if (parts.key.size() != lowerKey.size())
        return false;
    if (!parts.folded)
        return parts.key == lowerKey;
    for (std::size_t i = 0; i < lowerKey.size(); ++i)
        if (AsciiLower(parts.key[i]) != lowerKey[i])
            return false;
    return true;
}

bool KvFileChapitre::SameKey(const Parts& a, const Parts& b) {
    if (a.key.size() != b.key.size())
        return false;
    for (std::size_t i = 0; i < a.key.size(); ++i)
        if (Fold(a.key[i], a.folded) != Fold(b.key[i], b.folded))
            return false;
    return true;
}

void KvFileChapitre::AddLine(KvFileString line) {
    AddParts(line.Text().str(), line.GetKey().str(), line.GetValue().str(), line.GetType(), false);
}

const KvFileString& KvFileChapitre::GetLine(std::size_t index) const {
    if (m_built.size() < m_count)
        m_built.resize(m_count);
    std::unique_ptr<KvFileString>& built = m_built[index];
    if (!built) {
        Parts parts = PartsAt(index);
        built = std::make_unique<KvFileString>(CString(TextAt(index)));
        built->SetType(parts.type);
        CString key(parts.key);
        if (parts.folded)
            key.MakeLower();
        built->SetKey(key);
        built->SetValue(CString(parts.value));
    }
    return *built;
}

std::size_t KvFileChapitre::FindIndex(std::string_view lowerKey) const {
    if (m_index.Indexed() < m_count) {
        m_index.Reserve(m_count);
        m_firstOfKey.reserve(m_count);
        constexpr std::size_t kAhead = 8;
        while (m_index.Indexed() < m_count) {
            std::size_t position = m_index.Indexed();
            if (position + kAhead < m_count)
                m_index.Prefetch(m_keyHashes[position + kAhead]);
            m_firstOfKey.push_back(
                m_index.Append(m_keyHashes[position], [&](std::uint32_t earlier) {
                    return SameKey(PartsAt(earlier), PartsAt(position));
                }));
        }
    }
    if (m_next < m_count && m_firstOfKey[m_next] && KeyEquals(PartsAt(m_next), lowerKey))
        return m_next++;
    std::size_t found = m_index.Find(
        chapfile_detail::FirstIndex::Hash(lowerKey),
        [&](std::uint32_t position) { return KeyEquals(PartsAt(position), lowerKey); });
    if (found == chapfile_detail::FirstIndex::kNone)
        return kNotFound;
    m_next = found + 1;
    return found;
}

const KvFileString* KvFileChapitre::FindLine(const CString& key) const {
    CString wanted = key.Lower();
    wanted.TrimRight(" ");
    std::size_t found = FindIndex(wanted.str());
    return found == kNotFound ? nullptr : &GetLine(found);
}

bool KvFileChapitre::IsElement(const CString& className) const {
    return GetName() == ("element " + className).Lower();
}
