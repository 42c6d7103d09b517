// Loading a catalogue of 20,000 messages, single-byte and UTF-16: start-up
// loads two catalogues before anything else happens, so this must stay well
// under 50 ms. Keys are dense, as installation catalogues are: 20 x 10 x 10
// x 10.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "messages/catalogue.h"

namespace {

std::string CatalogueText() {
    std::string text = "; generated catalogue\n";
    char line[160];
    for (int k1 = 0; k1 < 20; ++k1)
        for (int k2 = 0; k2 < 10; ++k2)
            for (int k3 = 0; k3 < 10; ++k3)
                for (int k4 = 0; k4 < 10; ++k4) {
                    std::snprintf(line, sizeof line,
                                  "[%d,%d,%d,%d]\t\"Message %d.%d.%d.%d of the batch "
                                  "report,\\twith a tab\"\n",
                                  k1, k2, k3, k4, k1, k2, k3, k4);
                    text += line;
                }
    return text;
}

std::filesystem::path WriteCatalogue(bool unicode) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        (unicode ? "tv_catalogue_bench_u16.txt" : "tv_catalogue_bench_sb.txt");
    std::string bytes;
    const std::string text = CatalogueText();
    if (unicode) {
        bytes = "\xFF\xFE";
        for (const char ch : text) {
            bytes += ch;
            bytes += '\0';
        }
    } else {
        bytes = text;
    }
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

void BM_LoadCatalogue(benchmark::State& state) {
    const bool unicode = state.range(0) != 0;
    const std::filesystem::path path = WriteCatalogue(unicode);
    for (auto _ : state) {
        CMessage catalogue;
        if (!catalogue.LoadSystemCatalogue(path.string()) ||
            catalogue.GetMessage(19, 9, 9, 9).IsEmpty()) {
            state.SkipWithError("catalogue did not load");
            break;
        }
    }
    std::filesystem::remove(path);
    state.SetLabel(unicode ? "UTF-16, 20000 messages" : "single-byte, 20000 messages");
}
BENCHMARK(BM_LoadCatalogue)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_LookUp(benchmark::State& state) {
    const std::filesystem::path path = WriteCatalogue(false);
    CMessage catalogue;
    catalogue.LoadSystemCatalogue(path.string());
    std::uint32_t n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(catalogue.GetMessage(n % 20, n % 10, n % 7, n % 10));
        ++n;
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_LookUp);

}  // namespace
