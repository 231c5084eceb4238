#!/usr/bin/env bash
# Builds the boot definition fuzzer in build/fuzz and runs it for SECONDS
# (default 600); prints how many inputs it tried. The committed seeds in
# fuzz/corpus are copied to build/fuzz/corpus, where the fuzzer keeps what
# it finds, so runs build on each other and the repository stays as it is.
# A finding fails the run and is saved as build/fuzz/artifacts/crash-*;
# replay it with: build/fuzz/boot_reader_fuzzer FILE
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
out=build/fuzz

mkdir -p "$out/corpus" "$out/artifacts"
if ! { cmake -S fuzz -B "$out" -DCMAKE_CXX_COMPILER=clang++ && cmake --build "$out" -j "${JOBS:-2}"; } \
     >"$out/build.log" 2>&1; then
  tail -n 60 "$out/build.log"
  echo "fuzz: the build failed; see $out/build.log"
  exit 1
fi

# Every run adds to the corpus, and each starts by running all of it: now
# and then keep only the inputs that reach something the others do not.
if [ "$(ls "$out/corpus" | wc -l)" -gt 5000 ]; then
  rm -rf "$out/corpus.min" && mkdir "$out/corpus.min"
  if "$out/boot_reader_fuzzer" -merge=1 -max_len=4096 "$out/corpus.min" "$out/corpus" >"$out/merge.log" 2>&1; then
    rm -rf "$out/corpus" && mv "$out/corpus.min" "$out/corpus"
  fi
fi
for seed in fuzz/corpus/*; do
  [ -e "$out/corpus/${seed##*/}" ] || cp "$seed" "$out/corpus/"
done
log="$out/last-run.log"
# -timeout makes a hang a finding.
if ! "$out/boot_reader_fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
     -dict=fuzz/xml.dict -artifact_prefix="$out/artifacts/" -print_final_stats=1 "$out/corpus" >"$log" 2>&1; then
  tail -n 60 "$log"
  echo "fuzz: finding; the log is $log, the input in $out/artifacts"
  exit 1
fi
runs=$(sed -n 's/^Done \([0-9]*\) runs in .*/\1/p' "$log")
units=$(ls "$out/corpus" | wc -l)
echo "fuzz: ${runs:-?} executions in $seconds s, no finding; corpus $units inputs ($out/corpus)"
