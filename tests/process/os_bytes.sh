#!/usr/bin/env bash
# Bytes that are not UTF-8 where kel meets the OS: file names in a folder the
# test builds (listed, read, renamed, deleted, entered), arguments and a
# script path, a child's output, a line of standard input, environment
# variables. Each byte comes back unchanged, and valid UTF-8 is kept as it is.
kel="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failed=0
fail() { echo "$1"; failed=1; }

ff=$'\377'                 # a byte that never starts UTF-8
cut=$'\342\202'            # a sequence cut short
fake=$'\355\262\200'       # U+DC80 spelt in UTF-8: not valid, three bytes
e=$'\303\251'              # é, valid UTF-8

# Runs kel in the scratch folder with the arguments after the first and
# compares what it printed with $expected; the first argument names the check.
check() {
    local what="$1"; shift
    out=$(cd "$dir" && "$@" 2>&1); status=$?
    if [ "$status" -ne 0 ]; then fail "$what: status $status: $out"
    elif [ "$out" != "$expected" ]; then fail "$what printed: $(printf %s "$out" | od -c)"
    fi
}

# ---- a folder whose names are not UTF-8 ----------------------------------------
mkdir -p "$dir/fx/s$cut"
printf 1 > "$dir/fx/a$ff"
printf 2 > "$dir/fx/b$fake"
printf 3 > "$dir/fx/c$e"
printf 4 > "$dir/fx/s$cut/in"
cat > "$dir/files.kel" <<'KEL'
Kel []
names: read %fx/
print length? names
foreach name names [
    either dir? name [print [dir? name]] [print read rejoin [%fx/ name]]
]
print (load mold names) = names
print rename rejoin [%fx/ names/1] rejoin [%fx/ names/1 "x"]
print delete rejoin [%fx/ names/2]
print exists? rejoin [%fx/ names/3]
change-dir rejoin [%fx/ names/4]
print read %in
write %made "5"
print what-dir
KEL
expected=$'4\n1\n2\n3\ntrue\ntrue\ntrue\ntrue\ntrue\n4\n'"$dir/fx/s$cut/"
check "listing" "$kel" files.kel
[ -e "$dir/fx/a${ff}x" ] && [ ! -e "$dir/fx/a$ff" ] || fail "rename did not keep the bytes: $(ls "$dir/fx" | od -c)"
[ ! -e "$dir/fx/b$fake" ] || fail "delete missed the file"
[ "$(cat "$dir/fx/s$cut/made" 2>/dev/null)" = 5 ] || fail "no file written in the entered folder"

# ---- arguments and a script path ----------------------------------------------------
printf 'Kel []\nforeach arg system/options/args [print arg]\nprint system/script/args\n' > "$dir/args.kel"
expected="x$ff"$'\n'"$e$cut"$'\n'"x$ff $e$cut"
check "arguments" "$kel" args.kel "x$ff" "$e$cut"

mkdir "$dir/d$ff"
printf 'Kel []\nprint system/options/script\nprint what-dir\n' > "$dir/d$ff/path.kel"
expected="$dir/d$ff/path.kel"$'\n'"$dir/d$ff/"
check "script path" "$kel" "$dir/d$ff/path.kel"

# ---- a child's output -----------------------------------------------------------------
cat > "$dir/child.kel" <<'KEL'
Kel []
out: copy ""
print call/shell/output {printf 'a\377b\342\202\254'} out
print out
print [length? out mold out]
call/shell/output {printf 'a\377b'} bin: copy #{}
print mold bin
KEL
expected=$'0\na\377b\342\202\254\n4 "a^(DCFF)b\342\202\254"\n#{61FF62}'
check "child output" "$kel" child.kel

# ---- a line of standard input ---------------------------------------------------------
# What is read from a pipe is not echoed.
printf 'Kel []\nline: input\nprint [length? line mold line]\n' > "$dir/input.kel"
expected='3 "a^(DCFF)b"'
check "standard input" bash -c 'printf "a\377b\n" | "$0" input.kel' "$kel"

# ---- the environment ------------------------------------------------------------------
cat > "$dir/env.kel" <<'KEL'
Kel []
print get-env "KEL_BYTES"
print select list-env "KEL_BYTES"
set-env "KEL_BACK" get-env "KEL_BYTES"
call/output "printenv KEL_BACK" bin: copy #{}
print mold bin
call/input/output "cat" get-env "KEL_BYTES" bin: copy #{}
print mold bin
KEL
expected="v$ff$e"$'\n'"v$ff$e"$'\n#{76FFC3A90A}\n#{76FFC3A9}'
check "environment" env KEL_BYTES="v$ff$e" "$kel" env.kel
exit $failed
