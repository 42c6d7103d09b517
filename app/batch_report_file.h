// The report file "batchreport.txt": the running, human-readable account of
// a batch run, kept in the current user's batch folder beside the queue.
//
// For each job the batch run appends a stamped line when the job starts and
// one when it ends, the job's result and a summary of the job's batch log
// (its events, its alert and error counts, an empty line); a job skipped
// after a failed predecessor gets its started, ended and skipped lines. Every
// fixed text comes from the user catalogue (keys 20, 0, 0, n), so the report
// is in the user's language. The launcher only appends; other programs read
// the file between the steps, which is why it is opened "a+" and closed again
// after each group of lines.
#pragma once

#include <cstdint>
#include <utility>

#include "app/batch_file.h"
#include "containers/cstring.h"

class FichierLogBatch;

// The last key number of the report texts in the user catalogue.
enum ReportText : std::uint32_t {
    kReportEvent = 1,       // before each event of the job's log
    kReportAlerts = 2,      // before the number of alerts
    kReportErrors = 3,      // before the number of errors
    kReportUser = 4,        // before the user's name on the started and ended lines
    kReportStarted = 5,     // between user and job on the started line
    kReportEnded = 6,       // between user and job on the ended line
    kReportSkipped = 7,     // the whole skipped line
    kReportResult = 8,      // before 1 (success) or 0
    kReportBannerName = 9,  // the program's name in the banner (not a report line)
    // Notes on a job that an interrupted launcher left running, between user
    // and job as on the started line.
    kReportTakenOverRunning = 10,  // its process still ran: waited for
    kReportTakenOverEnded = 11,    // it ended meanwhile: outcome from its log
    kReportRunAgain = 12,          // it is run again from the start
    kReportInterruptedTwice = 13,  // interrupted on its second attempt: failed
    // Events the launcher adds to a job's log.
    kEventInterruptedTwice = 14,  // the whole event
    kEventTimeLimit = 15          // before the limit in seconds
};

// The user catalogue text (20, 0, 0, n). The texts from 10 on are newer than
// most installed catalogues: where the catalogue lacks one, its English text
// is used.
CString ReportMessage(ReportText n);

class KvBatchReportFile : public KvBatchFile {
  public:
    // `path`: the batch folder (with its final backslash) + "batchreport.txt".
    explicit KvBatchReportFile(CString path) : KvBatchFile(std::move(path)) {}

    // The line kinds. Each writes only while the file is open "a+".
    // <stamp> -> (4)"user"(5)"job"
    void WriteJobStarted(const CString& user, const CString& job);
    // <stamp> -> (4)"user"(note)"job", for the notes from 10 to 13.
    void WriteNote(ReportText note, const CString& user, const CString& job);
    // <stamp> -> (4)"user"(6)"job"
    void WriteJobEnded(const CString& user, const CString& job);
    // (7)
    void WriteJobSkipped();
    // (8)1 or (8)0
    void WriteJobResult(bool succeeded);
    // (1)event for each event of `log` in order, (2)alerts, (3)errors, and
    // an empty line that ends the job's block.
    void WriteJobSummary(const FichierLogBatch& log);
};
