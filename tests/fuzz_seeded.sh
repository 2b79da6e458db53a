#!/usr/bin/env bash
# The fuzz run CI makes: first every committed regression input is replayed, then a fixed
# seeded run over the seeds. The same commit gives the same inputs on every clone:
# - the seeds are copied under numbered names in byte order of their paths and handed over as
#   one list (a folder's listing order depends on the file system), without shuffling;
#   libFuzzer's stable sort by size keeps that order among files of one size;
# - the corpus folder starts empty and is not re-read during the run;
# - the target runs without address randomisation, with a fixed environment, working folder
#   and relative paths, since compared pointers feed the mutator.
# Usage: fuzz_seeded.sh TARGET RUNS WORKDIR REGRESSIONS_DIR [SEED_PATH ...] [-- libFuzzer flags]
set -euo pipefail
target=$(realpath "$1") runs=$2 work=$3 regressions=$(realpath -m "$4")
shift 4
seeds=() flags=()
while (($#)); do
  if [ "$1" = "--" ]; then shift; flags=("$@"); break; fi
  seeds+=("$(realpath "$1")"); shift
done

run=(env -i QT_QPA_PLATFORM=offscreen)
if setarch "$(uname -m)" -R true 2>/dev/null; then run+=("$(command -v setarch)" "$(uname -m)" -R); fi
run+=(./target)

# Copies the files under $2 (sorted) to $1/00001, 00002, ... and prints their names.
numbered() {
  local dir=$1 i=0 f
  shift
  mkdir -p "$dir"
  [ $# -gt 0 ] || return 0
  while IFS= read -r f; do
    i=$((i + 1))
    cp "$f" "$dir/$(printf %05d "$i")"
    printf '%s/%05d\n' "$dir" "$i"
  done < <(find "$@" -type f | LC_ALL=C sort)
}

rm -rf "$work"
mkdir -p "$work/corpus"
ln -s "$target" "$work/target"
cd "$work"
name=$(basename "$target")

if [ -d "$regressions" ]; then
  mapfile -t replay < <(numbered regressions "$regressions")
  if ((${#replay[@]})); then
    echo "== $name: replaying ${#replay[@]} regression input(s)"
    "${run[@]}" "${flags[@]}" "${replay[@]}"
  fi
fi

numbered seeds "${seeds[@]}" | while IFS= read -r f; do [ -s "$f" ] && echo "$f"; done \
  | paste -sd, - > seeds.txt
seedflag=()
[ -s seeds.txt ] && seedflag=(-seed_inputs=@seeds.txt)
echo "== $name: $runs seeded runs over $(tr ',' '\n' < seeds.txt | grep -c . || true) seed(s)"
"${run[@]}" -runs="$runs" -seed=1 -shuffle=0 -reload=0 "${flags[@]}" "${seedflag[@]}" corpus
