// Fuzz target: the queue file as the batch run reads it. The input is split
// in two: the first part is read (Read), the second replaces the file as if
// another program had rewritten it and is taken over (Refresh); the queue is
// then written back in place and read again, which must give back every
// entry of the list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/batch_exec_file.h"
#include "fuzz/fuzz_support.h"

namespace {

struct Snapshot {
    std::string text;
};

Snapshot Describe(KvBatchExecFile& queue) {
    Snapshot snapshot;
    for (const KvBatchExecGamme& job : queue.Jobs())
        snapshot.text += job.m_user.str() + '\x1f' + job.m_name.str() + '\x1f' +
                         std::to_string(job.m_state) + '\x1f' + std::to_string(job.m_status) +
                         '\x1f' + std::to_string(job.m_wait) + '\x1e';
    return snapshot;
}

// A written name comes back as it was unless it holds a zero byte (the
// write stops there); such inputs skip the round-trip check.
bool RoundTrips(KvBatchExecFile& queue) {
    for (const KvBatchExecGamme& job : queue.Jobs())
        if (job.m_user.str().find('\0') != std::string::npos ||
            job.m_name.str().find('\0') != std::string::npos)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = fuzzsupport::ScratchFolder() + "/";
    const std::string path = folder + KvBatchExecFile::kFileName;
    std::size_t half = size / 2;
    fuzzsupport::WriteFile(path, data, half);

    KvBatchExecFile queue(CString(folder), nullptr);
    if (!queue.Open("r+"))
        std::abort();
    queue.Read();
    queue.Close();

    fuzzsupport::WriteFile(path, data + half, size - half);
    if (!queue.Open("r+"))
        std::abort();
    queue.Refresh();
    queue.AllStarted();
    queue.AllFinished();
    queue.Rewind();
    queue.Write();
    queue.Close();

    if (RoundTrips(queue)) {
        Snapshot written = Describe(queue);
        KvBatchExecFile again(CString(folder), nullptr);
        if (!again.Open("r+"))
            std::abort();
        again.Read();
        again.Close();
        if (Describe(again).text != written.text)
            std::abort();
    }
    return 0;
}
