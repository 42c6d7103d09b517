// The batch journal as the next launcher and a status view read it.
#include "app/batch_journal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "app/batch_run.h"
#include "platform/settings_store.h"
#include "testsupport/host_faults.h"
#include "testsupport/temp_dir.h"
#include "users/users_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

class Journal : public testing::Test {
  protected:
    CString Folder() const { return users_test::FolderForm(dir.path()); }
    BatchJournal Fresh() const {
        BatchJournal journal(Folder());
        journal.SetSleeper([](std::uint32_t) {});
        return journal;
    }
    testsupport::TempDir dir;
};

TEST_F(Journal, WhatIsSavedIsLoadedBackWithFieldsOfALaterVersionAndTornStatesAreSkipped) {
    BatchJournal journal = Fresh();
    journal.SetLauncher(31337);
    JournalRecord record{.user = "Ren\xE9 = %s",
                         .name =
                             "C:\\Gammes\\pi\xE8"
                             "ce\t1 = [job].gam",
                         .position = 198,
                         .attempt = 2,
                         .firstLaunchMs = 1765000000000,
                         .launchMs = 1765003600123,
                         .process = {4000000000u, 18446744073709551615u},
                         .clusterJob = "slurm:81723",
                         .otherFields = {{"node", "n12"}, {"partition", "night = long"}}};
    journal.Put(record);
    JournalRecord other;
    other.user = "bob";
    other.name = "b";
    other.attempt = 1;
    journal.Put(other);
    ASSERT_TRUE(journal.Save()) << journal.LastError().ToString();
    EXPECT_FALSE(fs::exists(dir.path() / BatchJournal::kStagingFileName));

    BatchJournal read = Fresh();
    ASSERT_TRUE(read.Load());
    EXPECT_EQ(read.Launcher(), 31337u);
    ASSERT_EQ(read.Records().size(), 2u);
    const JournalRecord& back = *read.Find(record.user, record.name, 198);
    EXPECT_EQ(std::tuple(back.attempt, back.firstLaunchMs, back.launchMs, back.process.id,
                         back.process.startTime, back.clusterJob, back.otherFields),
              std::tuple(2, record.firstLaunchMs, record.launchMs, record.process.id,
                         record.process.startTime, record.clusterJob, record.otherFields));
    // The same job at another place in the queue is another entry.
    EXPECT_EQ(read.Find(record.user, record.name, 3), nullptr);
    EXPECT_TRUE(read.Erase("bob", "b", 0));
    EXPECT_FALSE(read.Erase("bob", "b", 0));
    EXPECT_EQ(read.Records().size(), 1u);

    // Readable by people: one "key = value" line per field.
    const std::string text = ReadBytes(dir.path() / BatchJournal::kFileName);
    EXPECT_NE(text.find("\r\n[job]\r\nuser = bob\r\nname = b\r\nposition = 0\r\n"),
              std::string::npos)
        << text;

    // Later saves append a state each; the last whole one is read.
    journal.Erase("bob", "b", 0);
    ASSERT_TRUE(journal.Save());
    const std::string two = ReadBytes(dir.path() / BatchJournal::kFileName);
    EXPECT_EQ(two.rfind(text, 0), 0u) << two;
    BatchJournal later = Fresh();
    ASSERT_TRUE(later.Load());
    EXPECT_EQ(later.Records().size(), 1u);

    // A kill in the middle of an append, or a state whose checksum does not
    // hold, leaves the state before it.
    for (const std::string& tail :
         {"\r\nlauncher = 7\r\n\r\n[job]\r\nuser = torn\r\nname = t"s,
          "\r\nlauncher = 7\r\n\r\n[job]\r\nuser = torn\r\n# state end 0123456789abcdef\r\n"s}) {
        WriteBytes(dir.path() / BatchJournal::kFileName, two + tail);
        ASSERT_TRUE(later.Load());
        EXPECT_EQ(std::tuple(later.Launcher(), later.Records().size(), later.Records()[0].position),
                  std::tuple(31337u, 1u, 198u))
            << tail;
    }

    // When neither an append nor a whole rewrite can be flushed to the disk,
    // the save says why; a reader finds a whole state.
    testsupport::ScopedFaultRule failing(
        testsupport::FailCalls(platform::HostCall::kFlushToDisk, -1));
    journal.Records().clear();
    EXPECT_FALSE(journal.Save());
    EXPECT_NE(journal.LastError().ToString().find(BatchJournal::kStagingFileName),
              std::string::npos)
        << journal.LastError().ToString();
    ASSERT_TRUE(later.Load());
    EXPECT_LE(later.Records().size(), 1u);
}

// The next launcher appends to a file that ends with a whole state (or
// starts one that is missing) without waiting for the disk when told so; a
// file with anything else at its end is written whole, and that always waits
// for the disk.
TEST_F(Journal, AFileReadWholeIsAppendedToAndAnyOtherIsWrittenWholeOnTheDisk) {
    const fs::path file = dir.path() / BatchJournal::kFileName;
    testsupport::ScopedFaultRule noDisk(
        testsupport::FailCalls(platform::HostCall::kFlushToDisk, -1));
    BatchJournal first = Fresh();
    ASSERT_TRUE(first.Load());
    JournalRecord anne;
    anne.user = "anne";
    anne.name = "a";
    anne.attempt = 1;
    first.Put(anne);
    ASSERT_TRUE(first.Save(false)) << first.LastError().ToString();
    const std::string one = ReadBytes(file);

    BatchJournal next = Fresh();
    ASSERT_TRUE(next.Load());
    next.SetLauncher(42);
    ASSERT_TRUE(next.Save(false)) << next.LastError().ToString();
    const std::string two = ReadBytes(file);
    EXPECT_EQ(two.rfind(one, 0), 0u) << two;

    WriteBytes(file, two + "\r\nlauncher = 7\r\n\r\n[job]\r\nuser = torn");
    BatchJournal mended = Fresh();
    ASSERT_TRUE(mended.Load());
    EXPECT_EQ(std::tuple(mended.Launcher(), mended.Records().size()), std::tuple(42u, 1u));
    EXPECT_FALSE(mended.Save(false));
    {
        testsupport::ScopedFaultRule diskBack(
            testsupport::FailCalls(platform::HostCall::kFlushToDisk, 0));
        ASSERT_TRUE(mended.Save(false)) << mended.LastError().ToString();
    }
    const std::string whole = ReadBytes(file);
    EXPECT_EQ(whole.find("torn"), std::string::npos) << whole;
    EXPECT_NE(whole.rfind(one, 0), 0u) << whole;
    BatchJournal again = Fresh();
    ASSERT_TRUE(again.Load());
    EXPECT_EQ(std::tuple(again.Launcher(), again.Records().size()), std::tuple(42u, 1u));
}

TEST_F(Journal, ADamagedFileGivesTheRecordsThatCanBeRead) {
    std::string huge(300000, 'z');
    WriteBytes(dir.path() / BatchJournal::kFileName,
               "garbage without an equals sign\r\n"
               "launcher = not a number\r\n"
               "[job]\r\n"
               "attempt = 2\r\n"  // names no job: dropped
               "[job]\r\n"
               "user = anne\r\nname = " +
                   huge +
                   "\r\nposition = 4x\r\nattempt = -1\r\nlaunch = 99999999999999999999999\r\n"
                   "[job]\r\nuser = bob\r\nname = b\r\nprocess = 12\r\nprocess start");
    BatchJournal journal = Fresh();
    ASSERT_TRUE(journal.Load());
    EXPECT_EQ(journal.Launcher(), 0u);
    ASSERT_EQ(journal.Records().size(), 2u);
    // A huge line is cut at 64 KiB ("name = " included), never read whole.
    const JournalRecord& cut = journal.Records()[0];
    const JournalRecord& bob = journal.Records()[1];
    EXPECT_EQ(std::tuple(cut.name.GetLength(), cut.position, cut.attempt, cut.launchMs,
                         bob.process.id, bob.process.startTime),
              std::tuple(64 * 1024 - 7, 4u, -1, 0, 12u, 0u));
}

// Reading them from the product key: tools/interrupted_night_test.cpp.
TEST(MachineSettings, NumbersComeAsDecimalStringsOrDwords) {
    auto parse = [](const std::string& bytes, std::uint32_t type) {
        return ParseSettingNumber(bytes.data(), bytes.size(), type);
    };
    EXPECT_EQ(parse(std::string("\x1e\x00\x00\x00", 4), platform::kRegDword), 30u);
    EXPECT_EQ(parse(std::string("\xff\xff\xff\xff", 4), platform::kRegDword), 0xFFFFFFFFu);
    EXPECT_EQ(parse(std::string("\x1e\x00", 2), platform::kRegDword), std::nullopt);
    EXPECT_EQ(parse(std::string("600\0", 4), platform::kRegSz), 600u);
    EXPECT_EQ(parse(" 0 ", platform::kRegExpandSz), 0u);
    EXPECT_EQ(parse("4294967295", platform::kRegSz), 0xFFFFFFFFu);
    for (const char* bad : {"", "  ", "-5", "3.5", "30s", "0x1E", "4294967296", "99999999999"})
        EXPECT_EQ(parse(bad, platform::kRegSz), std::nullopt) << bad;
    EXPECT_EQ(parse("30", platform::kRegBinary), std::nullopt);
}

}  // namespace
