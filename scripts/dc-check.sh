#!/usr/bin/env bash
# dc-check.sh PLUGIN BOOK OUTDIR [REPLACEMENT_FILE]
#
# A developer's check of the plug-in inside a real Double Commander on Linux,
# headless under Xvfb; it is not part of the test command.
#   1. Listing and extraction: the Double Commander harness beside the
#      repository (../shared/tools/dc-host/run.sh, or DC_HOST) opens a copy of
#      BOOK with Ctrl+PageDown, lists it and extracts every entry; the result
#      must equal what `vellum extract BOOK` writes.
#   2. Listing time: a copy of BOOK is opened with Ctrl+PageDown in a session of
#      its own, timed from the key press to the book's entries shown in the panel.
#   3. With REPLACEMENT_FILE: in that session, the file (named as one of the
#      book's entries) is copied into the open book with F5 from the right
#      panel, and Double Commander's overwrite question is answered. The copy
#      must then hold the file's bytes under that entry, one more note in its
#      history, and every other picture as it was.
# One result line per check on standard output; exit status 0 when every check
# passed, 1 when one failed, 2 when the check could not be run.
# Needs: doublecmd-qt xvfb xdotool xclip imagemagick (and python3, xmllint).
# shellcheck disable=SC2317 # the conditions are called through wait_for
set -uo pipefail

usage() {
    echo "usage: $0 PLUGIN BOOK OUTDIR [REPLACEMENT_FILE]" >&2
    exit 2
}
[ $# -eq 3 ] || [ $# -eq 4 ] || usage

here="$(cd "$(dirname "$0")" && pwd)"
PLUGIN="$(realpath -e "$1")" || usage
BOOK="$(realpath -e "$2")" || usage
OUTDIR="$(realpath -m "$3")"
NEWFILE=""
[ $# -eq 4 ] && { NEWFILE="$(realpath -e "$4")" || usage; }
DC_HOST="${DC_HOST:-$here/../../shared/tools/dc-host/run.sh}"
# The vellum beside the plug-in (a build folder), else the one on PATH (installed).
if [ -z "${VELLUM:-}" ]; then
    VELLUM="$(dirname "$PLUGIN")/vellum"
    [ -x "$VELLUM" ] || VELLUM="$(command -v vellum)"
fi
STEP_TIMEOUT="${DC_STEP_TIMEOUT:-60}"
LIST_MS="${DC_LIST_MS:-300}" # the longest a listing may take to appear, in ms

for tool in doublecmd Xvfb xdotool xclip import python3 xmllint; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 2; }
done
[ -x "$DC_HOST" ] || { echo "no harness at $DC_HOST (set DC_HOST)" >&2; exit 2; }
[ -x "$VELLUM" ] || { echo "no vellum beside the plug-in or on PATH (set VELLUM)" >&2; exit 2; }

vellum() { "$VELLUM" --plugin "$PLUGIN" --quiet "$@"; }
STATUS=0
result() { # PASS|FAIL name text
    echo "$2: $1 $3"
    [ "$1" = PASS ] || STATUS=1
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }
seconds() { printf '%d.%02d' $(($1 / 1000)) $(($1 % 1000 / 10)); }

mkdir -p "$OUTDIR" || exit 2
EXPECTED="$OUTDIR/expected"
rm -rf "$EXPECTED"
vellum extract "$BOOK" -o "$EXPECTED" >/dev/null || { echo "vellum cannot extract $BOOK" >&2; exit 2; }
if [ -n "$NEWFILE" ]; then
    NAME="$(basename "$NEWFILE")"
    ENTRY=""
    for f in "$EXPECTED"/* "$EXPECTED"/.[!.]*; do # the host matches names regardless of case
        f="${f##*/}"
        [ "${f,,}" = "${NAME,,}" ] && { ENTRY="$f"; break; }
    done
    [ -n "$ENTRY" ] || { echo "$NAME is named as no entry of $BOOK" >&2; exit 2; }
fi

# ------------------------------------------------ listing and extraction ---
t0=$(now_ms)
EXPECT_DIR="$EXPECTED" "$DC_HOST" "$PLUGIN" fb2 "$BOOK" "$OUTDIR/dc" >/dev/null 2>&1
rc=$?
took=$(seconds $(($(now_ms) - t0)))
listing="$(grep -m1 '^LISTING:' "$OUTDIR/dc/result.txt" 2>/dev/null)"
extract="$(grep -m1 '^EXTRACT:' "$OUTDIR/dc/result.txt" 2>/dev/null)"
case $rc in
    0) result PASS LIST-EXTRACT "in ${took}s: ${listing#LISTING: }; ${extract#EXTRACT: }" ;;
    1) result FAIL LIST-EXTRACT "in ${took}s: $(grep -m1 '^RESULT:' "$OUTDIR/dc/result.txt") (see $OUTDIR/dc)" ;;
    *) result FAIL LIST-EXTRACT "harness status $rc in ${took}s (see $OUTDIR/dc/run.log)" ;;
esac
# ----------------------------------------- listing time, and replacement ---

R="$OUTDIR/replace"
rm -rf "$R"
mkdir -p "$R/config" "$R/home" "$R/work" "$R/new" || exit 2
WORKBOOK="$R/work/$(basename "$BOOK")"
# The plug-in does not change a read-only book, and books may come read-only.
cp -- "$BOOK" "$WORKBOOK" && chmod u+w "$WORKBOOK" || exit 2
[ -z "$NEWFILE" ] || cp -- "$NEWFILE" "$R/new/$NAME" || exit 2
OPSLOG="$R/dc-operations.log"
RUNLOG="$R/run.log"
log() { echo "[$(seconds $(($(now_ms) - t0)))s] $*" >>"$RUNLOG"; }
t0=$(now_ms)

# Double Commander keeps the capabilities the plug-in gave when it was added;
# with PK_CAPS_HIDE only Ctrl+PageDown opens a book as an archive.
caps="$(python3 -c 'import ctypes,sys; print(ctypes.CDLL(sys.argv[1]).GetPackerCaps())' "$PLUGIN")" || exit 2
openkey=Return
((caps & 256)) && openkey=ctrl+Next

dcversion="$(dpkg-query -W -f '${Version}' doublecmd-common 2>/dev/null)"
cat >"$R/config/doublecmd.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<doublecmd DCVersion="${dcversion%-*}" ConfigVersion="13">
  <MainWindow>
    <Position Save="False"><Left>0</Left><Top>0</Top><Width>1270</Width><Height>790</Height></Position>
  </MainWindow>
  <Log Enabled="True" Count="0" LogFileWithDateInName="False">
    <FileName>$OPSLOG</FileName>
    <Options>1023</Options>
  </Log>
  <Plugins>
    <WcxPlugins>
      <WcxPlugin Enabled="True">
        <ArchiveExt>fb2</ArchiveExt>
        <Path>$PLUGIN</Path>
        <Flags>$caps</Flags>
      </WcxPlugin>
    </WcxPlugins>
  </Plugins>
</doublecmd>
EOF

XVFB_PID=""
DC_PID=""
stop() { # pid: TERM, then KILL after 3 s
    [ -n "$1" ] || return 0
    kill -TERM "$1" 2>/dev/null
    for _ in $(seq 30); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}
trap 'stop "$DC_PID"; stop "$XVFB_PID"' EXIT
trap 'exit 130' INT TERM

Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp -noreset 5>"$R/display" >"$R/xvfb.log" 2>&1 &
XVFB_PID=$!
for _ in $(seq 50); do [ -s "$R/display" ] && break; sleep 0.1; done
DISP=":$(tr -dc 0-9 <"$R/display")"
[ "$DISP" != ":" ] || { echo "Xvfb did not start" >&2; exit 2; }

(cd "$R/work" && exec env -u DBUS_SESSION_BUS_ADDRESS -u SESSION_MANAGER \
    HOME="$R/home" XDG_CONFIG_HOME="$R/home/.config" XDG_CACHE_HOME="$R/home/.cache" \
    XDG_DATA_HOME="$R/home/.local/share" DISPLAY="$DISP" LANG=C.UTF-8 LC_ALL=C.UTF-8 NO_AT_BRIDGE=1 \
    doublecmd --config-dir="$R/config" --no-splash -L "$WORKBOOK" -R "$R/new/" -P L) \
    >"$R/dc-stdout.log" 2>&1 &
DC_PID=$!

X() { timeout 10 env DISPLAY="$DISP" "$@"; }
shot() { X import -window root "$R/$1.png" 2>/dev/null; }
window() { X xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1; }
key() { X xdotool key "$@"; sleep 0.3; }
give_up() { # message: screenshot, FAIL line, exit 1
    log "gave up: $1"
    shot error
    result FAIL REPLACE "$1 (see $R)"
    exit 1
}
wait_for() { # description, then a command that succeeds when it is so
    local what="$1" end=$((SECONDS + STEP_TIMEOUT))
    shift
    until "$@"; do
        kill -0 "$DC_PID" 2>/dev/null || give_up "Double Commander exited while waiting for $what"
        ((SECONDS < end)) || give_up "no $what after ${STEP_TIMEOUT}s"
        sleep 0.1
    done
    log "$what"
}
# The full name under the cursor of the active panel (Ctrl+Shift+C copies it)
# tells where Double Commander is: "BOOK" on the book, "BOOK/..." inside it.
cursor() {
    X xdotool windowfocus --sync "$MAIN" 2>/dev/null
    key ctrl+shift+c
    X xclip -o -selection clipboard 2>/dev/null
}
# Focus given to the window while it is still being built reaches no panel:
# Double Commander's own keys work, but the panels ignore End and Tab. A click
# into a panel's empty part gives it the focus; End then puts the cursor on the
# folder's only file.
on_only_file() { # panel x in the window, expected full name
    [ "$(cursor)" = "$2" ] && return 0
    X xdotool mousemove --window "$MAIN" "$1" 600 click 1
    key End
    return 1
}
in_book() {
    case "$(cursor)" in "$WORKBOOK"/*) return 0 ;; esac
    [ -z "$(other_window)" ] || give_up "a window instead of the book's entries: $(other_window)"
    return 1
}
other_window() { # the title of a visible window besides the main one
    X xdotool search --onlyvisible --name . 2>/dev/null | grep -vx "$MAIN" |
        while read -r w; do X xdotool getwindowname "$w"; done | grep -v '^doublecmd$' | head -1
}
question() { # a box titled only "Double Commander" (the main window may be too)
    X xdotool search --onlyvisible --name '^Double Commander$' 2>/dev/null | grep -vx "$MAIN" | head -1
}
has_window() { [ -n "$(window "$1")" ]; }
pack_logged() { grep -q 'Pack to file' "$OPSLOG" 2>/dev/null; }

wait_for "main window" has_window 'Double Commander'
MAIN="$(window 'Double Commander')"
wait_for "cursor on the book" on_only_file 320 "$WORKBOOK"
# Double Commander reads the book's entries (CanYouHandleThisFile, OpenArchive,
# ReadHeader to the end) as it handles the key that opens it, and the key that
# copies the cursor's full name only once they are in the panel: polled with that
# key, the clipboard first names a place inside the book when the listing is shown.
cat "$WORKBOOK" >/dev/null # the page cache holds the book, as after the first listing
X xdotool windowfocus --sync "$MAIN" 2>/dev/null
topen=$(now_ms)
X xdotool key "$openkey"
listms=""
while [ -z "$listms" ] && (($(now_ms) - topen < STEP_TIMEOUT * 1000)); do
    X xdotool key ctrl+shift+c
    case "$(X xclip -o -selection clipboard 2>/dev/null)" in
    "$WORKBOOK"/*) listms=$(($(now_ms) - topen)) ;;
    esac
done
wait_for "book open as an archive" in_book
shot 01-open
listed="$(basename "$BOOK") ($(($(stat -c %s "$BOOK") / 1000000)) MB)"
if [ -z "$listms" ]; then
    result FAIL LIST-TIME "$listed: no listing within ${STEP_TIMEOUT}s"
elif ((listms <= LIST_MS)); then
    result PASS LIST-TIME "$listed listed $(seconds "$listms")s after Ctrl+PageDown"
else
    result FAIL LIST-TIME "$listed listed $(seconds "$listms")s after Ctrl+PageDown, over $(seconds "$LIST_MS")s"
fi
if [ -z "$NEWFILE" ]; then
    X xdotool key alt+x
    for _ in $(seq 50); do kill -0 "$DC_PID" 2>/dev/null || break; sleep 0.1; done
    exit "$STATUS"
fi
key Tab
wait_for "cursor on $NAME" on_only_file 960 "$R/new/$NAME"
key F5
wait_for "copy dialog" has_window '^Copy file'
shot 02-copy-dialog
X xdotool windowfocus --sync "$(window '^Copy file')" 2>/dev/null
key Return
# A name the book already has (every replacement) makes Double Commander ask
# whether to overwrite it; Overwrite has the focus.
asked=no
question_or_done() { [ -n "$(question)" ] || pack_logged; }
wait_for "overwrite question or the end of packing" question_or_done
if [ -n "$(question)" ]; then
    asked=yes
    shot 03-question
    X xdotool windowfocus --sync "$(question)" 2>/dev/null
    X xdotool key Return
fi
tpack=$(now_ms)
# A plug-in error is logged, and its Skip/Abort box keeps the progress window.
packed() { pack_logged && { ! has_window 'Packing' || grep -q 'Error: Pack' "$OPSLOG"; }; }
wait_for "end of packing" packed
packms=$(($(now_ms) - tpack))
sleep 0.5
shot 04-done
other="$(other_window)"
X xdotool windowfocus --sync "$MAIN" 2>/dev/null
X xdotool key alt+x
for _ in $(seq 50); do kill -0 "$DC_PID" 2>/dev/null || break; sleep 0.1; done
stop "$DC_PID"
DC_PID=""
stop "$XVFB_PID"
XVFB_PID=""
total=$(seconds $(($(now_ms) - t0)))

if grep -q 'Done: Pack to file' "$OPSLOG" && [ -z "$other" ]; then
    result PASS REPLACE "$ENTRY in Double Commander: overwrite asked: $asked, packed in $(seconds $packms)s (session ${total}s)"
else
    result FAIL REPLACE "$(grep -m1 -o '[A-Za-z]*: Pack to file.*' "$OPSLOG")${other:+; window left open: $other} (see $R)"
fi

if vellum cat "$WORKBOOK" "$ENTRY" | cmp -s - "$NEWFILE"; then
    result PASS ENTRY "$ENTRY holds the $(stat -c %s "$NEWFILE") new bytes"
else
    result FAIL ENTRY "$ENTRY does not hold the new bytes"
fi

# --huge: a picture of more than 7.5 MB is a text node that xmllint refuses without it.
notes() { xmllint --huge --xpath "count(//*[local-name()='history']/*[local-name()='p'])" "$1" 2>/dev/null; }
before="$(notes "$BOOK")"
after="$(notes "$WORKBOOK")"
if [ -n "$after" ] && [ "$after" = $((${before:-0} + 1)) ]; then
    result PASS HISTORY "$before -> $after notes"
else
    result FAIL HISTORY "notes before ${before:-?}, after ${after:-?}"
fi

rm -rf "$R/after"
vellum extract "$WORKBOOK" -o "$R/after" --no-index >/dev/null
if diff -rq -x "$ENTRY" -x files.bbs "$EXPECTED" "$R/after" >>"$RUNLOG" 2>&1; then
    result PASS OTHERS "$(($(find "$R/after" -type f | wc -l) - 1)) other entries unchanged"
else
    result FAIL OTHERS "other entries changed (see $RUNLOG)"
fi
exit "$STATUS"
