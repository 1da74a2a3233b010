#!/usr/bin/env bash
# Tab in the terminal console completes as the graphical console does: a
# word, a file name, and with several candidates it lists them after the
# prompt and gives a new prompt holding their common part.
kel="$1"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/tmux.sh"
pane_init || exit 0

mkdir "$pane_dir/sub"
printf 'hello' > "$pane_dir/sub/notes.txt"
pane_start 200x30 "'$kel' --cli"
pane_wait '^>> *$' || fail "no prompt"
pane_keys -l 'upperc'
pane_keys Tab
pane_wait '^>> uppercase$' || fail "Tab did not complete a word"
pane_keys -l ' "ab"'
pane_keys Enter
pane_wait '^== "AB"$' || fail "the completed line was not evaluated"
pane_keys -l "length? read %$pane_dir/sub/no"
pane_keys Tab
pane_wait "^>> length? read %$pane_dir/sub/notes.txt\$" || fail "Tab did not complete a file name"
pane_keys Enter
pane_wait '^== 5$' || fail "the completed file name was not read"
pane_keys -l 'prin'
pane_keys Tab
pane_wait '^>> prin print print-to-stdout$' || fail "the candidates were not listed after the prompt"
pane_wait '^>> prin$' || fail "no new prompt with the common part"
pane_keys -l 't 1'
pane_keys Enter
pane_wait '^1$' || fail "the line after a listing was not evaluated"
exit 0
