// FichierLogBatch: the batch log of one simulation job, a chaptered file that
// says who ran which job, whether the simulation succeeded, how many errors
// and alerts it raised, and lists its events, its alerts and its errors by
// machine and channel.
//
// The simulator writes the log; the batch launcher loads it after each job to
// learn the success flag and copy events and counts into the batch report,
// and appends an event of its own when a job cannot be launched (AddEvent).
// Everything the launcher does not change is written back as it was read.
#pragma once

#include "batchlog/error_lists.h"
#include "batchlog/text_list.h"
#include "chapfile/kv_file.h"
#include "containers/cstring.h"
#include "containers/kv_liste_chainee.h"
#include "containers/kv_liste_tab.h"

class FichierLogBatch : public KvFile {
  public:
    // Event and alert lists hold at most this many texts when read.
    static constexpr unsigned kMaxListTexts = 1000000;

    FichierLogBatch();
    ~FichierLogBatch() override;

    // Those of KvFile. Load replaces every value the file holds and leaves
    // the others as they were; the three lists are emptied whenever the body
    // of the file is read, so a list the file lacks comes back empty.
    using KvFile::Save;
    int Save(const CString& path) override { return KvFile::Save(path); }
    // A log laid out as Save writes it is read in one pass, without the
    // general parse (see written_log_reader.h); the values are the same.
    int Load(const CString& path) override;

    // The body of the file: job informations, events, alerts, errors.
    // Always 4.
    int Exchange(KvFile& file) override;

    // Loads the log at `path` (a missing or foreign file leaves this object as
    // it was), appends `message` to the events and saves the whole log back.
    // Nothing is retried: the event is lost when the save fails.
    void AddEvent(const CString& path, const CString& message);

    CString m_jobName;
    CString m_userName;
    int m_nbErrors = 0;
    int m_nbAlerts = 0;
    bool m_isGammeMachineComplexe = false;
    bool m_simuOK = false;
    // Events are many and only read: they are kept end to end (text_list.h).
    TextList m_eventList;
    KvListeS<CString> m_alertList;
    KvListeErreurToutesMachines m_errorList;

  private:
    // The event list as ExchangeStringList reads and writes a list of texts.
    void ExchangeEvents(KvFile& file);
};
