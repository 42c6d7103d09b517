// Fuzz target: the scan of a user's batch project file that rebuilds the
// queue. Whatever the file holds, every job found has a name of one line.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/batch_exec_file.h"
#include "fuzz/fuzz_support.h"
#include "platform/file_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = fuzzsupport::ScratchFile("anne-BATCH.tvs");
    fuzzsupport::WriteFile(path, data, size);
    std::FILE* stream = platform::OpenStream(path, "r");
    if (stream == nullptr)
        std::abort();
    for (const ScannedJob& job : ScanBatchProject(stream))
        if (job.name.str().find('\n') != std::string::npos)
            std::abort();
    std::fclose(stream);
    return 0;
}
