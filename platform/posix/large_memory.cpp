#include "platform/large_memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace platform {

namespace {

std::size_t WholeRuns(std::size_t size) {
    return (size + kLargeRun - 1) / kLargeRun * kLargeRun;
}

}  // namespace

void* AllocateLarge(std::size_t size) {
    if (size == 0 || size > SIZE_MAX - 2 * kLargeRun)
        return nullptr;
    const std::size_t length = WholeRuns(size);
    // One run more, so that an aligned stretch lies inside; the rest is
    // given back.
    void* mapped = ::mmap(nullptr, length + kLargeRun, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kLargeRun - 1) / kLargeRun * kLargeRun;
    if (aligned > start)
        ::munmap(mapped, aligned - start);
    if (const std::size_t after = kLargeRun - (aligned - start); after > 0)
        ::munmap(reinterpret_cast<void*>(aligned + length), after);
    void* memory = reinterpret_cast<void*>(aligned);
    // Only advice: without huge pages the memory is the same, in small ones.
    ::madvise(memory, length, MADV_HUGEPAGE);
    return memory;
}

void FreeLarge(void* memory, std::size_t size) {
    if (memory != nullptr && size != 0)
        ::munmap(memory, WholeRuns(size));
}

}  // namespace platform
