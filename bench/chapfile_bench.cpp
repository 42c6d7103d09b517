// Load and save of a chaptered file whose one chapter holds N value lines with
// distinct keys, next to a plain line-by-line read of the same file into a
// vector of strings. Loading must stay linear: load / plain read at 10^6
// lines within 1.3 times load / plain read at 10^5, both from one run.
//
// The figures are of a process in its steady state: glibc gives blocks above
// its threshold back to the kernel at every free, so each iteration of the
// large sizes would fault all its pages in again -- about 10 microseconds a
// page on a virtual machine, a cost the smaller sizes do not pay because
// their blocks are reused. Freed memory is kept in the process instead (the
// first iteration still faults). The faults an iteration takes are reported
// as page_faults; TV_BENCH_MALLOC_DEFAULTS=1 keeps glibc's defaults, to see
// the host's paging. The plain read of 10^6 lines pays it too, so the load /
// plain-read ratio moves little between the two; the times themselves grow.
//
// Run: build/bin/bench_chapfile (each size's file is written once, to a
// temporary folder).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "chapfile/kv_file.h"
#include "platform/file_stream.h"
#include "testsupport/temp_dir.h"

namespace {

const bool g_steadyHeap = [] {
    const char* defaults = std::getenv("TV_BENCH_MALLOC_DEFAULTS");
    bool steady = defaults == nullptr || std::string(defaults) != "1";
    benchmark::AddCustomContext("heap", steady ? "freed memory kept" : "glibc defaults");
    if (!steady)
        return false;
    // No block is mapped apart (glibc maps blocks above a threshold of at
    // most 32 MiB, and unmaps them at free), and the heap is not trimmed.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    return true;
}();

// Reports the minor page faults taken per iteration, as counter page_faults.
class FaultCounter {
  public:
    explicit FaultCounter(benchmark::State& state) : m_state(state), m_start(MinorFaults()) {}
    ~FaultCounter() {
        m_state.counters["page_faults"] = benchmark::Counter(
            static_cast<double>(MinorFaults() - m_start), benchmark::Counter::kAvgIterations);
    }
    FaultCounter(const FaultCounter&) = delete;
    FaultCounter& operator=(const FaultCounter&) = delete;

  private:
    static long MinorFaults() {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_minflt;
    }
    benchmark::State& m_state;
    long m_start;
};

// N unsigned values and N texts under keys "Value i" and "Text i".
class ManyValues : public KvFile {
  public:
    explicit ManyValues(std::size_t count) : KvFile("Bench file", "0.1"), m_count(count) {}

    std::vector<unsigned> values;
    std::vector<CString> texts;

    int Exchange(KvFile& file) override {
        values.resize(m_count / 2);
        texts.resize(m_count - m_count / 2);
        file.Chapter("MANY VALUES");
        char key[32];
        for (std::size_t i = 0; i < values.size(); ++i) {
            std::snprintf(key, sizeof key, "Value %zu", i);
            file.ExchangeValue(key, values[i]);
        }
        for (std::size_t i = 0; i < texts.size(); ++i) {
            std::snprintf(key, sizeof key, "Text %zu", i);
            file.ExchangeValue(key, texts[i]);
        }
        return 4;
    }

  private:
    std::size_t m_count;
};

class Files {
  public:
    // The file for `count` value lines, written on first use; empty when it
    // could not be written.
    std::string For(std::size_t count) {
        auto found = m_paths.find(count);
        if (found != m_paths.end())
            return found->second;
        std::string path = m_dir.File("many-" + std::to_string(count) + ".txt");
        ManyValues file(count);
        file.values.resize(count / 2);
        file.texts.resize(count - count / 2);
        for (std::size_t i = 0; i < file.values.size(); ++i)
            file.values[i] = static_cast<unsigned>(i * 2654435761u);
        for (std::size_t i = 0; i < file.texts.size(); ++i)
            file.texts[i] = CString::Formatted("Event %zu: tool change on channel 1", i);
        // Save resizes to the same sizes, so the values above are written.
        if (file.Save(path) != 0)
            path.clear();
        return m_paths.emplace(count, path).first->second;
    }

  private:
    testsupport::TempDir m_dir;
    std::map<std::size_t, std::string> m_paths;
};

Files g_files;

// The file for the benchmark's size, or an empty path with the benchmark
// skipped.
std::string FileOrSkip(benchmark::State& state) {
    std::string path = g_files.For(static_cast<std::size_t>(state.range(0)));
    if (path.empty())
        state.SkipWithError("the benchmark's file could not be written");
    return path;
}

// Runs `readOnce` (true when it read the file) once untimed, so that the
// heap has grown to its steady size, then once per iteration.
template <typename ReadOnce>
void MeasureRead(benchmark::State& state, const ReadOnce& readOnce) {
    if (!readOnce()) {
        state.SkipWithError("read failed");
        return;
    }
    FaultCounter faults(state);
    for (auto _ : state) {
        if (!readOnce())
            state.SkipWithError("read failed");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_PlainRead(benchmark::State& state) {
    const std::string path = FileOrSkip(state);
    MeasureRead(state, [&] {
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(std::move(line));
        benchmark::DoNotOptimize(lines.data());
        return !lines.empty();
    });
}

// The same plain read through the host's text-mode stream, which translates
// line ends as the Windows runtime does (the stream the chaptered file uses).
void BM_PlainReadTextStream(benchmark::State& state) {
    const std::string path = FileOrSkip(state);
    MeasureRead(state, [&] {
        std::FILE* in = platform::OpenStream(path, "rt");
        if (in == nullptr)
            return false;
        std::vector<std::string> lines;
        char buffer[1000];
        while (std::fgets(buffer, sizeof buffer, in) != nullptr) lines.emplace_back(buffer);
        std::fclose(in);
        benchmark::DoNotOptimize(lines.data());
        return !lines.empty();
    });
}

void BM_Load(benchmark::State& state) {
    std::size_t count = static_cast<std::size_t>(state.range(0));
    const std::string path = FileOrSkip(state);
    MeasureRead(state, [&] {
        ManyValues file(count);
        bool loaded = file.Load(path) == 0 && !file.texts.back().IsEmpty();
        benchmark::DoNotOptimize(file.values.data());
        return loaded;
    });
}

// The part of a load spent building the chapter's key index: the file is
// parsed untimed, then the first key lookup (which indexes every line) is
// timed.
void BM_IndexBuild(benchmark::State& state) {
    const std::string path = FileOrSkip(state);
    KvFile file("Bench file", "0.1");
    FaultCounter faults(state);
    for (auto _ : state) {
        state.PauseTiming();
        if (file.ParseFile(path) != 0 || file.GetChapterCount() < 3)
            state.SkipWithError("parse failed");
        state.ResumeTiming();
        benchmark::DoNotOptimize(file.GetChapter(2)->FindLine("Value 0"));
    }
    file.RemoveAllChapters();
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Save(benchmark::State& state) {
    std::size_t count = static_cast<std::size_t>(state.range(0));
    const std::string path = FileOrSkip(state);
    ManyValues file(count);
    if (file.Load(path) != 0)
        state.SkipWithError("load failed");
    std::string out = path + ".saved";
    FaultCounter faults(state);
    for (auto _ : state) {
        if (file.Save(out) != 0)
            state.SkipWithError("save failed");
    }
    std::remove(out.c_str());
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Scripts select runs by name, as BM_Load/1000000 and BM_PlainRead/1000000:
// no suffix such as "/real_time" (the JSON carries real_time and cpu_time for
// every run anyway), and milliseconds as the unit.
void Sizes(benchmark::internal::Benchmark* b) {
    b->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_PlainRead)->Apply(Sizes);
BENCHMARK(BM_PlainReadTextStream)->Apply(Sizes);
BENCHMARK(BM_Load)->Apply(Sizes);
BENCHMARK(BM_IndexBuild)->Apply(Sizes);
BENCHMARK(BM_Save)->Apply(Sizes);

}  // namespace
