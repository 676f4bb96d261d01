#!/bin/sh
# The example scripts answer --help (and -h) with their usage on standard
# output and status 0, and write nothing: no folder called --help.
# usage: test_script_help.sh SOURCE_DIR WORK_DIR
set -u
src=$1 work=$2
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
failed=0
for script in examples/vcf/make_example_vcf.py examples/study/make_study.py examples/vcf/run_vcf_example.sh; do
    case "$script" in
        *.py) run="/usr/bin/python3 $src/$script" ;;
        *) run="sh $src/$script" ;;
    esac
    for flag in --help -h; do
        out=$($run $flag 2>/dev/null)
        status=$?
        if [ $status -ne 0 ]; then echo "FAIL: $script $flag: status $status"; failed=1; fi
        case "$out" in
            usage:*|Usage:*) ;;
            *) echo "FAIL: $script $flag: no usage on standard output: $out"; failed=1 ;;
        esac
        if [ -n "$(ls -A)" ]; then echo "FAIL: $script $flag wrote: $(ls -A)"; failed=1; rm -rf -- ./* ./.[!.]*; fi
    done
done
[ $failed -eq 0 ] && echo "ok: the example scripts answer --help"
exit $failed
