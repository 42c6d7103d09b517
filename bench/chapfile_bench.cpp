// Load and save of a chaptered file whose one chapter holds N value lines with
// distinct keys, next to a plain line-by-line read of the same file into a
// vector of strings. Loading must stay linear: 10^6 lines within 4 times the
// plain read, and within 12 times the load of 10^5 lines.
//
// Run: build/bin/bench_chapfile --benchmark_min_time=1x  (or leave the
// defaults); each size's file is written once, to a temporary folder.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "chapfile/kv_file.h"
#include "platform/file_stream.h"

namespace {

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
    ~Files() {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    // The file for `count` value lines, written on first use.
    const std::string& For(std::size_t count) {
        auto found = m_paths.find(count);
        if (found != m_paths.end())
            return found->second;
        if (m_dir.empty()) {
            m_dir = std::filesystem::temp_directory_path() /
                    ("chapfile-bench-" + std::to_string(::getpid()));
            std::filesystem::create_directories(m_dir);
        }
        std::string path = (m_dir / ("many-" + std::to_string(count) + ".txt")).string();
        ManyValues file(count);
        file.values.resize(count / 2);
        file.texts.resize(count - count / 2);
        for (std::size_t i = 0; i < file.values.size(); ++i)
            file.values[i] = static_cast<unsigned>(i * 2654435761u);
        for (std::size_t i = 0; i < file.texts.size(); ++i)
            file.texts[i] = CString::Formatted("Event %zu: tool change on channel 1", i);
        // Save resizes to the same sizes, so the values above are written.
        if (file.Save(path) != 0)
            std::abort();
        return m_paths.emplace(count, path).first->second;
    }

  private:
    std::filesystem::path m_dir;
    std::map<std::size_t, std::string> m_paths;
};

Files g_files;

void BM_PlainRead(benchmark::State& state) {
    const std::string& path = g_files.For(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(std::move(line));
        benchmark::DoNotOptimize(lines.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The same plain read through the host's text-mode stream, which translates
// line ends as the Windows runtime does (the stream the chaptered file uses).
void BM_PlainReadTextStream(benchmark::State& state) {
    const std::string& path = g_files.For(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::FILE* in = platform::OpenStream(path, "rt");
        std::vector<std::string> lines;
        char buffer[1000];
        while (std::fgets(buffer, sizeof buffer, in) != nullptr) lines.emplace_back(buffer);
        std::fclose(in);
        benchmark::DoNotOptimize(lines.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Load(benchmark::State& state) {
    std::size_t count = static_cast<std::size_t>(state.range(0));
    const std::string& path = g_files.For(count);
    for (auto _ : state) {
        ManyValues file(count);
        if (file.Load(path) != 0 || file.texts.back().IsEmpty())
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(file.values.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Save(benchmark::State& state) {
    std::size_t count = static_cast<std::size_t>(state.range(0));
    const std::string& path = g_files.For(count);
    ManyValues file(count);
    if (file.Load(path) != 0)
        state.SkipWithError("load failed");
    std::string out = path + ".saved";
    for (auto _ : state) {
        if (file.Save(out) != 0)
            state.SkipWithError("save failed");
    }
    std::filesystem::remove(out);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_PlainRead)->Apply(Sizes);
BENCHMARK(BM_PlainReadTextStream)->Apply(Sizes);
BENCHMARK(BM_Load)->Apply(Sizes);
BENCHMARK(BM_Save)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
