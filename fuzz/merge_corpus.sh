#!/usr/bin/env bash
# Refreshes the coverage inputs (cov-*) of fuzz/corpus/TARGET from a longer run's corpus in
# build/fuzz/run/TARGET/corpus (see run.sh): keeps a smallest set of inputs that still reaches
# every edge reached by the two together, leaving out what a seed-* or regression file already is.
# Edges only, not hit counts: a short CI run starts from full coverage with a few hundred files.
#
#   fuzz/merge_corpus.sh TARGET
set -euo pipefail
cd "$(dirname "$0")/.."

target=${1:?usage: $0 TARGET}
binary=build/fuzz/fuzz/$target
repo=fuzz/corpus/$target
run=build/fuzz/run/$target/corpus
[ -x "$binary" ] || { echo "build $binary first (fuzz/run.sh $target 0)" >&2; exit 2; }

merged=$(mktemp -d)
trap 'rm -rf "$merged"' EXIT
mkdir -p "$run"
"$binary" -merge=1 -use_counters=0 -max_len=65536 "$merged" "$repo" "$run" 2>&1 |
  grep -E '^MERGE-OUTER: [0-9]+ new files' || true

rm -f "$repo"/cov-*
for f in "$merged"/*; do
  kept=0
  for other in "$repo"/*; do
    [ -e "$other" ] && cmp -s "$f" "$other" && kept=1 && break
  done
  [ "$kept" = 1 ] || cp "$f" "$repo/cov-$(basename "$f")"
done
echo "$repo: $(ls "$repo" | wc -l) files, $(du -sh --apparent-size "$repo" | cut -f1)"
