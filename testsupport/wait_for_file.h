// Waiting on other processes in tests: polling for a file that another
// process creates or for a process to end, passing a process identity
// through a file, and a child process that holds a file with the exclusive
// open the way another program (an editor of the queue, a second launcher)
// would, until the test lets it go.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/process.h"

namespace testsupport {

// Polls every 20 ms for a file that another process creates; false once
// `ms` have passed without it (the default allows for a first start under
// Wine, which can be slow).
bool WaitForFile(const std::filesystem::path& path, int ms = 60000);

// Polls until `process` no longer runs; false once `ms` have passed.
bool EndsWithin(const platform::ProcessIdentity& process, int ms = 10000);

// An identity as one process hands it to another: "<id> <start time>",
// renamed into place so that the reader never sees half of it. The reader
// waits for the file (WaitForFile) and gives id 0 when none comes.
void WriteIdentityFile(const std::string& path, const platform::ProcessIdentity& process);
platform::ProcessIdentity ReadIdentityFile(const std::string& path);

// A child of this test executable that opens `path` with
// platform::OpenExclusive in `mode` and keeps it open until Release(). Then
// it reads the file from its start, appends `append` and closes it. The
// constructor returns once the child holds the file (or has failed to).
class FileHolder {
  public:
    FileHolder(const std::string& path, const std::string& mode, std::string expected,
               std::string append = "");
    ~FileHolder();
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

    // True once the child holds the file; Reason() says why not otherwise.
    bool Holding() const { return m_holding; }
    const std::string& Reason() const { return m_reason; }
    // Lets the child go on; it then closes the file and ends.
    void Release();
    // Waits for the child's end. Its status: 0 when it read `expected` at
    // release (nobody emptied the file under it), 1 when it read something
    // else, 2 when it could not open the file, 3 when never released.
    std::optional<int> Wait();

  private:
    std::string m_go;
    platform::LaunchResult m_child;
    bool m_holding = false;
    bool m_waited = false;
    std::string m_reason;
};

}  // namespace testsupport
