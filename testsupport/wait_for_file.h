// Waiting on other processes in tests: polling for a file that another
// process creates or for a process to end, and passing a process identity
// from one process to another through a file.
#pragma once

#include <filesystem>
#include <string>

#include "platform/process.h"

namespace testsupport {

// Polls every 20 ms for a file that another process creates; false once
// `ms` have passed without it (the default allows for a slow first start under Wine).
bool WaitForFile(const std::filesystem::path& path, int ms = 60000);

// Polls until `process` no longer runs; false once `ms` have passed.
bool EndsWithin(const platform::ProcessIdentity& process, int ms = 10000);

// "<id> <start time>", renamed into place so that the reader never sees half
// of it. The reader waits for the file and gives id 0 when none comes.
void WriteIdentityFile(const std::string& path, const platform::ProcessIdentity& process);
platform::ProcessIdentity ReadIdentityFile(const std::string& path);

}  // namespace testsupport
