#include "batchlog/fichier_log_batch.h"

#include <cstring>
#include <string>
#include <string_view>

#include "batchlog/written_log_reader.h"

namespace {

// A text value as KvFile writes it: cut at a zero byte, then its line breaks
// as every value line holds them.
void AppendValue(std::string& out, std::string_view text) {
    AppendTextValue(out, text.substr(0, text.find('\0')));
}

}  // namespace

FichierLogBatch::FichierLogBatch() : KvFile("Batch informations", "0.1") {}

FichierLogBatch::~FichierLogBatch() = default;

int FichierLogBatch::Load(const CString& path) {
    if (batchlog_detail::ReadWrittenLog(path, *this) == batchlog_detail::WrittenLogRead::kLoaded) {
        EndOwnLoad(path);
        return kLoaded;
    }
    return KvFile::Load(path);
}

int FichierLogBatch::Exchange(KvFile& file) {
    // The order of the calls is the order of the lines in the file. Missing
    // chapters or keys are not errors: the values keep what they held.
    file.Chapter("JOB INFORMATIONS");
    file.ExchangeValue("Job name", m_jobName);
    file.ExchangeValue("User name", m_userName);
    file.ExchangeValue("IsGammeMachineComplexe", m_isGammeMachineComplexe);
    file.ExchangeValue("SimuOK", m_simuOK);
    file.ExchangeValue("Errors", m_nbErrors);
    file.ExchangeValue("Alerts", m_nbAlerts);
    file.WriteBlankLines(1);

    file.Chapter("EVENTS");
    ExchangeEvents(file);

    file.Chapter("ALERTS");
    file.ExchangeStringList("Alerts list", m_alertList, kMaxListTexts);

    file.Chapter("ERRORS");
    m_errorList.Exchange(file);
    return kExchanged;
}

void FichierLogBatch::ExchangeEvents(KvFile& file) {
    static const CString kName = "Event list";
    if (file.IsReading()) {
        // Only a log that is not laid out as Save writes it comes here.
        KvListeTabFixe<CString> texts{1024};
        file.ExchangeStringList(kName, texts, kMaxListTexts);
        m_eventList.Reset();
        m_eventList.Reserve(texts.GetCount());
        for (const CString& text : texts) m_eventList.Add(text);
        return;
    }
    unsigned count = m_eventList.GetCount();
    file.ExchangeValue(kName + " taille", count);
    if (&file != this) {
        // The lines ExchangeStringList writes, one value at a time.
        CString key;
        CString value;
        for (unsigned i = 0; i < count; ++i) {
            key = kName + " " + CString::Formatted("%d", static_cast<int>(i));
            value.str().assign(m_eventList[i]);
            file.ExchangeValue(key, value);
        }
        return;
    }
    // Saving: the same lines formatted here, with the line ends the file
    // holds, and handed over in large runs, as a million calls through the
    // value exchange and the stream's line-end translation cost several times
    // the writing itself.
    constexpr std::size_t kRun = 256 * 1024;
    std::string run;
    // "Event list <i> = ", the index counted up in place.
    constexpr std::size_t kFirstDigit = 11;
    std::string key = "Event list 0 = ";
    const bool controls = m_eventList.MayHoldControls();
    for (const std::string_view text : m_eventList) {
        if (!controls || (text.find('\0') == std::string_view::npos &&
                          text.find('\n') == std::string_view::npos)) {
            // The common case, copied straight into place.
            const std::size_t at = run.size();
            run.resize(at + key.size() + text.size() + 2);
            char* out = run.data() + at;
            std::memcpy(out, key.data(), key.size());
            if (!text.empty())  // an empty view's data may be null
                std::memcpy(out + key.size(), text.data(), text.size());
            out[key.size() + text.size()] = '\r';
            out[key.size() + text.size() + 1] = '\n';
        } else {
            run += key;
            AppendValue(run, text);
            run += "\r\n";
        }
        if (run.size() >= kRun) {
            WriteLines(run);
            run.clear();
        }
        std::size_t d = key.size() - 3;
        while (d > kFirstDigit && key[d - 1] == '9') key[--d] = '0';
        if (d > kFirstDigit)
            ++key[d - 1];
        else
            key.insert(key.begin() + kFirstDigit, '1');
    }
    WriteLines(run);
}

void FichierLogBatch::AddEvent(const CString& path, const CString& message) {
    Load(path);
    m_eventList.Add(message);
    Save(path);
}
