#include "chapfile/kv_file_chapter.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

std::atomic<unsigned long long> g_renames{0};

bool HasUpper(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char ch) { return ch >= 'A' && ch <= 'Z'; });
}

// Record fields are 32 bits wide. Parsed lines hold at most 999 characters;
// only a line built by hand could pass 4 GiB, and it is refused outright
// rather than stored cut.
std::uint32_t Narrow(std::size_t size) {
    if (size > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("chaptered file line too long");
    return static_cast<std::uint32_t>(size);
}

}  // namespace

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

KvFileChapitre::~KvFileChapitre() = default;

KvFileChapitre::KvFileChapitre(const KvFileChapitre& other)
    : m_head(other.m_head), m_used(other.m_used) {
    for (std::size_t i = 0; i < other.m_count; ++i) {
        const Record& r = other.RecordAt(i);
        AddParts({r.text, r.textLength}, other.KeyAt(i), other.ValueAt(i), r.type);
    }
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
        // Records point into the chunks, which move along unchanged.
        m_records = std::move(other.m_records);
        m_count = std::exchange(other.m_count, 0);
        m_chunks = std::move(other.m_chunks);
        m_free = std::exchange(other.m_free, nullptr);
        m_freeSize = std::exchange(other.m_freeSize, 0);
        m_built = std::move(other.m_built);
        m_index = std::move(other.m_index);
        m_firstOfKey = std::move(other.m_firstOfKey);
        m_next = std::exchange(other.m_next, 0);
        other.m_records.clear();
        other.m_chunks.clear();
        other.m_built.clear();
        other.m_index.Clear();
        other.m_firstOfKey.clear();
    }
    return *this;
}

char* KvFileChapitre::Allocate(std::size_t size) {
    if (size > m_freeSize) {
        // A text longer than a chunk gets a chunk of its own; the rest of the
        // current chunk stays usable then.
        std::size_t chunkSize = std::max(size, kChunkSize);
        m_chunks.push_back(std::make_unique_for_overwrite<char[]>(chunkSize));
        if (size >= kChunkSize)
            return m_chunks.back().get();
        m_free = m_chunks.back().get();
        m_freeSize = chunkSize;
    }
    char* result = m_free;
    m_free += size;
    m_freeSize -= size;
    return result;
}

KvFileChapitre::Record& KvFileChapitre::NewRecord() {
    if ((m_count & (kRecordBlock - 1)) == 0)
        m_records.push_back(std::make_unique_for_overwrite<Record[]>(kRecordBlock));
    return m_records.back()[m_count++ & (kRecordBlock - 1)];
}

void KvFileChapitre::AddParsedLine(std::string_view text, const chapfile_detail::LineSplit& split) {
    // Key and value lie inside the text except the header's constant key;
    // a key with capitals is stored lowercased after the text.
    bool keyStored = split.type == KvFileString::kHeader || HasUpper(split.key);
    std::size_t size = text.size() + (keyStored ? split.key.size() : 0);
    char* place = Allocate(size);
    std::memcpy(place, text.data(), text.size());
    Record record{};
    record.text = place;
    record.textLength = Narrow(text.size());
    if (keyStored) {
        char* key = place + text.size();
        for (std::size_t i = 0; i < split.key.size(); ++i) key[i] = AsciiLower(split.key[i]);
        record.keyOffset = Narrow(text.size());
    } else if (!split.key.empty()) {
        record.keyOffset = Narrow(static_cast<std::size_t>(split.key.data() - text.data()));
    } else {
        // An empty key ("= value") may be a view of nothing at all.
        record.keyOffset = 0;
    }
    record.keyLength = Narrow(split.key.size());
    record.valueOffset = split.value.empty()
                             ? 0
                             : Narrow(static_cast<std::size_t>(split.value.data() - text.data()));
    record.valueLength = Narrow(split.value.size());
    record.type = split.type;
    NewRecord() = record;
}

void KvFileChapitre::AddParts(std::string_view text, std::string_view key, std::string_view value,
                              int type) {
    std::size_t size = text.size() + key.size() + value.size();
    char* place = Allocate(size);
    std::memcpy(place, text.data(), text.size());
    std::memcpy(place + text.size(), key.data(), key.size());
    std::memcpy(place + text.size() + key.size(), value.data(), value.size());
    Record record{};
    record.text = place;
    record.textLength = Narrow(text.size());
    record.keyOffset = Narrow(text.size());
    record.keyLength = Narrow(key.size());
    record.valueOffset = Narrow(text.size() + key.size());
    record.valueLength = Narrow(value.size());
    record.type = type;
    NewRecord() = record;
}

void KvFileChapitre::AddLine(KvFileString line) {
    AddParts(line.Text().str(), line.GetKey().str(), line.GetValue().str(), line.GetType());
}

const KvFileString& KvFileChapitre::GetLine(std::size_t index) const {
    if (m_built.size() < m_count)
        m_built.resize(m_count);
    std::unique_ptr<KvFileString>& built = m_built[index];
    if (!built) {
        const Record& r = RecordAt(index);
        built = std::make_unique<KvFileString>(CString(std::string_view(r.text, r.textLength)));
        built->SetType(r.type);
        built->SetKey(CString(KeyAt(index)));
        built->SetValue(CString(ValueAt(index)));
    }
    return *built;
}

std::size_t KvFileChapitre::FindIndex(std::string_view lowerKey) const {
    auto keyOf = [this](std::size_t i) { return KeyAt(i); };
    if (m_index.Indexed() < m_count) {
        m_index.Reserve(m_count);
        m_firstOfKey.reserve(m_count);
        // Hashes run kAhead lines ahead of the insertions, so that each slot
        // is on its way into the cache by the time its line is indexed.
        constexpr std::size_t kAhead = 16;
        std::array<std::uint32_t, kAhead> hashes;
        std::size_t first = m_index.Indexed();
        std::size_t ahead = first;
        for (; ahead < m_count && ahead < first + kAhead; ++ahead) {
            hashes[ahead % kAhead] = chapfile_detail::FirstIndex::Hash(keyOf(ahead));
            m_index.Prefetch(hashes[ahead % kAhead]);
        }
        for (std::size_t i = first; i < m_count; ++i) {
            std::uint32_t hash = hashes[i % kAhead];
            if (ahead < m_count) {
                hashes[ahead % kAhead] = chapfile_detail::FirstIndex::Hash(keyOf(ahead));
                m_index.Prefetch(hashes[ahead % kAhead]);
                ++ahead;
            }
            m_firstOfKey.push_back(m_index.AppendHashed(hash, keyOf(i), keyOf));
        }
    }
    if (m_next < m_count && m_firstOfKey[m_next] && keyOf(m_next) == lowerKey)
        return m_next++;
    std::size_t found = m_index.Find(lowerKey, keyOf);
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
