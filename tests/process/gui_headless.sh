#!/usr/bin/env bash
# The GUI without a display: drawing onto an image, measuring text, caret
# positions of rich text and layouts all work, and only showing a window
# fails, with the catalogued error; make-face and layout report their errors
# as written.
kel="$1"
here=$(cd "$(dirname "$0")" && pwd)
runner="$here/../kel/runner.kel"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export LSAN_OPTIONS="detect_leaks=0"

cat > "$dir/headless.kel" <<KEL
Kel [title: "GUI without a display" prelude: %$runner]
group "drawing and measuring" [
    img: draw 20x20 [pen off fill-pen 255.0.0 box 0x0 10x10]
    expect 255.0.0.0 [pick img 5 * 20 + 6]
    size: size-text make face! [type: 'text text: "abc"]
    expect true [all [size/x > 10 size/y > 5]]
    box: make face! [type: 'rich-text size: 100x40 text: "ab^/cd"]
    expect true [pos: caret-to-offset box 4 pos/y > 5]
    expect 96x23 [(layout [c: check]) c/size]
]
group "errors" [
    expect-error 'internal 'not-here [view/no-wait layout [text "x"]]
    expect-error 'script 'face-type [make-face 'nosuch]
    expect [#12] [err: try [layout [base #12]] err/arg1]
]
report
KEL
env -u DISPLAY -u WAYLAND_DISPLAY "$kel" "$dir/headless.kel" > "$dir/out" 2>&1
status=$?
cat "$dir/out"
[ $status -eq 0 ] && grep -q " 0 failed" "$dir/out"
