// Shared by the tests of app/ and tools/: a small user catalogue, and the
// texts of the queue and the report that the tests expect.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/launch.h"
#include "batchlog/fichier_log_batch.h"
#include "messages/catalogue.h"
#include "testsupport/temp_dir.h"

namespace apptest {

// The texts the batch run asks for, in a language "EN" (trailing blanks included).
inline constexpr const char* kCatalogue =
    "[2,1,1,0] Torvane batch\n"
    "[3,12,1,1] Cannot start the job:\n"
    "[20,0,0,1] Event: \n"
    "[20,0,0,2] Alerts: \n"
    "[20,0,0,3] Errors: \n"
    "[20,0,0,4] User \n"
    "[20,0,0,5] : starts job \n"
    "[20,0,0,6] : ended job \n"
    "[20,0,0,7] Skipped: the previous job did not succeed (100% sure)\n"
    "[20,0,0,8] Simulation succeeded: \n"
    "[20,0,0,9] Torvane Batch\n";

// Writes the catalogue into `dir` and makes it the program's user catalogue.
inline void LoadTestCatalogue(const testsupport::TempDir& dir) {
    testsupport::WriteBytes(dir.File("languages.txt"), "EN=en.txt\n");
    testsupport::WriteBytes(dir.File("en.txt"), kCatalogue);
    ASSERT_TRUE(g_userMessages.LoadLanguageList(dir.File("languages.txt")));
    ASSERT_TRUE(g_userMessages.SelectLanguage("EN"));
}

// A child's output without the carriage returns of a Windows host.
inline std::string WithoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

// The report's blocks as the test catalogue words them, with Windows line
// ends and time-stamped kStamp.
inline constexpr const char* kStamp = "12/05/26 18:27:30";
inline std::string Started(const std::string& user, const std::string& job) {
    return std::string(kStamp) + " -> User \"" + user + "\": starts job \"" + job + "\"\r\n";
}
inline std::string Ended(const std::string& user, const std::string& job) {
    return std::string(kStamp) + " -> User \"" + user + "\": ended job \"" + job + "\"\r\n";
}
inline std::string SkippedBlock(const std::string& user, const std::string& job) {
    return Started(user, job) + Ended(user, job) +
           "Skipped: the previous job did not succeed (100% sure)\r\n";
}
// A block without its started line, which an earlier launcher may have written.
inline std::string EndedBlock(const std::string& user, const std::string& job, bool succeeded,
                              const std::vector<std::string>& events, int errors = 0) {
    std::string text =
        Ended(user, job) + "Simulation succeeded: " + (succeeded ? "1" : "0") + "\r\n";
    for (const std::string& event : events) text += "Event: " + event + "\r\n";
    return text + "Alerts: 0\r\nErrors: " + std::to_string(errors) + "\r\n\r\n";
}
inline std::string RanBlock(const std::string& user, const std::string& job, bool succeeded,
                            const std::vector<std::string>& events, int errors = 0) {
    return Started(user, job) + EndedBlock(user, job, succeeded, events, errors);
}

// The queue file's text for `entries`, with Windows line ends.
struct Entry {
    std::string user;
    std::string name;
    int state = 0;
    int status = 0;
    int wait = 0;
};
inline std::string QueueText(const std::vector<Entry>& entries) {
    std::string text = "nb = " + std::to_string(entries.size()) + "\r\n";
    for (const Entry& e : entries) {
        text += "user = " + e.user + "\r\nname = " + e.name +
                "\r\nstate = " + std::to_string(e.state) +
                "\r\nstatus = " + std::to_string(e.status) +
                "\r\nwait = " + std::to_string(e.wait) + "\r\n";
    }
    return text;
}

}  // namespace apptest
