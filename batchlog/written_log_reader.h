// Reading a batch log in one pass, straight into a FichierLogBatch, when the
// file is laid out exactly as FichierLogBatch::Save writes it.
//
// A job's log may hold a million events. The general load of a chaptered file
// parses every line into chapters and indexes them before the exchange code
// copies the values out, so the text is held twice and looked up by key. A
// log as Save wrote it needs none of that: its chapters and keys come in a
// fixed order, and each event is the next line. This reader takes such a file
// line by line into the log's members and holds no more than a buffer of the
// file; anything else (another order, a key spelled in another case, a
// repeated key, a line the general reader would cut or end early, a version
// other than the class's) makes it answer kNotAsWritten, and the caller loads
// the file the general way. Both give the same values for a file both accept.
#pragma once

#include "containers/cstring.h"

class FichierLogBatch;

namespace batchlog_detail {

enum class WrittenLogRead {
    kLoaded,        // every value of the file is in the log
    kNotAsWritten,  // the file cannot be opened or is not laid out as Save writes it
};

// Reads `path` into `log`. On kNotAsWritten the log's values are as they
// were, except that its three lists may have been emptied or filled in part
// (the general load empties them anyway for any file whose header and
// versions it accepts, and the file got that far); the caller then loads the
// file the general way.
WrittenLogRead ReadWrittenLog(const CString& path, FichierLogBatch& log);

}  // namespace batchlog_detail
