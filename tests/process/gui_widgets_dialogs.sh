#!/usr/bin/env bash
# The file, folder and font dialogs: their arguments are checked before any
# window opens (so a bad filter fails the same way without a display, and a
# missing display is an error, not a crash); on a virtual display xdotool
# answers the file and folder dialogs and the chosen files and folder come
# back as values.
# torture: once (it judges what a display shows; the Kel code it runs is
# tortured by the Kel tests and the screen tests left in the torture pass)
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
. "$here/../support/screen.sh"
SCREEN_CLEANUP="$dir"
screen_start || exit 0
"$kel" "$dir/answers.kel" > "$dir/out" 2>&1 &
pid=$!
for answer in "Pick one:Return" "Pick many:Return" "Save as:Return" "Cancel me:Escape" "Pick dir:Return"; do
    screen_answer "${answer%:*}" "${answer#*:}" ||
        { kill $pid 2> /dev/null; fail "the dialog \"${answer%:*}\" was not answered"; }
done
wait $pid
grep -q " 0 failed" "$dir/out" || fail "dialog checks did not pass"
echo "dialogs: ok"
