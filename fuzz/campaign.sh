#!/bin/bash
# Runs fuzz targets one after another, each until it has used a given amount
# of CPU time (not wall time: the machine may be shared), then measures the
# corpus it reached with a -runs=0 pass and prints one summary line per target.
#
#   fuzz/campaign.sh <fuzz build dir> <work dir> <target>:<cpu seconds> ...
#
# The work dir receives <target>/ (the grown corpus), artifacts/<target>/
# (crashers) and <target>.log. Extra seed directories (for example real
# catalogs, which are not kept in the repository) can be named with
# SEEDS_<target>=dir; they are read, never written. Runs under nice -n 10.
set -u
if [ $# -lt 3 ]; then
  echo "usage: $0 <fuzz build dir> <work dir> <target>:<cpu seconds> ..." >&2
  exit 2
fi
build=$1; work=$2; shift 2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
for recipe in "$@"; do
  t=${recipe%%:*}; budget=${recipe#*:}
  bin=$build/fuzz/${t}_fuzzer
  corpus=$work/$t; artifacts=$work/artifacts/$t; log=$work/$t.log
  mkdir -p "$corpus" "$artifacts"
  seeds_var=SEEDS_$t; extra=${!seeds_var:-}
  args=(-dict="$here/skarvel.dict" -rss_limit_mb=2048 -timeout=25 -max_len=${MAX_LEN:-65536} -close_fd_mask=3
        -print_final_stats=1 -artifact_prefix="$artifacts/")
  echo "command: nice -n 10 $bin ${args[*]} $corpus $here/corpus/$t $extra" > "$log"
  nice -n 10 "$bin" "${args[@]}" "$corpus" "$here/corpus/$t" $extra >> "$log" 2>&1 &
  pid=$!
  cpu=0
  while kill -0 "$pid" 2>/dev/null; do
    sleep 15
    [ -r /proc/$pid/stat ] || break
    # utime + stime, in clock ticks (fields 14 and 15).
    ticks=$(awk '{print $14 + $15}' /proc/$pid/stat 2>/dev/null) || break
    cpu=$((ticks / $(getconf CLK_TCK)))
    if [ "$cpu" -ge "$budget" ]; then kill -INT "$pid"; break; fi
  done
  wait "$pid"; status=$?
  final=$(nice -n 10 "$bin" -runs=0 -rss_limit_mb=2048 -max_len=${MAX_LEN:-65536} "$corpus" \
          "$here/corpus/$t" 2>&1 | grep -E 'INITED|DONE' | tail -1)
  crashers=$(ls "$artifacts" | wc -l)
  line="$t: cpu_seconds=$cpu status=$status corpus_files=$(ls "$corpus" | wc -l) crashers=$crashers final: $final"
  echo "$line" >> "$log"
  echo "$line"
done
