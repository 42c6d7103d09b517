// KvFileString: one line of a chaptered file, split into type, key and value.
//
// The text itself is the CString part; Classify() derives the rest from it:
//   "[[Title]]"       header line,  key "entete", value "Title"
//   "[Name]"          chapter head, key "name" (the chapter name)
//   "Key = Value"     value line,   key "key", value "Value"
// Keys are lowercased so that chapters and keys match without regard to case;
// values keep their case. The queue file reader uses the same split on its
// own lines, which is why this class is public.
#pragma once

#include <utility>

#include "containers/cstring.h"

class KvFileString : public CString {
  public:
    enum LineType { kUnclassified = 0, kHeader = 1, kChapterHead = 2, kValue = 4 };

    KvFileString() = default;
    // The text of a line as read; not yet classified.
    explicit KvFileString(const char* text) : CString(text) {}
    explicit KvFileString(CString text) : CString(std::move(text)) {}
    KvFileString(const KvFileString&) = default;
    KvFileString(KvFileString&&) noexcept = default;
    KvFileString& operator=(const KvFileString&) = default;
    KvFileString& operator=(KvFileString&&) noexcept = default;
    virtual ~KvFileString() = default;

    // Fills type, key and value from the text, which is left unchanged.
    void Classify();

    const CString& Text() const { return *this; }
    int GetType() const { return m_type; }
    void SetType(int type) { m_type = type; }
    const CString& GetKey() const { return m_key; }
    void SetKey(const CString& key) { m_key = key; }
    const CString& GetValue() const { return m_value; }
    bool GetValue(CString& value) const {
        value = m_value;
        return true;
    }
    void SetValue(const CString& value) { m_value = value; }
    // True when the key equals `key` exactly (keys are lowercase once
    // classified).
    bool IsKey(const CString& key) const { return m_key == key; }

    // The value scanned as "%d", "%u" and "%f" would scan it: leading blanks
    // skipped, a sign allowed, trailing text ignored. True when a number was
    // found; otherwise the target is left alone.
    bool ValueAsInt(int& value) const;
    bool ValueAsUInt(unsigned& value) const;
    bool ValueAsFloat(float& value) const;

  private:
    int m_type = kUnclassified;
    CString m_key;
    CString m_value;
};

namespace chapfile_detail {
// Number scanning shared by the value readers. Integers are taken modulo 2^32
// (as the 64-bit C runtime does for any number it can hold) so that every host
// reads the same value; "-1" scanned as unsigned is 4294967295.
bool ScanInt(const char* text, int& value);
bool ScanUInt(const char* text, unsigned& value);
bool ScanFloat(const char* text, float& value);
}  // namespace chapfile_detail
