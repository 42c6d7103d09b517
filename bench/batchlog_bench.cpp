// Load of a job's batch log with a million events and an error tree of 10^5
// messages (10 machines of 10 channels of 1000 messages), and AddEvent on it
// (load, append, save), next to a plain line-by-line read of the same file.
// Both must stay within 4 times the plain read; each benchmark after the
// plain read reports its processor time (user and system, which stays
// meaningful on a machine shared with other work) as a multiple of the plain
// read's ("x_plain_read"). The parse alone and the save alone are shown for
// reference.
//
// Run: build/bin/bench_batchlog [TV_BENCH_LOG=<a log of your own>]
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "batchlog/fichier_log_batch.h"
#include "testsupport/temp_dir.h"

namespace {

constexpr unsigned kEvents = 1'000'000;
constexpr unsigned kMachines = 10;
constexpr unsigned kChannels = 10;
constexpr unsigned kMessages = 1000;

// The benchmarks' log: the one TV_BENCH_LOG names (scripts/bench passes the
// stand-in's log, which AddEvent then grows by an event per iteration), or one
// written here.
class LogFile {
  public:
    LogFile() {
        if (const char* given = std::getenv("TV_BENCH_LOG"); given != nullptr && *given != '\0') {
            m_path = given;
            m_written = true;
            m_given = true;
            return;
        }
        FichierLogBatch log;
        log.m_jobName = "Bench job";
        log.m_userName = "bench";
        log.m_simuOK = true;
        log.m_nbErrors = kMachines * kChannels * kMessages;
        for (unsigned i = 0; i < kEvents; ++i)
            log.m_eventList.Add(
                CString::Formatted("Event %u: tool change on channel %u", i, i % 4));
        for (unsigned m = 0; m < kMachines; ++m) {
            KvListeErreurMachine* machine = log.m_errorList.NewElement();
            for (unsigned c = 0; c < kChannels; ++c) {
                KvListeErreurCanal* channel = machine->NewElement();
                for (unsigned k = 0; k < kMessages; ++k)
                    *channel->NewElement() =
                        CString::Formatted("Collision of the tool holder at block N%u", k * 10);
            }
        }
        m_written = log.Save(m_path) == 0;
    }
    const std::string& path() const { return m_path; }
    bool written() const { return m_written; }
    // The log was not written here: its contents are not known.
    bool given() const { return m_given; }

  private:
    testsupport::TempDir m_dir;
    std::string m_path = m_dir.File("job.log");
    bool m_written = false;
    bool m_given = false;
};

LogFile& File() {
    static LogFile file;
    return file;
}

// The log's path, or an empty one (and the benchmark skipped) when it could
// not be written.
std::string PathOrSkip(benchmark::State& state) {
    if (File().written())
        return File().path();
    state.SkipWithError("the benchmark's log could not be written");
    return {};
}

// Processor seconds per iteration of the plain read, once it has run.
double g_plainSeconds = 0;

double SecondsPerIteration(std::clock_t start, benchmark::State& state) {
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC /
           static_cast<double>(state.iterations());
}

void ReportAgainstPlainRead(benchmark::State& state, std::clock_t start) {
    if (g_plainSeconds > 0)
        state.counters["x_plain_read"] = SecondsPerIteration(start, state) / g_plainSeconds;
}

void BM_PlainRead(benchmark::State& state) {
    const std::string path = PathOrSkip(state);
    std::clock_t start = std::clock();
    for (auto _ : state) {
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(std::move(line));
        benchmark::DoNotOptimize(lines.data());
    }
    g_plainSeconds = SecondsPerIteration(start, state);
}

void BM_Load(benchmark::State& state) {
    const std::string path = PathOrSkip(state);
    std::clock_t start = std::clock();
    for (auto _ : state) {
        FichierLogBatch log;
        if (log.Load(path) != 0 ||
            (!File().given() && (log.m_eventList.GetCount() < kEvents ||
                                 log.m_errorList.GetCount() != kMachines)))
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(log.m_simuOK);
    }
    ReportAgainstPlainRead(state, start);
}

void BM_Parse(benchmark::State& state) {
    const std::string path = PathOrSkip(state);
    for (auto _ : state) {
        FichierLogBatch log;
        log.ParseFile(path);
        benchmark::DoNotOptimize(log.GetChapterCount());
    }
}

void BM_Save(benchmark::State& state) {
    FichierLogBatch log;
    const std::string path = PathOrSkip(state);
    if (!path.empty() && log.Load(path) != 0)
        state.SkipWithError("load failed");
    std::string out = path + ".saved";
    for (auto _ : state) log.Save(out);
}

void BM_AddEvent(benchmark::State& state) {
    const std::string path = PathOrSkip(state);
    std::clock_t start = std::clock();
    for (auto _ : state) {
        FichierLogBatch log;
        log.AddEvent(path, "Cannot start the simulator");
        const unsigned count = log.m_eventList.GetCount();
        if (count == 0 || log.m_eventList[count - 1] != "Cannot start the simulator")
            state.SkipWithError("event not added");
    }
    ReportAgainstPlainRead(state, start);
}

BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Parse)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AddEvent)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
