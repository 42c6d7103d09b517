// Shared by the tests of batchlog/: text as the text-mode stream writes it on
// either host, and what a log object holds as comparable texts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "batchlog/fichier_log_batch.h"

namespace batchlog_test {

inline std::string Crlf(std::string text) {
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2)
        text.insert(at, 1, '\r');
    return text;
}

inline std::vector<std::string> Texts(const KvListe<CString>& list) {
    std::vector<std::string> texts;
    list.ForEach([&](const CString& text) { texts.push_back(text.str()); });
    return texts;
}

inline std::vector<std::string> Texts(const TextList& list) {
    return std::vector<std::string>(list.begin(), list.end());
}

// "job|user|<complex><ok>|errors|alerts", then each list with its count and
// texts, and each machine of the error tree with its channels.
inline std::string Content(const FichierLogBatch& log) {
    std::string out = log.m_jobName.str() + "|" + log.m_userName.str() + "|" +
                      std::to_string(log.m_isGammeMachineComplexe) + std::to_string(log.m_simuOK) +
                      "|" + std::to_string(log.m_nbErrors) + "|" + std::to_string(log.m_nbAlerts) +
                      "\nevents";
    auto texts = [&out](const auto& list) {
        out += "(" + std::to_string(list.GetCount()) + ")";
        for (const std::string& text : Texts(list)) out += "[" + text + "]";
        out += "\n";
    };
    texts(log.m_eventList);
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
