#include "chapfile/kv_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <string>

#include "messages/paths.h"
#include "platform/file_stream.h"

namespace {

// Every chaptered file is opened here, in text mode (line ends as the Windows
// runtime writes them, on both hosts), following shortcuts to the file or to a
// folder on its path when the plain open fails.
std::FILE* OpenChapteredFile(const CString& path, const char* mode) {
    return OpenFileLinked(path, mode);
}

std::string_view MajorPart(std::string_view version) {
    return version.substr(0, version.find('.'));
}

}  // namespace

// A lone "\n" would end the line and let the rest of the text pass for a line
// of its own (a key, even a chapter head), so it is written as "<saut>" like
// the "\r\n" pair, and reads back as the pair. A lone "\r" is harmless inside
// a line and is written as it is.
void AppendTextValue(std::string& out, std::string_view text) {
    if (text.find('\n') == std::string_view::npos) {
        out += text;
        return;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "<saut>";
            ++i;
        } else if (text[i] == '\n') {
            out += "<saut>";
        } else {
            out += text[i];
        }
    }
}

KvFile::KvFile(const CString& title, const CString& version)
    : m_title(title), m_version(version), m_versionRead(version) {}

KvFile::~KvFile() = default;

// ---- Writing ----

void KvFile::Write(std::string_view text) {
    if (m_stream && !text.empty())
        std::fwrite(text.data(), 1, text.size(), m_stream.get());
}

void KvFile::WriteValueLine(const CString& key, std::string_view value) {
    // A key or value holding a zero byte ends there, as with "%s".
    Write(std::string_view(key.c_str()));
    Write(" = ");
    Write(value.substr(0, value.find('\0')));
    Write("\n");
}

void KvFile::WriteLines(std::string_view lines) {
    if (m_openMode == kWriting && m_stream)
        platform::WriteUntranslated(m_stream.get(), lines);
}

void KvFile::WriteBlankLines(int count) {
    if (m_openMode != kWriting)
        return;
    for (int i = 0; i < count; ++i) Write("\n");
}

bool KvFile::BeginSave(const CString& path, int blankAfterVersionHead) {
    m_openMode = kNone;
    m_path = path;
    m_sectionPath.Empty();
    m_currentChapter = nullptr;
    if (path.IsEmpty())
        return false;
    // A file that is there is written over in place and ended where the new
    // text ends: truncating it first gives all its cached pages back and the
    // writing takes new ones, which for a batch log of a million lines costs
    // more than the writing itself. Only the plain path is opened so: a file
    // that is not there is created as before, never looked for through a
    // shortcut.
    m_stream.reset(platform::OpenStream(path.str(), "r+t"));
    m_inPlace = m_stream != nullptr;
    if (!m_inPlace)
        m_stream.reset(OpenChapteredFile(path, "wt"));
    if (!m_stream)
        return false;
    m_openMode = kWriting;
    ExchangeHeader();
    WriteBlankLines(2);
    Chapter("Version");
    WriteBlankLines(blankAfterVersionHead - 1);
    ExchangeFormatVersion();
    ExchangeVersion(m_version);
    WriteBlankLines(2);
    return true;
}

bool KvFile::EndSave() {
    // The open mode stays "writing" as callers may look at it; with the stream
    // gone every later write is dropped.
    const bool ended = !m_inPlace || platform::EndFileHere(m_stream.get());
    m_stream.reset();
    return ended;
}

int KvFile::Save(const CString& path) {
    if (!BeginSave(path, 2))
        return kNotWritten;
    ExchangeContents();
    if (!EndSave())
        return kNotWritten;
    SetModified(false);
    return kSaved;
}

// ---- Chapters and sections ----

KvFile::Result KvFile::Chapter(const CString& name) {
    CString fullName = m_sectionPath.IsEmpty() ? name : m_sectionPath + ":" + name;
    if (m_openMode == kReading) {
        m_currentChapter = FindChapter(fullName);
        if (m_currentChapter == nullptr)
            return kNotExchanged;
        m_currentChapter->SetUsed(true);
        return kChapterFound;
    }
    if (m_openMode == kWriting) {
        WriteBlankLines(2);
        Write("[");
        Write(fullName.c_str());
        Write("]\n");
        WriteBlankLines(1);
        return kChapterFound;
    }
    return kNotExchanged;
}

void KvFile::BeginSection(const CString& name) {
    WriteBlankLines(2);
    m_sectionPath = m_sectionPath.IsEmpty() ? name : m_sectionPath + ":" + name;
    Chapter("nouvelle_section");
}

void KvFile::EndSection() {
    int colon = m_sectionPath.ReverseFind(':');
    m_sectionPath = colon == CString::npos ? CString() : m_sectionPath.Left(colon);
}

KvFile::Result KvFile::ElementChapter(const CString& className) {
    WriteBlankLines(2);
    return Chapter("element " + className);
}

KvFileChapitre* KvFile::FindChapter(const CString& name) {
    if (m_chapterRenamed) {
        m_chapterIndex.Clear();
        m_lowerNames.clear();
        m_chapterRenamed = false;
    }
    using chapfile_detail::FirstIndex;
    while (m_chapterIndex.Indexed() < m_chapters.size()) {
        const std::string& added =
            m_lowerNames.emplace_back(m_chapters[m_chapterIndex.Indexed()].GetName().Lower().str());
        m_chapterIndex.Append(FirstIndex::Hash(added), [&](std::uint32_t earlier) {
            return m_lowerNames[earlier] == added;
        });
    }
    std::string lower = name.Lower().str();
    std::size_t found = m_chapterIndex.Find(
        FirstIndex::Hash(lower), [&](std::uint32_t i) { return m_lowerNames[i] == lower; });
    return found == chapfile_detail::FirstIndex::kNone ? nullptr : &m_chapters[found];
}

void KvFile::NewChapter(const CString& name) {
    KvFileChapitre& chapter = m_chapters.emplace_back();
    chapter.SetName(name);
    chapter.m_renamed = &m_chapterRenamed;
}

void KvFile::RemoveAllChapters() {
    m_chapters.clear();
    m_chapters.shrink_to_fit();
    m_chapterIndex.Clear();
    m_lowerNames.clear();
    m_lowerNames.shrink_to_fit();
    m_chapterRenamed = false;
    m_currentChapter = nullptr;
}

// ---- Values ----

bool KvFile::FindValue(const CString& key, std::string_view& value) const {
    if (m_currentChapter == nullptr)
        return false;
    // The key lowercased and without trailing spaces, as FindLine takes it;
    // exchange code keys are short, so this mostly stays on the stack.
    std::string_view spelled = key.str();
    spelled = spelled.substr(0, spelled.find_last_not_of(' ') + 1);
    std::array<char, 64> small;
    std::string large;
    char* lower = small.data();
    if (spelled.size() > small.size()) {
        large.resize(spelled.size());
        lower = large.data();
    }
    for (std::size_t i = 0; i < spelled.size(); ++i) lower[i] = AsciiLower(spelled[i]);
    std::size_t found = m_currentChapter->FindIndex(std::string_view(lower, spelled.size()));
    if (found == KvFileChapitre::kNotFound)
        return false;
    value = m_currentChapter->ValueAt(found);
    return true;
}

void KvFile::WriteNumberLine(const CString& key, int value) {
    std::array<char, 16> digits{};
    auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    WriteValueLine(key, std::string_view(digits.data(), result.ptr - digits.data()));
}

void KvFile::WriteNumberLine(const CString& key, float value) {
    // The widest float in fixed notation takes 47 characters.
    std::array<char, 64> text{};
    int length = std::snprintf(text.data(), text.size(), "%f", static_cast<double>(value));
    if (length < 0)
        length = 0;
    WriteValueLine(key,
                   std::string_view(text.data(), std::min<std::size_t>(length, text.size() - 1)));
}

void KvFile::WriteTextLine(const CString& key, const CString& value) {
    std::string escaped;
    AppendTextValue(escaped, value.str());
    WriteValueLine(key, escaped);
}

void KvFile::ReadText(std::string_view text, CString& value) {
    value.str().assign(text);
    if (text.find("<saut>") != std::string_view::npos)
        value.Replace("<saut>", "\r\n");
}

// ---- Header and versions ----

KvFile::Result KvFile::ExchangeHeader() {
    if (m_openMode == kWriting) {
        Write("[[");
        Write(m_title.c_str());
        Write("]]\n");
        return kHeaderMatches;
    }
    if (m_openMode == kReading) {
        CString header = m_title;
        return ExchangeValue("EnTete", header) == kExchanged && header == m_title ? kHeaderMatches
                                                                                  : kNotExchanged;
    }
    return kNotExchanged;
}

KvFile::Result KvFile::ExchangeFormatVersion() {
    CString format = m_formatVersion;
    return ExchangeValue("Version ft", format) == kExchanged && format == m_formatVersion
               ? kVersionMatches
               : kNotExchanged;
}

KvFile::Result KvFile::ExchangeVersion(const CString& expected) {
    m_versionRead = expected;
    return ExchangeValue("Version", m_versionRead) == kExchanged && m_versionRead == expected
               ? kVersionMatches
               : kNotExchanged;
}

bool KvFile::MajorVersionDiffers() const {
    // Each version is cut at its own first "."; the versions of the system
    // ("0.1", "0.2") give the same answer as cutting both at the same length,
    // and a version read without "." (say "3") counts as a major change.
    return MajorPart(m_versionRead.str()) != MajorPart(m_version.str());
}

// ---- Reading ----

namespace {

// The next non-blank piece of the stream, trimmed of " \t\n\r", as a view
// into `buffer`; false at the end of the file. 1000 bytes as the simulator's
// reader: at most 999 characters per piece, so a longer line is read as
// several lines.
bool ReadPiece(std::FILE* stream, std::array<char, 1000>& buffer, std::string_view& text) {
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), stream) != nullptr) {
        std::string_view piece(buffer.data());
        std::size_t first = piece.find_first_not_of(" \t\n\r");
        if (first != std::string_view::npos) {
            text = piece.substr(first, piece.find_last_not_of(" \t\n\r") - first + 1);
            return true;
        }
    }
    return false;
}

}  // namespace

bool KvFile::ReadLine(KvFileString& line) {
    line = KvFileString();
    if (!m_stream)
        return false;
    std::array<char, 1000> buffer;
    std::string_view text;
    if (ReadPiece(m_stream.get(), buffer, text)) {
        line = KvFileString(CString(text));
        line.Classify();
        return true;
    }
    line.Classify();
    return false;
}

KvFile::Result KvFile::ParseFile(const CString& path) {
    m_openMode = kNone;
    m_stream.reset(OpenChapteredFile(path, "rt"));
    if (!m_stream)
        return kCannotOpen;
    m_openMode = kReading;
    RemoveAllChapters();
    Result result = kParsed;
    // The lines go straight from the read buffer into their chapter's arena,
    // split as ReadLine and Classify would split them, without building a
    // KvFileString for each.
    std::array<char, 1000> buffer;
    std::string_view text;
    while (ReadPiece(m_stream.get(), buffer, text)) {
        chapfile_detail::LineSplit split = chapfile_detail::SplitLine(text);
        if (split.type == KvFileString::kChapterHead) {
            NewChapter(CString(split.key).MakeLower());
        } else if (!m_chapters.empty()) {
            m_chapters.back().AddParsedLine(text, split);
        } else if (split.type == KvFileString::kHeader) {
            NewChapter("EnTete");
            m_chapters.back().AddParsedLine(text, split);
        } else {
            result = kTextBeforeHead;
            break;
        }
    }
    m_stream.reset();
    // Pointers into the list are handed out only once it is complete.
    m_currentChapter = nullptr;
    return result;
}

KvFile::Result KvFile::CheckHeaderAndVersions(const CString& path, bool& versionDiffers) {
    versionDiffers = false;
    m_openMode = kNone;
    m_sectionPath.Empty();
    if (path.IsEmpty())
        return kNotThisFile;
    SetPath(path);
    ParseFile(path);
    if (m_chapters.empty())
        return kNotThisFile;
    m_currentChapter = &m_chapters.front();
    if (ExchangeHeader() != kHeaderMatches)
        return kNotThisFile;
    m_chapters.front().SetUsed(true);
    if (Chapter("Version") != kChapterFound)
        return kNoVersionChapter;
    if (ExchangeFormatVersion() != kVersionMatches)
        return kFormatVersionRefused;
    versionDiffers = ExchangeVersion(m_version) != kVersionMatches;
    return kLoaded;
}

void KvFile::EndOwnLoad(const CString& path) {
    m_stream.reset();
    m_openMode = kReading;
    m_sectionPath.Empty();
    m_path = path;
    m_versionRead = m_version;
    RemoveAllChapters();
    SetModified(false);
}

int KvFile::Load(const CString& path) {
    bool versionDiffers = false;
    Result refused = CheckHeaderAndVersions(path, versionDiffers);
    if (refused != kLoaded) {
        // The parsed chapters of a refused file are of no further use.
        RemoveAllChapters();
        return refused;
    }
    bool majorDiffers = versionDiffers && MajorVersionDiffers();
    if (majorDiffers)
        ConvertFromVersion(m_versionRead);
    else
        ExchangeContents();
    RemoveAllChapters();
    SetModified(false);
    if (versionDiffers && !majorDiffers) {
        VersionChanged(m_versionRead);
        SetModified(true);
    }
    return kLoaded;
}
