#include "app/batch_file.h"

#include <cstring>
#include <utility>

#include "platform/file_ops.h"
#include "platform/file_stream.h"
#include "platform/shared_file.h"
#include "platform/timestamp.h"

SharedFileOpen OpenSharedFile(const CString& path, const char* mode,
                              const platform::Sleeper& sleeper) {
    SharedFileOpen result;
    if (mode == nullptr) {
        result.status = platform::Status::IoError("no open mode given");
        return result;
    }
    platform::ExclusiveOpen opened = platform::OpenExclusive(path.str(), mode, sleeper);
    result.stream = opened.stream;
    result.status = opened.status;
    if (result.stream == nullptr && result.status.message().empty())
        result.status = platform::Status::IoError("cannot be opened");
    return result;
}

platform::Status CannotOpen(const CString& path, std::string reason) {
    return platform::Status::IoError(std::move(reason)).WithContext(path.str());
}

std::string CannotOpenLine(const platform::Status& failure) {
    return "torvane-batch: cannot open \"" + failure.context() + "\": " + failure.message();
}

const std::string KvBatchFile::kNoMode;

KvBatchFile::KvBatchFile(CString path) : m_path(std::move(path)) {}

// Owners close their files before they destroy them; closing here as well
// only matters when an owner is left early, and then it keeps the written
// text and releases the other programs' access.
KvBatchFile::~KvBatchFile() {
    Close();
}

bool KvBatchFile::Open(const char* mode) {
    if (m_stream != nullptr && mode != nullptr && m_mode && *m_mode == mode)
        return true;
    if (!OpenWithoutRecording(mode))
        return false;
    m_mode = mode;
    return true;
}

bool KvBatchFile::OpenWithoutRecording(const char* mode) {
    Close();
    SharedFileOpen opened = OpenSharedFile(m_path, mode, m_sleeper);
    if (opened.stream == nullptr) {
        m_failure = opened.status.WithContext(m_path.str());
        return false;
    }
    m_stream = opened.stream;
    m_failure = platform::Status::Ok();
    return true;
}

void KvBatchFile::Close() {
    if (m_stream == nullptr)
        return;
    std::fclose(m_stream);
    m_stream = nullptr;
}

void KvBatchFile::Rewind() {
    if (m_stream != nullptr)
        std::rewind(m_stream);
}

void KvBatchFile::WriteLine(const CString& text) {
    if (m_stream == nullptr || !m_mode || m_mode->find("a+") == std::string::npos)
        return;
    // Write errors are not reported: the report is an account for people, and
    // the run goes on whatever happens to it.
    std::fwrite(text.c_str(), 1, text.str().size(), m_stream);
    std::fputc('\n', m_stream);
}

void KvBatchFile::WriteLines(std::string_view lines) {
    if (m_stream == nullptr || !m_mode || m_mode->find("a+") == std::string::npos)
        return;
    platform::WriteUntranslated(m_stream, lines);
}

void KvBatchFile::WriteStamped(const CString& text) {
    if (m_stream == nullptr)
        return;
    std::string stamp = m_clock ? m_clock() : platform::NowStamp();
    WriteLine(CString(stamp + " -> " + text.str()));
}

bool KvBatchFile::Delete() {
    Close();
    m_mode.reset();
    return platform::DeleteOneFile(m_path.str());
}
