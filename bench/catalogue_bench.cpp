// Loading a catalogue of 20,000 messages, single-byte and UTF-16: start-up
// loads two catalogues before anything else happens, so this must stay well
// under 50 ms. Keys are dense, as installation catalogues are: 20 x 10 x 10
// x 10.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "messages/catalogue.h"
#include "testsupport/temp_dir.h"

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

// Writes the catalogue into `folder` and returns its path.
std::string WriteCatalogue(const testsupport::TempDir& folder, bool unicode) {
    const std::string path = folder.File(unicode ? "msgsys-u16.txt" : "msgsys.txt");
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
    testsupport::WriteBytes(path, bytes);
    return path;
}

void BM_LoadCatalogue(benchmark::State& state) {
    const bool unicode = state.range(0) != 0;
    const testsupport::TempDir folder;
    const std::string path = WriteCatalogue(folder, unicode);
    for (auto _ : state) {
        CMessage catalogue;
        if (!catalogue.LoadSystemCatalogue(path) || catalogue.GetMessage(19, 9, 9, 9).IsEmpty()) {
            state.SkipWithError("catalogue did not load");
            break;
        }
    }
    state.SetLabel(unicode ? "UTF-16, 20000 messages" : "single-byte, 20000 messages");
}
BENCHMARK(BM_LoadCatalogue)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_LookUp(benchmark::State& state) {
    const testsupport::TempDir folder;
    CMessage catalogue;
    if (!catalogue.LoadSystemCatalogue(WriteCatalogue(folder, false)))
        state.SkipWithError("catalogue did not load");
    std::uint32_t n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(catalogue.GetMessage(n % 20, n % 10, n % 7, n % 10));
        ++n;
    }
}
BENCHMARK(BM_LookUp);

}  // namespace
