// Shared by the tests of batchlog/: text as the text-mode stream writes it on
// either host, and what a log object holds as one comparable text.
#pragma once

#include <string>
#include <string_view>

#include "batchlog/fichier_log_batch.h"

namespace batchlog_test {

inline std::string Crlf(const std::string& text) {
    std::string out;
    for (char ch : text) out += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    return out;
}

// "job|user|<complex><ok>|errors|alerts", then each list with its count and
// texts, and each machine of the error tree with its channels.
inline std::string Content(const FichierLogBatch& log) {
    std::string out = log.m_jobName.str() + "|" + log.m_userName.str() + "|" +
                      std::to_string(log.m_isGammeMachineComplexe) + std::to_string(log.m_simuOK) +
                      "|" + std::to_string(log.m_nbErrors) + "|" + std::to_string(log.m_nbAlerts) +
                      "\nevents";
    auto texts = [&out](const KvListe<CString>& list) {
        out += "(" + std::to_string(list.GetCount()) + ")";
        list.ForEach([&](const CString& text) { out += "[" + text.str() + "]"; });
        out += "\n";
    };
    out += "(" + std::to_string(log.m_eventList.GetCount()) + ")";
    for (std::string_view text : log.m_eventList) (out += "[") += std::string(text) + "]";
    out += "\n";
    out += "alerts";
    texts(log.m_alertList);
    log.m_errorList.ForEach([&](const KvListeErreurMachine& machine) {
        out += "machine\n";
        machine.ForEach([&](const KvListeErreurCanal& channel) {
            out += "channel";
            texts(channel);
        });
    });
    return out;
}

}  // namespace batchlog_test
