#!/usr/bin/env bash
# Fails when built code contains a fused multiply-add: the rules of flags.cmake
# seen from the machine code's side. A fused a * b + c rounds once instead of
# twice, so one such instruction in the engine changes the last bits of its
# numbers on that build alone. Compilers fuse by default on aarch64 (GCC's
# -ffp-contract=fast, Clang's =on), so a build that lost -ffp-contract=off
# shows here by name, where the golden values would only show a wrong digit.
#
# Usage: cmake/check_no_fma.sh OBJDUMP FILE...
#   OBJDUMP  an objdump that reads the files' architecture
#   FILE     objects, static libraries or shared objects
#
# Looks for the scalar (fmadd, fmsub, fnmadd, fnmsub) and vector (fmla, fmls)
# forms of aarch64 and the vfmadd/vfmsub/vfnmadd/vfnmsub family of x86-64.
set -euo pipefail

[ $# -ge 2 ] || {
    echo "usage: $0 OBJDUMP FILE..." >&2
    exit 2
}
objdump=$1
shift

status=0
for file in "$@"; do
    [ -f "$file" ] || {
        echo "fma check: $file is missing" >&2
        exit 2
    }
    disassembly=$("$objdump" -d -C --no-show-raw-insn "$file") || {
        echo "fma check: $objdump cannot read $file" >&2
        exit 2
    }
    # One line per fused instruction: its function, then the instruction.
    found=$(awk '
        /^[0-9a-f]+ <.*>:$/ { function_name = substr($0, index($0, "<") + 1); sub(/>:$/, "", function_name); next }
        $2 ~ /^(fn?m(add|sub)|fml[as]|vfn?m(add|sub)[0-9a-z]*)$/ { print function_name "\t" $2 }
    ' <<<"$disassembly")
    instructions=$(grep -c . <<<"$disassembly" || true)
    if [ -n "$found" ]; then
        echo "fma check: $(wc -l <<<"$found") fused multiply-add instructions in $file:"
        sort <<<"$found" | uniq -c | sort -rn
        status=1
    else
        echo "fma check: no fused multiply-add in $file ($instructions lines disassembled)"
    fi
done
exit $status
