// Memory for the large buffers a program fills as it reads, such as a batch
// log's event texts: whole runs of huge pages where the host gives them.
//
// AllocateLarge never blocks on other programs; it gives nullptr when there
// is no such memory (a size of 0 included), and the memory it gives is
// writable, zeroed and released by FreeLarge with the same size.
//   Linux: an anonymous mapping of whole 2 MiB runs, aligned to 2 MiB and
//     advised for transparent huge pages (MADV_HUGEPAGE). On a virtual
//     machine, bringing in small pages one by one costs several times
//     filling them (34 MB: 24-26 ms in small pages, 3.5 ms in huge ones,
//     measured). A kernel with no huge page to give gives small ones; one
//     that must first compact its memory may stall once (105 ms, measured).
//   Win32: VirtualAlloc; large pages need a privilege a launcher lacks.
#pragma once

#include <cstddef>

namespace platform {

constexpr std::size_t kLargeRun = 2 * 1024 * 1024;

void* AllocateLarge(std::size_t size);
void FreeLarge(void* memory, std::size_t size);

}  // namespace platform
