# Shared by the process tests that compare a native codec with its
# reference written in Kel. Source it, then call
#   reference_setup LABEL PREFIX CASES VALUES SEED
# which sets cases, values, seed and dir from PREFIX_CASES, PREFIX_VALUES,
# PREFIX_SEED and PREFIX_KEEP_DIR or the defaults (counts 40 and 30 times
# smaller with the collector in torture mode, where every allocation
# collects), and skips the test with a message without python3;
#   reference_outcome FILE
# appends the Kel function outcome to the cases file.

reference_setup() {
    local label="$1" prefix="$2" cases_var="${2}_CASES" values_var="${2}_VALUES"
    local seed_var="${2}_SEED" keep_var="${2}_KEEP_DIR"
    if ! command -v python3 >/dev/null; then
        echo "python3 is absent: $label reference comparison skipped"
        exit 0
    fi
    export PYTHONPATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)${PYTHONPATH:+:$PYTHONPATH}"
    cases="$3"
    values="$4"
    if [ -n "$KEL_GC_TORTURE" ] && [ "$KEL_GC_TORTURE" != 0 ]; then
        cases=$((cases / 40))
        values=$((values / 30))
    fi
    cases="${!cases_var:-$cases}"
    values="${!values_var:-$values}"
    seed="${!seed_var:-$5}"
    dir="${!keep_var:-$(mktemp -d)}"
    [ -n "${!keep_var}" ] || trap 'rm -rf "$dir"' EXIT
}

reference_outcome() {
    cat >> "$1" <<'KEL'

; The outcome of code as one text: the value molded, or the raised error's
; type, id, arguments and where (its stack level differs by design: the
; native codec runs fewer frames).
outcome: func [code [block!] /local result] [
    either error? set/any 'result try code [
        mold/all reduce ['raised result/type result/id :result/arg1 :result/arg2 :result/arg3 result/where]
    ] [
        mold/all :result
    ]
]
KEL
}
