#!/usr/bin/env bash
# The terminal console's line being edited is drawn again as soon as the
# terminal changes its width, before any key: narrowed, the line shows on
# the prompt's row as a window that ends at the cursor, with none of it left
# on other rows; typing goes on in place; widened, the whole line shows
# again; Enter evaluates the whole line. Also with a prompt wider than the
# narrowed terminal, which the window then follows on the prompt's last row.
kel="$1"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/tmux.sh"
pane_init || exit 0

resize() { tmux -S "$pane_socket" resize-window -t "$pane_session" -x "$1" -y 20; }
# The pane shows one row of text, which holds the given text.
shows_only() { pane_capture; [ "$(grep -c . "$pane_dir/pane")" = 1 ] && grep -q -- "$1" "$pane_dir/pane"; }

pane_start 100x20 "'$kel' --cli"
pane_wait '^>> *$' || fail "no prompt after the banner"
pane_keys C-l
wait_until 20 shows_only '^>> *$' || fail "Ctrl+L did not clear the screen"
line='print "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRST'
pane_keys -l "$line"
pane_wait 'OPQRST$' || fail "the typed line does not show"
resize 40
wait_until 20 shows_only '^>> .*KLMNOPQRST$' || fail "narrowed, the line was not drawn again on one row"
grep -q 'print' "$pane_dir/pane" && fail "narrowed, the line's window does not end at the cursor"
pane_keys -l '"'
wait_until 20 shows_only '^>> .*OPQRST"$' || fail "typing after the terminal narrowed does not go on in place"
resize 100
wait_until 20 shows_only "^>> $line\"\$" || fail "widened, the whole line was not drawn again"
pane_keys Enter
pane_wait '^abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRST$' || fail "the line was not evaluated whole"

# A prompt of 46 columns in a terminal narrowed to 30: the window follows
# the prompt's end on its last row.
pane_keys C-l
wait_until 20 shows_only '^>> *$' || fail "Ctrl+L did not clear the screen"
pane_keys -l 'print ask "Tell me a long answer to a question of fifty: "'
pane_keys Enter
pane_wait 'fifty:$' || fail "no long prompt"
pane_keys -l 'abcdefghijklmnopqrstuvwxyz'
pane_wait 'fifty: abcdefghijklmnopqrstuvwxyz$' || fail "the answer does not show"
resize 30
prompt_end() { pane_capture; [ "$(grep -c 'xyz' "$pane_dir/pane")" = 1 ] && grep -q '^stion of fifty: .*xyz$' "$pane_dir/pane"; }
wait_until 20 prompt_end || fail "narrowed below the prompt's width, the answer was not drawn again after the prompt"
pane_keys -l 'X'
pane_wait '^stion of fifty: .*xyzX$' || fail "typing after the terminal narrowed does not go on after the prompt"
resize 100
pane_wait '^Tell me a long answer to a question of fifty: abcdefghijklmnopqrstuvwxyzX$' ||
    fail "widened, the prompt and the whole answer were not drawn again"
pane_keys Enter
pane_wait '^abcdefghijklmnopqrstuvwxyzX$' || fail "the answer was not given whole"
pane_keys C-d
pane_wait_end 0 || fail "Ctrl+D on an empty line did not end the console with status 0"
exit 0
