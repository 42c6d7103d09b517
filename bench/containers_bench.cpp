// Building and walking the lists at the sizes later code holds (up to a
// million strings): appending and a whole walk must both stay linear, so the
// time per element must not rise with the list length.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "containers/cstring.h"
#include "containers/kv_liste_chainee.h"
#include "containers/kv_liste_tab.h"
#include "containers/kv_tab.h"

namespace {

template <typename List>
void Fill(List& list, std::int64_t n) {
    for (std::int64_t i = 0; i < n; ++i) {
        *list.NewElement() = "C:\\Torvane\\Users\\job.tvs";
    }
}

template <typename List>
void Walk(benchmark::State& state, List& list) {
    for (auto _ : state) {
        std::size_t total = 0;
        for (const CString& s : list) {
            total += static_cast<std::size_t>(s.GetLength());
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_AppendListeD(benchmark::State& state) {
    for (auto _ : state) {
        KvListeD<CString> list;
        Fill(list, state.range(0));
        benchmark::DoNotOptimize(list.GetLast());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_AppendListeTabFixe(benchmark::State& state) {
    for (auto _ : state) {
        KvListeTabFixe<CString> list(1000);
        Fill(list, state.range(0));
        benchmark::DoNotOptimize(list.GetLast());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_AppendTab(benchmark::State& state) {
    for (auto _ : state) {
        KvTab<CString> table(1000, 1000);
        Fill(table, state.range(0));
        benchmark::DoNotOptimize(table.GetLast());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_WalkListeS(benchmark::State& state) {
    KvListeS<CString> list;
    Fill(list, state.range(0));
    Walk(state, list);
}

void BM_WalkListeD(benchmark::State& state) {
    KvListeD<CString> list;
    Fill(list, state.range(0));
    Walk(state, list);
}

void BM_WalkListeTabFixeCursor(benchmark::State& state) {
    KvListeTabFixe<CString> list(100);
    Fill(list, state.range(0));
    Walk(state, list);
}

// Index access in rising order on a block list: the block cache keeps this
// linear too, even with small blocks.
void BM_IndexListeTabFixe(benchmark::State& state) {
    KvListeTabFixe<CString> list(100);
    Fill(list, state.range(0));
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::size_t total = 0;
        for (int i = 0; i < n; ++i) {
            total += static_cast<std::size_t>(list.GetAt(i)->GetLength());
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_AppendListeD)->Range(1 << 10, 1 << 20)->RangeMultiplier(32);
BENCHMARK(BM_AppendListeTabFixe)->Range(1 << 10, 1 << 20)->RangeMultiplier(32);
BENCHMARK(BM_AppendTab)->Range(1 << 10, 1 << 16)->RangeMultiplier(8);
BENCHMARK(BM_WalkListeS)->Range(1 << 10, 1 << 20)->RangeMultiplier(32);
BENCHMARK(BM_WalkListeD)->Range(1 << 10, 1 << 20)->RangeMultiplier(32);
BENCHMARK(BM_WalkListeTabFixeCursor)->Range(1 << 10, 1 << 20)->RangeMultiplier(32);
BENCHMARK(BM_IndexListeTabFixe)->Range(1 << 10, 1 << 20)->RangeMultiplier(32);
