// The queue of simulation jobs: "batchexec.txt" in the current user's batch
// folder, and the entry into the batch run that works through it (BatchRun,
// batch_run.h).
//
// Users queue jobs from the interactive simulator, which records them in one
// batch project file per user ("<user>-BATCH.tvs"). When the queue file is
// missing, Rebuild turns those records into a new queue; from then on the
// batch run keeps the queue file up to date after every change of a job's
// state, and the simulator's tools watch and edit it meanwhile. The file is
// therefore held only for short moments (an exclusive open, see KvBatchFile)
// and re-read (Refresh) every time it is reopened, so that their edits are
// taken over rather than overwritten.
//
// The file: "nb = <count>", then five lines per job: "user = ", "name = ",
// "state = ", "status = ", "wait = ". Reading is positional: the keys are not
// compared, the value of each line is what follows its first "=".
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/batch_file.h"
#include "app/launch.h"
#include "containers/cstring.h"
#include "containers/kv_liste_chainee.h"
#include "platform/sleep.h"

class ListeUsers;

// One queued job.
class KvBatchExecGamme {
  public:
    enum State { kWaiting = 0, kRunning = 1, kFinished = 2 };
    enum Status { kFailed = 0, kSucceeded = 1 };

    virtual ~KvBatchExecGamme() = default;

    CString m_user;  // the user who queued the job
    CString m_name;  // the job name as the user gave it
    int m_state = kWaiting;
    int m_status = kFailed;  // meaningful once the state is kFinished
    // Non-zero: the job may only start once the entry just before it has
    // finished with a status other than 0, and is skipped when that entry
    // finished with status 0. The first entry never waits.
    int m_wait = 0;
};

// A job record found in a user's batch project file.
struct ScannedJob {
    CString name;
    int wait = 0;
};

// The job records of one batch project file, read from `stream` (a text
// stream) to its end: a line containing "[element gamme gamme de gamme]"
// begins a record, the next line containing "m_waitForPrec = " gives its wait
// flag (the text after those 16 characters, as a decimal number, 0 when it is
// none) and the next one containing "nom = " its name (the text after those 6
// characters). A record cut off by the end of the file is dropped, and a last
// line without a line end is not examined.
std::vector<ScannedJob> ScanBatchProject(std::FILE* stream);

struct BatchRunHost;

class KvBatchExecFile : public KvBatchFile {
  public:
    // `folder`: the batch folder, ending with a backslash. `users` is not
    // owned and must outlive this object.
    KvBatchExecFile(CString folder, ListeUsers* users);
    ~KvBatchExecFile() override;

    // Empties the job list and reads the file from the current position,
    // one entry per group of five lines. The stream must be open; it is read
    // ahead, so a write that follows must rewind first (Save does).
    void Read() override;
    // Reads the file from the current position into the existing entries:
    // the i-th group of the file overwrites the five fields of the i-th entry.
    void Refresh();
    // As Read, from a stream opened by the caller (a reader that opens the
    // queue its own way, such as the status view). `stream` may be null:
    // the list is then empty.
    void ReadFrom(std::FILE* stream);
    // Writes the count and the entries at the current position, neither
    // rewinding nor truncating. A closed file is first opened "wt" (the mode
    // is not remembered).
    void Write() override;
    // Makes the queue from the users' batch project files, in the order of
    // the users list, and writes it. The new queue is written under another
    // name in the same folder, flushed to the disk and then put in place, so
    // that a crash at any moment leaves either no queue or a whole one.
    // Leaves the file closed. False when the queue cannot be written (the
    // failure is then in GetOpenFailure).
    bool Rebuild();
    // No entry is waiting (true for an empty queue).
    bool AllStarted();
    // Every entry has finished (true for an empty queue).
    bool AllFinished();

    // Runs every queued job with the machine's settings (BatchRun::Run).
    // False when the run had to stop because a file could not be opened for
    // a reason waiting cannot cure, or before it began because the settings
    // cannot be read (GetRunFailure says which); nothing else has been
    // touched after that moment.
    bool RunBatch();
    bool RunBatch(const BatchRunHost& host);
    // The failure that stopped the last RunBatch: an I/O error naming the
    // queue or the report file, or SettingsMissing.
    const platform::Status& GetRunFailure() const { return m_runFailure; }

    // Rewind, Write, and flush to the disk: other programs and a later run
    // after a crash find the entries' new states. The file must be open.
    void Save();

    KvListeS<KvBatchExecGamme>& Jobs() { return m_jobs; }
    const CString& GetFolder() const { return m_folder; }
    ListeUsers* GetUsers() const { return m_users; }

    // The name of the queue file in the batch folder.
    static constexpr const char* kFileName = "batchexec.txt";
    // The file a rebuilt queue is written to before it is put in place.
    static constexpr const char* kRebuildFileName = "batchexec.new";

  private:
    // What one group of the file gives its entry: the two names, and the
    // numbers that parse (bit n of `set` for numbers[n]; the others leave
    // their fields as they are).
    struct KnownGroup {
        std::string user;
        std::string name;
        int numbers[3] = {0, 0, 0};  // state, status, wait
        unsigned set = 0;
    };
    // The text last read or saved and what its groups give, so that reading
    // the same bytes again (the queue is reread after every reopen, mostly
    // unchanged) takes the groups without parsing them.
    struct KnownText {
        std::string text;
        std::vector<KnownGroup> groups;
    };
    // A longer file is parsed as it is read, never kept.
    static constexpr std::size_t kKnownTextLimit = 4 * 1024 * 1024;

    // The positional reading shared by Read and Refresh.
    void ReadGroups(std::FILE* stream, bool rebuildList);
    // Gives the groups to the entries in order, adding entries past the end
    // of the list.
    void Apply(const std::vector<KnownGroup>& groups);

    CString m_folder;
    ListeUsers* m_users;
    KvListeS<KvBatchExecGamme> m_jobs;
    platform::Status m_runFailure;
    std::optional<KnownText> m_known;
};

// The job and user names that cannot be passed on the job command line: a
// double quotation mark ends the quoting, "%" and "!" are expanded by the
// command interpreter even inside quotes, and a control character (a line
// feed above all) ends or breaks the line. Returns the first such character
// of `text`, or nothing when there is none.
std::optional<char> FindUnpassableCharacter(const CString& text);
// How an event names such a character: '"', '%', '!' or "0x0A".
std::string DescribeCharacter(char c);
