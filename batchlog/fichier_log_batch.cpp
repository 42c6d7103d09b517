#include "batchlog/fichier_log_batch.h"

#include "batchlog/written_log_reader.h"

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
    file.ExchangeStringList("Event list", m_eventList, kMaxListTexts);

    file.Chapter("ALERTS");
    file.ExchangeStringList("Alerts list", m_alertList, kMaxListTexts);

    file.Chapter("ERRORS");
    m_errorList.Exchange(file);
    return kExchanged;
}

void FichierLogBatch::AddEvent(const CString& path, const CString& message) {
    Load(path);
    CString* event = m_eventList.NewElement();
    if (event != nullptr)
        *event = message;
    Save(path);
}
