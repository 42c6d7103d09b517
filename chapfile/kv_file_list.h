// KvFileListe: a chaptered file holding a list of like objects -- a few fixed
// chapters (ExchangeContents) followed by one chapter per element, named
// "element " + the element's class name.
//
// Loading needs no element count: once the fixed chapters are read, every
// chapter that no Chapter() call consumed is offered to ExchangeElement, in
// file order. The list reads an element from the chapters it recognises and
// accepts (kExchanged) the others by ignoring them; anything else counts as a
// refused element and makes Load return kElementRefused after the remaining
// chapters were offered.
// A second chapter with the name of a fixed chapter is offered too, since
// only the first of a name is read as the fixed one.
#pragma once

#include "chapfile/kv_file.h"

class KvFileListe : public KvFile {
  public:
    KvFileListe(const CString& title, const CString& version) : KvFile(title, version) {}

    // The list itself carries no values of its own.
    int Exchange(KvFile& /*file*/) override { return kExchanged; }

    using KvFile::Save;
    // Writes the header, the version chapter (one empty line after its head,
    // one fewer than KvFile), the fixed chapters, then ExchangeElement(null).
    // kSaved, or kNotWritten when the file cannot be opened for writing.
    // Leaves the modified flag alone.
    int Save(const CString& path) override;
    // kLoaded and every offered chapter accepted; kNoVersionChapter, or
    // kElementRefused (the same value) when a chapter was refused;
    // kFormatVersionRefused for a format version not "0.2" or a major version
    // change that ConvertFromVersion did not accept with kExchanged;
    // kNotThisFile for an empty path, an unreadable file, no chapter or a
    // header that does not match.
    int Load(const CString& path) override;

    // The fixed chapters.
    int ExchangeContents() override = 0;
    // Reading: `chapter` is an unconsumed chapter, already current; read an
    // element from it if it is one (see IsElement) and return kExchanged, also when it
    // is ignored. Writing: called once with null; write every element, each
    // started by ElementChapter(class name), and return kExchanged.
    virtual int ExchangeElement(KvFileChapitre* chapter) = 0;
};
