// Shared helpers of the fuzz targets: a private scratch folder for the
// readers that only take a path, and the input written there as a file.
//
// Fuzz targets run on Linux only (clang's libFuzzer), so this file may use
// POSIX calls directly; nothing in the product includes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzsupport {

// A folder of its own for this process, made on first use and removed with
// everything in it when the process exits normally. Under /dev/shm when that
// exists, so that writing the input for every run costs no disk I/O.
const std::string& ScratchFolder();

// ScratchFolder() + "/" + name.
std::string ScratchFile(const std::string& name);

// Replaces the file at `path` by exactly `size` bytes of `data`; aborts when
// the file cannot be written (a broken harness must not pass for a clean run).
void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size);
void WriteFile(const std::string& path, const std::string& bytes);

}  // namespace fuzzsupport
