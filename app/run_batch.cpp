// The program's entry into the batch run: the queue file runs itself with the
// machine's settings (see batch_run.h for the run).
#include "app/batch_exec_file.h"
#include "app/batch_run.h"

bool KvBatchExecFile::RunBatch() {
    return RunBatch(BatchRunHost());
}

bool KvBatchExecFile::RunBatch(const BatchRunHost& host) {
    m_runFailure = platform::Status::Ok();
    BatchRun run(*this, host, ReadBatchRunSettings());
    if (run.Run())
        return true;
    m_runFailure = run.Failure();
    return false;
}
