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
; A face that keeps its text layout answers for what it holds now: after
; each change, the same as a face made afresh with the changed value.
group "a kept rich-text layout follows changes" [
    mono: make font! [name: "Monospace" size: 11]
    rich-box: func [field value /local box] [
        box: make face! [
            type: 'rich-text size: 300x480 font: mono text: copy "0123456789 0123456789 0123456789 0123456789"
            data: none tabs: none line-spacing: none handles: none
        ]
        if field [box/:field: value]
        box
    ]
    answers: func [box] [
        reduce [
            offset-to-caret box 200x5  offset-to-caret box 50x30
            caret-to-offset box 30  caret-to-offset/lower box 30  rich-text/line-count? box
        ]
    ]
    foreach [field value] reduce [
        'text "0123456789"  'size 100x480  'font make font! [name: "Monospace" size: 20]
        'data [1x40 20]  'line-spacing 40
    ][
        box: rich-box none none
        before: answers box
        box/:field: value
        expect answers rich-box field value [answers box]
        expect false [before = answers box]
    ]
]
; A word longer than the width breaks after as many characters as fit,
; with no hyphen added to the line.
group "a long word wraps without a hyphen" [
    ten: size-text make face! [type: 'rich-text font: mono size: 1000x100 text: "XXXXXXXXXX"]
    box: make face! [type: 'rich-text font: mono size: as-pair ten/x + 1 200 text: append/dup copy "" #"X" 30]
    expect 3 [rich-text/line-count? box]
    expect 0.0 [pos: caret-to-offset box 11 pos/x]
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
