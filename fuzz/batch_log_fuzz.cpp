// Fuzz target: a job's batch log, loaded as the launcher loads it after each
// job, saved under another name (as AddEvent writes a log back) and loaded
// again from what was saved. What the first load kept must survive the round
// trip: a log the launcher rewrites must not lose or change what it holds.
// Lines are read in pieces of 999 characters and the writer puts one blank on
// each side of "=", so a value read from a line close to that length may be
// saved on a line that is then read in two pieces: the comparison is made
// only for inputs whose lines all leave room for those blanks.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "batchlog/fichier_log_batch.h"
#include "fuzz/fuzz_support.h"

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "batch_log_fuzz: %s\n", what);
    std::abort();
}

std::vector<std::string> Texts(const KvListe<CString>& list) {
    std::vector<std::string> texts;
    list.ForEach([&](const CString& text) { texts.push_back(text.str()); });
    return texts;
}

std::vector<std::string> Texts(const TextList& list) {
    return std::vector<std::string>(list.begin(), list.end());
}

// True when no line of the input is longer than `limit` bytes.
bool LinesWithin(const std::uint8_t* data, std::size_t size, std::size_t limit) {
    std::size_t length = 0;
    for (std::size_t i = 0; i < size; ++i) {
        length = (data[i] == '\n' || data[i] == '\r') ? 0 : length + 1;
        if (length > limit)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string input = fuzzsupport::ScratchFile("job.log");
    static const std::string output = fuzzsupport::ScratchFile("job-saved.log");
    fuzzsupport::WriteFile(input, data, size);

    FichierLogBatch log;
    if (log.Load(input.c_str()) != KvFile::kLoaded)
        return 0;
    if (log.Save(output.c_str()) != KvFile::kSaved)
        Fail("a loaded log cannot be saved");
    FichierLogBatch again;
    if (again.Load(output.c_str()) != KvFile::kLoaded)
        Fail("a saved log does not load again");
    if (!LinesWithin(data, size, 990))
        return 0;
    if (again.m_jobName != log.m_jobName || again.m_userName != log.m_userName ||
        again.m_simuOK != log.m_simuOK || again.m_nbErrors != log.m_nbErrors ||
        again.m_nbAlerts != log.m_nbAlerts ||
        again.m_isGammeMachineComplexe != log.m_isGammeMachineComplexe)
        Fail("a job value changed in the round trip");
    if (Texts(again.m_eventList) != Texts(log.m_eventList) ||
        Texts(again.m_alertList) != Texts(log.m_alertList))
        Fail("an event or alert changed in the round trip");
    if (again.m_errorList.GetCount() != log.m_errorList.GetCount())
        Fail("the machine count changed in the round trip");
    return 0;
}
