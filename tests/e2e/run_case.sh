#!/usr/bin/env bash
# Runs the orvane binary on one end-to-end case and compares, byte for byte, its
# standard output, standard error, exit statuses and every file it wrote with the
# case's expected/ folder. Files the run creates that expected/ does not list are
# failures too, so "no file created" is checked as well.
#
# A case folder holds its input files, `args` (one run per line, arguments
# separated by blanks, paths relative to the case folder) and expected/ with
# stdout, stderr, status (one exit status per run) and each file written.
# Optional: `setup`, a shell script run in the work folder before the runs (for
# inputs that cannot be committed: links, folders, large generated files), and
# `memory_limit_kb`, a virtual memory limit for the runs.
#
# With IGNORE_WARNINGS=1 in the environment, "orvane: warning:" lines are left
# out of standard error before it is compared: the golden corpus freezes the
# analysis, and the warnings are checked by the end-to-end cases. More of the
# environment: EXTRA_ARGS, words put before each run's arguments; EXPECTED, the
# folder of expected outputs (default expected); IGNORE_FILES, an extended
# regular expression of written files left out of the comparison.
#
# usage: run_case.sh ORVANE CASE_DIR WORK_DIR [--update]
#   --update rewrites expected/ from this run (to change a golden on purpose).
set -u
bin=$1 case=$(cd "$2" && pwd) work=$3 update=${4:-}
expected_dir=${EXPECTED:-expected}
read -r -a extra_words <<< "${EXTRA_ARGS:-}"
mkdir -p "$work" && work=$(cd "$work" && pwd)
actual=$work.actual
rm -rf "$work" "$actual" "$actual.inputs"
mkdir -p "$work" "$actual"
cp -r "$case"/. "$work"/
rm -rf "$work/expected" "$work/expected_joint" "$work/args" "$work/setup" "$work/memory_limit_kb" "$work/skip_under_sanitizers"
if [ -f "$case/setup" ]; then (cd "$work" && bash "$case/setup") || { echo "setup failed"; exit 1; }; fi
# What the folder holds before the runs: anything else, or anything changed, was written by them.
(cd "$work" && find . -type f -exec md5sum {} + | sed 's| \./| |' | sort > "$actual.inputs")
limit=unlimited
[ -f "$case/memory_limit_kb" ] && limit=$(cat "$case/memory_limit_kb")

: > "$actual/stdout"; : > "$actual/stderr"; : > "$actual/status"
while IFS= read -r line || [ -n "$line" ]; do
    read -r -a words <<< "$line"
    extra=(${extra_words[@]+"${extra_words[@]}"})
    # A run without arguments stays one: the usage text.
    [ ${#words[@]} -eq 0 ] && extra=()
    (ulimit -v "$limit" && cd "$work" && "$bin" ${extra[@]+"${extra[@]}"} "${words[@]}" >> "$actual/stdout" 2>> "$actual/stderr" < /dev/null)
    echo $? >> "$actual/status"
done < "$case/args"

if [ "${IGNORE_WARNINGS:-0}" = 1 ]; then
    grep -v '^orvane: warning: ' "$actual/stderr" > "$actual/stderr.kept"
    mv "$actual/stderr.kept" "$actual/stderr"
fi

# Files the runs wrote or changed, and every file expected/ names.
written=$(cd "$work" && find . -type f -exec md5sum {} + | sed 's| \./| |' | sort | comm -23 - "$actual.inputs" | awk '{print $2}')
written=$( (echo "$written"; [ -d "$case/$expected_dir" ] && (cd "$case/$expected_dir" && find . -type f | sed 's|^\./||')) | sort -u | while read -r f; do
    case "$f" in ""|stdout|stderr|status) continue ;; esac
    [ -n "${IGNORE_FILES:-}" ] && echo "$f" | grep -Eq "$IGNORE_FILES" && continue
    [ -f "$work/$f" ] && echo "$f"
done)
for f in $written; do cp "$work/$f" "$actual/$f"; done

if [ "$update" = "--update" ]; then
    rm -rf "${case:?}/$expected_dir"; cp -r "$actual" "$case/$expected_dir"; echo "updated $case/$expected_dir"; exit 0
fi

status=0
expected_files=$( (cd "$case/$expected_dir" && find . -type f -print | sed 's|^\./||' | sort) )
actual_files=$( (cd "$actual" && find . -type f -print | sed 's|^\./||' | sort) )
if [ "$expected_files" != "$actual_files" ]; then
    echo "files differ: expected [$(echo $expected_files)] got [$(echo $actual_files)]"
    status=1
fi
for f in $expected_files; do
    if [ -f "$actual/$f" ] && ! cmp -s "$case/$expected_dir/$f" "$actual/$f"; then
        echo "--- $f differs (expected vs actual):"
        diff "$case/$expected_dir/$f" "$actual/$f" | head -n 20
        status=1
    fi
done
[ $status -eq 0 ] && echo "ok: $(basename "$case")"
exit $status
