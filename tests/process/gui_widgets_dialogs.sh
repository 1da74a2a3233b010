#!/usr/bin/env bash
# The file, folder and font dialogs: their arguments are checked before any
# window opens (so a bad filter fails the same way without a display, and a
# missing display is an error, not a crash); on a virtual display xdotool
# answers the file and folder dialogs and the chosen files and folder come
# back as values.
kel="$1"
here=$(cd "$(dirname "$0")" && pwd)
runner="$here/../kel/runner.kel"
export GSETTINGS_BACKEND=memory
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "$1"; cat "$dir/out" 2>/dev/null; exit 1; }

cat > "$dir/nodisplay.kel" <<KEL
Kel [title: "dialogs without a display" prelude: %$runner]
group "arguments" [
    expect-error 'script 'invalid-arg [platform-request-file "t" none ["Text" 12] false false]
    expect-error 'script 'invalid-arg [platform-request-file none %a.txt [%"Kel" "*.kel" "Odd" #x] true true]
]
group "no display" [
    expect-error 'internal 'not-here [platform-request-file none none none false false]
    expect-error 'internal 'not-here [platform-request-dir "t" %/tmp/ none true false]
    expect-error 'internal 'not-here [platform-request-font make font! [] none true]
]
report
KEL
env -u DISPLAY -u WAYLAND_DISPLAY "$kel" "$dir/nodisplay.kel" > "$dir/out" 2>&1 || fail "no-display run failed"
grep -q "^5 passed, 0 failed" "$dir/out" || fail "no-display checks did not pass"

# Answering dialogs waits on windows by time; the collector's torture mode
# slows every step past those waits, and the answers exercise the toolkit,
# not the collector.
[ -z "${KEL_GC_TORTURE:-}" ] || { echo "torture mode: skipping the dialog answers"; exit 0; }
command -v xvfb-run >/dev/null || { echo "xvfb-run is not installed: skipping the dialog answers"; exit 0; }
command -v xdotool >/dev/null || { echo "xdotool is not installed: skipping the dialog answers"; exit 0; }
mkdir "$dir/files"
touch "$dir/files/one.txt" "$dir/files/two.txt"
cat > "$dir/answers.kel" <<KEL
Kel [title: "dialog answers" prelude: %$runner]
files: %$dir/files/
group "file dialog" [
    expect files/one.txt [platform-request-file "Pick one" files/one.txt none false false]
    expect reduce [files/two.txt] [platform-request-file "Pick many" files/two.txt none false true]
    expect files/new.txt [platform-request-file "Save as" files/new.txt ["Text" "*.txt"] true false]
    expect none [platform-request-file "Cancel me" none none false false]
]
group "folder dialog" [
    expect files [platform-request-dir "Pick dir" files none false false]
]
report
KEL
cat > "$dir/answer.sh" <<SH
"$kel" "$dir/answers.kel" > "$dir/out" 2>&1 &
pid=\$!
# Waits for the dialog window of that title and gives it the focus.
dialog() {
  w=\$(timeout 30 xdotool search --sync --onlyvisible --name "\$1" | head -1)
  sleep 1
  xdotool windowfocus --sync "\$w" 2>/dev/null; sleep 0.3
}
dialog "Pick one"; xdotool key Return
dialog "Pick many"; xdotool key Return
dialog "Save as"; xdotool key Return
dialog "Cancel me"; xdotool key Escape
dialog "Pick dir"; xdotool key Return
wait \$pid
SH
timeout 180 xvfb-run -a bash "$dir/answer.sh" || fail "dialog run failed"
grep -q " 0 failed" "$dir/out" || fail "dialog checks did not pass"
echo "dialogs: ok"
