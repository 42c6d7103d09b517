#include "platform/large_memory.h"

#include <windows.h>

namespace platform {

void* AllocateLarge(std::size_t size) {
    if (size == 0)
        return nullptr;
    return ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void FreeLarge(void* memory, std::size_t) {
    if (memory != nullptr)
        ::VirtualFree(memory, 0, MEM_RELEASE);
}

}  // namespace platform
