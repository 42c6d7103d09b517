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
// Every change is one state of the journal appended to the file with a line
// that closes it and carries a checksum of its text, then flushed to the disk
// when a crash must not lose it; a reader takes the last state whose checksum
// holds, so that a crash or a kill in the middle of an append leaves the
// previous state. Appending renames no file and creates none but a missing
// journal: on file systems where each new file and each replaced one is dear
// (ext4 without a journal, a scanned Windows folder) that was most of the
// launcher's own time per job. A save rewrites the file whole instead when the
// file was not read, or read with something other than a whole state at its end
// (a torn append, an earlier version's file), after a failed append, and when
// it would take the file past kCompactAt: written under another name in the
// same folder, flushed to the disk and moved into place, so the file stays
// small whatever the length of the queue. Reading never blocks the launcher: a
// status view may call Load at any time. A damaged file gives the records that
// can be read; lines that do not parse are ignored. A file without any closing
// line (written by an earlier version) is one state.
//
// The text, readable by people: a comment line, then states: each is
// "launcher = <id>", one block per record, "[job]" followed by "key = value"
// lines, and the closing comment "# state end <checksum>" (FNV-1a, 64 bits,
// in hex, of the text since the previous closing line or the file's start).
// Keys this version does not know are kept with their record and written
// back, so that fields added later (the cluster job id is the first) survive
// an older launcher.
#pragma once

#include <cstddef>
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
    // A save that would take the file past this many characters rewrites it
    // whole.
    static constexpr std::size_t kCompactAt = 32 * 1024;

    // Reads the file; a missing file is an empty journal. False only when a
    // file exists and cannot be read (the records are then empty).
    bool Load();
    // Writes the journal as described above. False when it cannot be written
    // (the reason is in LastError); a reader then finds a whole state, the
    // previous one or this one (written but not known to be on the disk).
    // `flushToDisk` false skips the wait for the disk when the state is
    // appended, for a change that a crash of the machine makes moot anyway:
    // the state is still written whole, and a rewrite is always flushed.
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
    // The current state as it is written: launcher line and records.
    std::string StateText() const;
    bool Append(const std::string& state, bool flushToDisk);
    bool Rewrite(const std::string& state);

    CString m_folder;
    // The file on disk ends with a whole state, as this object read or wrote
    // it (or is missing, when m_written is 0), with this many characters.
    bool m_appendable = false;
    std::size_t m_written = 0;
    platform::ProcessId m_launcher = 0;
    std::vector<JournalRecord> m_records;
    platform::Status m_lastError;
    platform::Sleeper m_sleeper = platform::RealSleeper();
};
