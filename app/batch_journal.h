// The batch journal: what the launcher knows about the jobs it has launched
// and that have not finished yet, kept in the batch folder beside the queue
// ("batchjournal.txt") so that the next launcher can take up a run that was
// interrupted (a power cut, a reboot, a scheduler that ended the launcher).
//
// Before each launch the run records the job (user, name, position in the
// queue), its attempt number, the time of its first launch and of this
// attempt's launch, and, once it is started, the process (its id with its
// start time, so that an id the host has since given to another process is
// never taken for the job). A job's record is removed once its outcome is in
// the queue, so the file holds a handful of records whatever the length of
// the queue. The launcher also records its own process id for a status view.
//
// The file is rewritten whole for every change: written under another name
// in the same folder, flushed to the disk and moved into place, so that a
// crash at any moment leaves the previous journal or the new one, never a
// torn one. Reading never blocks the launcher: a status view may call Load
// at any time. A damaged file gives the records that can be read; lines that
// do not parse are ignored.
//
// The text, readable by people: a comment line, "launcher = <id>", then one
// block per record, "[job]" followed by "key = value" lines. Keys this
// version does not know are kept with their record and written back, so that
// fields added later (the cluster job id is the first) survive an older
// launcher.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "containers/cstring.h"
#include "platform/process.h"
#include "platform/sleep.h"
#include "platform/status.h"

// One job launched and not yet finished.
struct JournalRecord {
    CString user;
    CString name;
    unsigned position = 0;           // 0-based index of its entry in the queue
    int attempt = 0;                 // 1 for the first launch, 2 for the run after an interruption
    std::int64_t firstLaunchMs = 0;  // ms since 1970 UTC (platform::NowMs)
    std::int64_t launchMs = 0;       // this attempt's launch; 0 before any
    platform::ProcessIdentity process;  // id 0 until the process is started
    std::string clusterJob;             // the cluster's id of the job, when one runs it
    // Fields of a later version, kept as read.
    std::vector<std::pair<std::string, std::string>> otherFields;
};

class BatchJournal {
  public:
    // `folder`: the batch folder, ending with a backslash.
    explicit BatchJournal(CString folder);

    static constexpr const char* kFileName = "batchjournal.txt";
    static constexpr const char* kStagingFileName = "batchjournal.new";

    // Reads the file; a missing file is an empty journal. False only when a
    // file exists and cannot be read (the records are then empty).
    bool Load();
    // Writes the journal as described above. False when it cannot be written
    // (the reason is in LastError); the file on disk is then the previous one.
    // `flushToDisk` false skips the wait for the disk, for a change that a
    // crash of the machine makes moot anyway (the process a record names does
    // not outlive the machine): the file is still replaced whole.
    bool Save(bool flushToDisk = true);
    // Removes the file (a finished batch leaves none behind).
    void Remove();

    // The record of the entry at `position` for this user and job; null when
    // there is none. Entries keep their position for the life of a queue
    // (other programs append, never remove), and the same job may be queued
    // twice, so all three must match.
    JournalRecord* Find(const CString& user, const CString& name, unsigned position);
    // Replaces the record of the same entry (see Find) or adds one.
    JournalRecord& Put(const JournalRecord& record);
    // Removes the record of that entry, if any; true when one was removed.
    bool Erase(const CString& user, const CString& name, unsigned position);

    std::vector<JournalRecord>& Records() { return m_records; }
    const std::vector<JournalRecord>& Records() const { return m_records; }
    platform::ProcessId Launcher() const { return m_launcher; }
    void SetLauncher(platform::ProcessId id) { m_launcher = id; }

    CString GetPath() const { return m_folder + kFileName; }
    // Ok after a successful Load or Save; otherwise the failure, naming the file.
    const platform::Status& LastError() const { return m_lastError; }
    // The pause between attempts to put the file in place (tests pass one
    // that does not wait).
    void SetSleeper(platform::Sleeper sleeper) { m_sleeper = std::move(sleeper); }

  private:
    CString m_folder;
    platform::ProcessId m_launcher = 0;
    std::vector<JournalRecord> m_records;
    platform::Status m_lastError;
    platform::Sleeper m_sleeper = platform::RealSleeper();
};
