# Shared by scripts/fuzz and scripts/fuzz-smoke (sourced, not run).
# Sets root, fuzz_build and the list of targets; fuzz_available says whether
# clang with libFuzzer can build a target here.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
fuzz_build=$root/build-fuzz

# Target names: one per fuzz/<name>_fuzz.cpp, given without the suffix.
fuzz_targets() {
  local src
  for src in "$root"/fuzz/*_fuzz.cpp; do
    [ -e "$src" ] || continue
    src=${src##*/}
    echo "${src%_fuzz.cpp}"
  done
}

# True when clang++ can link a libFuzzer program; otherwise prints why.
fuzz_available() {
  if ! command -v clang++ >/dev/null 2>&1; then
    echo "clang++ not found (install clang and libclang-rt-dev)"
    return 1
  fi
  local probe
  probe=$(mktemp -d)
  printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
    'extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }' \
    >"$probe/probe.cpp"
  if ! clang++ -fsanitize=fuzzer,address "$probe/probe.cpp" -o "$probe/probe" >/dev/null 2>&1; then
    rm -rf "$probe"
    echo "clang++ cannot link libFuzzer programs (install libclang-rt-dev)"
    return 1
  fi
  rm -rf "$probe"
}

# Configures the fuzz preset when needed and builds the given targets.
fuzz_build_targets() {
  if [ ! -f "$fuzz_build/build.ninja" ]; then
    cmake --preset fuzz >/dev/null || return 1
  fi
  local names=() name
  for name in "$@"; do names+=("${name}_fuzz"); done
  cmake --build --preset fuzz --target "${names[@]}"
}

# Runs target $1 with libFuzzer options $2...: new inputs go to a scratch
# corpus under build-fuzz/ (the committed seeds are read, never added to),
# crash files to build-fuzz/crashes/<target>/. fuzz_scratch names the
# scratch corpus folder (default build-fuzz/corpus, kept between runs).
fuzz_run() {
  local name=$1
  shift
  local scratch=${fuzz_scratch:-$fuzz_build/corpus}/$name crashes=$fuzz_build/crashes/$name
  mkdir -p "$scratch" "$crashes"
  (cd "$crashes" &&
    "$fuzz_build/bin/${name}_fuzz" -artifact_prefix="$crashes/" -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 "$@" "$scratch" "$root/fuzz/corpus/$name")
}
