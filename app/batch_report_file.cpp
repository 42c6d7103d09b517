#include "app/batch_report_file.h"

#include <string>
#include <utility>

#include "batchlog/fichier_log_batch.h"
#include "messages/catalogue.h"

CString ReportMessage(ReportText n) {
    CString text = g_userMessages.GetMessage(20, 0, 0, n);
    if (n < kReportTakenOverRunning || text != g_userMessages.GetFallback())
        return text;
    switch (n) {
        case kReportTakenOverRunning:
            return ": job interrupted with its launcher and still running, now waited for: ";
        case kReportTakenOverEnded:
            return ": job interrupted with its launcher, ended meanwhile, outcome taken from its "
                   "log: ";
        case kReportRunAgain:
            return ": job interrupted, run again from the start: ";
        case kReportInterruptedTwice:
            return ": job interrupted twice, not run again: ";
        case kEventInterruptedTwice:
            return "Interrupted twice: the job is not run a third time";
        case kEventTimeLimit:
            return "Ended at its time limit (seconds): ";
        default:
            return text;
    }
}

namespace {

// Message, user and job as "(m)"user"(n)"job"": names may hold "%", so they
// are joined, never used as a format.
CString JobLine(ReportText between, const CString& user, const CString& job) {
    return ReportMessage(kReportUser) + "\"" + user + "\"" + ReportMessage(between) + "\"" + job +
           "\"";
}

}  // namespace

void KvBatchReportFile::WriteJobStarted(const CString& user, const CString& job) {
    WriteStamped(JobLine(kReportStarted, user, job));
}

void KvBatchReportFile::WriteNote(ReportText note, const CString& user, const CString& job) {
    WriteStamped(JobLine(note, user, job));
}

void KvBatchReportFile::WriteJobEnded(const CString& user, const CString& job) {
    WriteStamped(JobLine(kReportEnded, user, job));
}

void KvBatchReportFile::WriteJobSkipped() {
    WriteLine(ReportMessage(kReportSkipped));
}

void KvBatchReportFile::WriteJobResult(bool succeeded) {
    WriteLine(ReportMessage(kReportResult) + (succeeded ? "1" : "0"));
}

void KvBatchReportFile::WriteJobSummary(const FichierLogBatch& log) {
    // A log may hold a million events: their lines go out in blocks of many
    // lines, each block one write of the same bytes.
    const CString eventText = ReportMessage(kReportEvent);
    constexpr std::size_t kBlockSize = 256 * 1024;
    std::string block;
    for (const CString& event : log.m_eventList) {
        if (block.size() > kBlockSize) {
            block.pop_back();  // WriteLine ends the last line itself
            WriteLine(CString(std::move(block)));
            block.clear();
        }
        if (block.capacity() < kBlockSize)
            block.reserve(kBlockSize + 4096);
        block += eventText.str();
        block += event.str();
        block += '\n';
    }
    if (!block.empty()) {
        block.pop_back();
        WriteLine(CString(std::move(block)));
    }
    WriteLine(ReportMessage(kReportAlerts) + CString::Formatted("%d", log.m_nbAlerts));
    WriteLine(ReportMessage(kReportErrors) + CString::Formatted("%d", log.m_nbErrors));
    WriteLine(CString());
}
