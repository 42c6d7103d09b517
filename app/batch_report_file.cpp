#include "app/batch_report_file.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

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

CString Printable(const CString& text) {
    std::string shown = text.str();
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    return CString(shown);
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
    // lines, each block one write, copied straight from the log's texts with
    // the line ends the file holds, so the stream translates none of them.
    // A line break inside an event is written as the text stream would
    // write it ("\n" as "\r\n").
    const CString eventMessage = ReportMessage(kReportEvent);
    const std::string_view head = eventMessage.str();
    constexpr std::size_t kBlockSize = 256 * 1024;
    std::string block;
    std::size_t used = 0;
    const bool controls = log.m_eventList.MayHoldControls();
    for (std::string_view event : log.m_eventList) {
        const std::size_t line = head.size() + event.size() + 2;
        if (used > 0 && used + line > kBlockSize) {
            WriteLines(std::string_view(block.data(), used));
            used = 0;
        }
        if (controls && event.find('\n') != std::string_view::npos) {
            block.resize(used);
            block += head;
            for (char c : event) {
                if (c == '\n')
                    block += '\r';
                block += c;
            }
            block += "\r\n";
            used = block.size();
            continue;
        }
        // Grown as the lines need it: a job of three events must not clear
        // a whole block.
        if (block.size() < used + line)
            block.resize(std::max(used + line, std::min(kBlockSize, 2 * block.size())));
        char* out = block.data() + used;
        std::memcpy(out, head.data(), head.size());
        if (!event.empty())  // an empty view's data may be null
            std::memcpy(out + head.size(), event.data(), event.size());
        out[line - 2] = '\r';
        out[line - 1] = '\n';
        used += line;
    }
    WriteLines(std::string_view(block.data(), used));
    WriteLine(ReportMessage(kReportAlerts) + CString::Formatted("%d", log.m_nbAlerts));
    WriteLine(ReportMessage(kReportErrors) + CString::Formatted("%d", log.m_nbErrors));
    WriteLine(CString());
}
