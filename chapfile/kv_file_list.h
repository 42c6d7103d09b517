// KvFileListe: a chaptered file holding a list of like objects -- a few fixed
// chapters (ExchangeContents) followed by one chapter per element, named
// "element " + the element's class name.
//
// Loading needs no element count: once the fixed chapters are read, every
// chapter that no Chapter() call consumed is offered to ExchangeElement, in
// file order. The list reads an element from the chapters it recognises and
// accepts (4) the others by ignoring them; anything else counts as a refused
// element and makes Load return 4 after the remaining chapters were offered.
// A second chapter with the name of a fixed chapter is offered too, since
// only the first of a name is read as the fixed one.
#pragma once

#include "chapfile/kv_file.h"

class KvFileListe : public KvFile {
  public:
    KvFileListe(const CString& title, const CString& version) : KvFile(title, version) {}

    // The list itself carries no values of its own.
    int Exchange(KvFile& /*file*/) override { return 4; }

    using KvFile::Save;
    // Writes the header, the version chapter (one empty line after its head,
    // one fewer than KvFile), the fixed chapters, then ExchangeElement(null).
    // 0 written, 1 the file cannot be opened for writing. Leaves the modified
    // flag alone.
    int Save(const CString& path) override;
    // 0 loaded and every offered chapter accepted; 4 no "Version" chapter or
    // at least one chapter refused; 2 format version not "0.2", or a major
    // version change that ConvertFromVersion did not accept with 4; 5 empty
    // path, unreadable file, no chapter or a header that does not match.
    int Load(const CString& path) override;

    // The fixed chapters.
    int ExchangeContents() override = 0;
    // Reading: `chapter` is an unconsumed chapter, already current; read an
    // element from it if it is one (see IsElement) and return 4, also when it
    // is ignored. Writing: called once with null; write every element, each
    // started by ElementChapter(class name), and return 4.
    virtual int ExchangeElement(KvFileChapitre* chapter) = 0;
};
