// KvObjetFile: the base of everything that can be stored in a chaptered file.
//
// A stored class overrides Exchange and calls the file's chapter and value
// operations in a fixed order. The same call sequence writes the object while
// the file is being saved and fills it while the file is being loaded, so a
// class has exactly one place that knows its layout on disk. Small values that
// are stored as one text (a colour, a tolerance) override FromText/ToText and
// are exchanged as a single value line.
#pragma once

#include "containers/cstring.h"

class KvFile;

class KvObjetFile {
  public:
    virtual ~KvObjetFile() = default;

    // The numeric results of the chaptered file's operations. The values are
    // the ones stored classes have always returned and compared against, so
    // names of different operations share values; each operation says which
    // of them it gives.
    enum Result : int {
        // Exchanges of values, lists and objects.
        kNotExchanged = 0,
        kExchanged = 4,
        // Exchanges of the header line, a chapter head and the versions.
        kHeaderMatches = 1,
        kChapterFound = 2,
        kVersionMatches = 5,
        // Save.
        kSaved = 0,
        kNotWritten = 1,
        // Load: loaded, or the kind of refusal.
        kLoaded = 0,
        kFormatVersionRefused = 2,
        kNoVersionChapter = 4,
        kElementRefused = 4,
        kNotThisFile = 5,
        // ParseFile.
        kParsed = 0,
        kCannotOpen = 1,
        kTextBeforeHead = 3,
    };

    // Sets the object's value from its text form, as found in a value line.
    virtual void FromText(const CString& /*text*/) {}
    // Gives the object's value as the text of a value line.
    virtual void ToText(CString& /*text*/) {}
    // Always 4 for the classes of the system; kept for the classes that
    // override it, nothing here looks at it.
    virtual int Kind(int /*unused*/) { return 4; }
    // Reads or writes the object through `file`, as its open mode says.
    // Returns kExchanged when done; the default stores nothing and returns
    // kNotExchanged.
    virtual int Exchange(KvFile& /*file*/) { return kNotExchanged; }
};
