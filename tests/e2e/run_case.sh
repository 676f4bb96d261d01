#!/usr/bin/env bash
# Runs the orvane binary on one end-to-end case and compares, byte for byte, its
# standard output, standard error, exit statuses and every file it wrote with the
# case's expected/ folder. Files the run creates that expected/ does not list are
# failures too, so "no file created" is checked as well.
#
# A case folder holds its input files, `args` (one run per line, arguments
# separated by blanks, paths relative to the case folder) and expected/ with
# stdout, stderr, status (one exit status per run) and each file written.
#
# usage: run_case.sh ORVANE CASE_DIR WORK_DIR [--update]
#   --update rewrites expected/ from this run (to change a golden on purpose).
set -u
bin=$1 case=$(cd "$2" && pwd) work=$3 update=${4:-}
mkdir -p "$work" && work=$(cd "$work" && pwd)
actual=$work.actual
rm -rf "$work" "$actual"
mkdir -p "$work" "$actual"
cp -r "$case"/. "$work"/
rm -rf "$work/expected" "$work/args"

: > "$actual/stdout"; : > "$actual/stderr"; : > "$actual/status"
while IFS= read -r line || [ -n "$line" ]; do
    read -r -a words <<< "$line"
    (cd "$work" && "$bin" "${words[@]}" >> "$actual/stdout" 2>> "$actual/stderr" < /dev/null)
    echo $? >> "$actual/status"
done < "$case/args"

# Files the runs wrote or changed: everything in the work folder that differs from the inputs.
written=$(cd "$work" && find . -type f -print | sed 's|^\./||' | sort | while read -r f; do
    if [ "$f" = args ] || [ "${f#expected/}" != "$f" ]; then continue; fi
    if [ ! -f "$case/$f" ] || ! cmp -s "$case/$f" "$work/$f" || [ -f "$case/expected/$f" ]; then echo "$f"; fi
done)
for f in $written; do cp "$work/$f" "$actual/$f"; done

if [ "$update" = "--update" ]; then
    rm -rf "$case/expected"; cp -r "$actual" "$case/expected"; echo "updated $case"; exit 0
fi

status=0
expected_files=$( (cd "$case/expected" && find . -type f -print | sed 's|^\./||' | sort) )
actual_files=$( (cd "$actual" && find . -type f -print | sed 's|^\./||' | sort) )
if [ "$expected_files" != "$actual_files" ]; then
    echo "files differ: expected [$(echo $expected_files)] got [$(echo $actual_files)]"
    status=1
fi
for f in $expected_files; do
    if [ -f "$actual/$f" ] && ! cmp -s "$case/expected/$f" "$actual/$f"; then
        echo "--- $f differs (expected vs actual):"
        diff "$case/expected/$f" "$actual/$f" | head -n 20
        status=1
    fi
done
[ $status -eq 0 ] && echo "ok: $(basename "$case")"
exit $status
