// A fresh, empty folder for one test, removed with everything in it when the
// object goes out of scope. Paths are host paths (std::filesystem form).
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace testsupport {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // `name` inside the folder, as a string for the code under test.
    std::string File(const std::string& name) const { return (m_path / name).string(); }

  private:
    std::filesystem::path m_path;
};

// Whole-file helpers for tests: binary, no line-end translation.
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);
std::string ReadBytes(const std::filesystem::path& path);
// Everything left to read from `stream` as the stream gives it, which is then
// closed; "<not opened>" for a null stream (an open that failed).
std::string ReadAndClose(std::FILE* stream);

}  // namespace testsupport
