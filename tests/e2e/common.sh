# Sourced by the end-to-end scripts: a private X server (with a window manager
# where stacking or focus matter), a private copy of the program with its own
# settings file, helpers to find and answer its windows, and PASS/FAIL counts.
#
# Every end-to-end script takes the same arguments, read here unless the
# sourcing script has set them itself:
#   SCRIPT PROGRAM RECORDER DRAG_SOURCE SCREENSHOT_DIR

set -u
: "${PROGRAM:=${1:-}}" "${RECORDER:=${2:-}}" "${DRAG_SOURCE:=${3:-}}" "${SCREENSHOT_DIR:=${4:-}}"
# Made absolute: the scripts change directory.
for arg in PROGRAM RECORDER DRAG_SOURCE SCREENSHOT_DIR; do
    [ -z "${!arg}" ] || [[ ${!arg} == /* ]] || printf -v "$arg" '%s/%s' "$PWD" "${!arg}"
done
export LC_ALL=C.UTF-8 LANG=C.UTF-8
unset WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb

readonly CAPTION='+Korvu支援Tool  Zivev+Korvu'

failures=0
pass() { echo "PASS: $*"; }
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# check "what" command...: PASS or FAIL by the command's status, which it returns.
check() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else
        fail "$what"
        return 1
    fi
}
finish() {
    if [ "$failures" -eq 0 ]; then
        echo "ALL PASSED"
        exit 0
    fi
    echo "$failures FAILED"
    exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/doredaviro-e2e.XXXXXX")
work=$(cd "$work" && pwd -P)
background=()
cleanup() {
    local pid end=$((SECONDS + 5))
    for pid in "${background[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${background[@]}"; do
        while kill -0 "$pid" 2>/dev/null && [ "$SECONDS" -le "$end" ]; do sleep 0.05; done
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
trap 'echo "FAIL: interrupted"; exit 2' INT TERM
# Ends a stuck run itself, before the test driver would kill it outright and
# leave the X server and the program behind.
(
    trap 'kill "$nap" 2>/dev/null; exit 0' TERM
    sleep "${E2E_LIMIT_S:-120}" &
    nap=$!
    wait "$nap" && kill -TERM $$
) >/dev/null 2>&1 &
background+=($!)

export HOME="$work/home"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 0700 "$XDG_RUNTIME_DIR"

# start_x [wm]: a fresh X server on a free display; with "wm", openbox too.
start_x() {
    local i
    Xvfb -displayfd 9 -screen 0 1280x800x24 -nolisten tcp 9>"$work/display" \
        >"$work/xvfb.log" 2>&1 &
    xserver=$!
    background+=($!)
    for ((i = 0; i < 200; i++)); do
        grep -q '^[0-9][0-9]*$' "$work/display" 2>/dev/null && break
        sleep 0.05
    done
    export DISPLAY=":$(head -n1 "$work/display")"
    if [ "$DISPLAY" = ":" ]; then
        echo "FAIL: no X server"
        exit 1
    fi
    if [ "${1:-}" = wm ]; then
        openbox --sm-disable >>"$work/openbox.log" 2>&1 &
        local wm=$!
        background+=($wm)
        # A fresh root's first openbox may take long to build its caches on a loaded machine;
        # without it, close requests and frames are lost, and every later step would mislead.
        # On a loaded machine it has also been seen to find the new display not yet open: it
        # is started again then.
        local end=$((SECONDS + 60))
        until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
            if [ "$SECONDS" -gt "$end" ]; then
                echo "FAIL: no window manager within 60 s"
                cat "$work/openbox.log" "$work/xvfb.log"
                kill -0 "$xserver" 2>/dev/null || echo "(the X server has ended)"
                exit 1
            fi
            if ! kill -0 "$wm" 2>/dev/null; then
                sleep 0.5
                openbox --sm-disable >>"$work/openbox.log" 2>&1 &
                wm=$!
                background+=($wm)
            fi
            sleep 0.05
        done
    fi
}

# install_program DIR [archiver]: the program copied into DIR, with a
# settings file beside it naming the archiver when one is given.
install_program() {
    mkdir -p "$1"
    cp "$PROGRAM" "$1/Zivev+Korvu"
    if [ $# -ge 2 ]; then
        printf '[Korvu Path]\r\nPath=%s\r\n' "$2" >"$1/Zivev+Korvu.ini"
    fi
}

# start_program DIR [ARG...]: runs DIR's copy in the background, in the
# current directory, with the arguments; its pid is left in $started.
start_program() {
    local dir=$1
    shift
    "$dir/Zivev+Korvu" "$@" >>"$work/program.log" 2>&1 &
    started=$!
    background+=("$started")
}

# start_main DIR [ARG...]: runs DIR's copy and waits for its main window;
# leaves the program's pid in $pid and its window in $main (empty when none).
start_main() {
    start_program "$@"
    pid=$started
    main=$(wait_window "$pid" NORMAL 30)
}

# The type of a window, e.g. NORMAL or DIALOG: the first it names, the one
# it prefers.
window_type() {
    xprop -id "$1" _NET_WM_WINDOW_TYPE 2>/dev/null |
        sed -n 's/^[^=]*= _NET_WM_WINDOW_TYPE_\([A-Z_]*\).*/\1/p'
}
window_name() {
    xprop -id "$1" _NET_WM_NAME 2>/dev/null | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p'
}
# Mapped windows of a process whose type is TYPE. A search can come back
# empty when some other window goes away in the middle of it: asked again then.
windows_of() {
    local w found try
    for try in 1 2 3; do
        found=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null) && break
        sleep 0.05
    done
    for w in $found; do
        [ "$(window_type "$w")" = "$2" ] && echo "$w"
    done
}
# wait_window PID TYPE [SECONDS]: prints the first such window once mapped.
wait_window() {
    local end=$((SECONDS + ${3:-15})) w
    while [ "$SECONDS" -le "$end" ]; do
        w=$(windows_of "$1" "$2" | head -n1)
        if [ -n "$w" ]; then
            echo "$w"
            return 0
        fi
        kill -0 "$1" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}
# wait_gone WINDOW [SECONDS]: until the window is no longer mapped.
wait_gone() {
    local end=$((SECONDS + ${2:-10}))
    while [ "$SECONDS" -le "$end" ]; do
        xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable' || return 0
        sleep 0.05
    done
    return 1
}
# wait_exit PID [SECONDS]: until the process ends; its status in $status.
wait_exit() {
    local end=$((SECONDS + ${2:-10}))
    status=
    while [ "$SECONDS" -le "$end" ]; do
        if ! kill -0 "$1" 2>/dev/null; then
            wait "$1"
            status=$?
            return 0
        fi
        sleep 0.05
    done
    return 1
}
# focus WINDOW: makes it the active window, so that keys go to it.
focus() {
    local end=$((SECONDS + 5)) i
    for ((i = 0; SECONDS <= end; i++)); do
        [ $((i % 20)) = 0 ] && xdotool windowactivate "$1" 2>/dev/null
        [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ] && return 0
        sleep 0.05
    done
    echo "note: could not confirm the focus on window $1 (focus $(xdotool getwindowfocus 2>&1), active $(xdotool getactivewindow 2>&1))"
    return 1
}
# answer WINDOW: focuses a message window and presses Return in it.
answer() {
    focus "$1"
    xdotool key Return
}
# "X Y WIDTH HEIGHT" of a window's client area on the screen.
geometry() {
    xwininfo -id "$1" | awk -F: '/Absolute upper-left X/ {x = $2} /Absolute upper-left Y/ {y = $2}
        /^ *Width/ {w = $2} /^ *Height/ {h = $2} END {print x + 0, y + 0, w + 0, h + 0}'
}
# The left, right, top and bottom widths of the window manager's frame.
frame_extents() { xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.* = //p' | tr -d ','; }
# drag_and_drop LOG X0 Y0 X1 Y1: drags with the mouse from the drag source's
# window (whose output is LOG) onto a point, moving in steps as a hand would,
# and lets go only once the target has said it takes the drag. Tries again
# when a press goes astray or the drop is refused.
drag_and_drop() {
    local log=$1 x0=$2 y0=$3 x1=$4 y1=$5 attempt i seen end
    for ((attempt = 1; attempt <= 3; attempt++)); do
        seen=$(wc -l <"$log")
        xdotool mousemove "$x0" "$y0"
        sleep 0.2
        xdotool mousedown 1
        end=$((SECONDS + 5))
        until tail -n +$((seen + 1)) "$log" | grep -q '^drag started'; do
            if [ "$SECONDS" -gt "$end" ]; then
                xdotool mouseup 1
                continue 2
            fi
            sleep 0.05
        done
        for ((i = 1; i <= 12; i++)); do
            xdotool mousemove $((x0 + (x1 - x0) * i / 12)) $((y0 + (y1 - y0) * i / 12))
            sleep 0.05
        done
        # The target answers each move; nudge until its yes has come back.
        end=$((SECONDS + 10))
        for ((i = 0; SECONDS <= end; i++)); do
            tail -n +$((seen + 1)) "$log" | grep '^target ' | tail -n1 | grep -q accepts && break
            xdotool mousemove $((x1 + i % 2)) "$y1"
            sleep 0.1
        done
        xdotool mouseup 1
        end=$((SECONDS + 10))
        while [ "$SECONDS" -le "$end" ]; do
            tail -n +$((seen + 1)) "$log" | grep -q '^drop ' && break
            sleep 0.05
        done
        tail -n +$((seen + 1)) "$log" | grep -q '^drop taken' && return 0
    done
    return 1
}
# drop_on_list MAIN PATH...: drags the paths from the drag source (DRAG_SOURCE,
# set by the sourcing script) onto the middle of MAIN's list, with the mouse.
drop_on_list() {
    local main=$1 source_window sx sy sw sh mx my end
    shift
    "$DRAG_SOURCE" "$@" >"$work/drag.log" 2>&1 &
    background+=($!)
    source_window=$(wait_window $! NORMAL 30) || return 1
    # Out of the main window's way, and settled there before the mouse goes down.
    xdotool windowmove "$source_window" 40 40
    end=$((SECONDS + 5))
    while [ "$SECONDS" -le "$end" ]; do
        read -r sx sy sw sh <<<"$(geometry "$source_window")"
        [ "$sx $sy" = "40 40" ] && break
        sleep 0.05
    done
    sleep 0.3
    read -r mx my _ <<<"$(geometry "$main")"
    # Onto the middle of the list, from its place in the window.
    drag_and_drop "$work/drag.log" $((sx + sw / 2)) $((sy + sh / 2)) $((mx + 7 + 265)) $((my + 49 + 70))
}
# The recorder's starts ($RECORDER_LOG), one line each: "pid argc arg cwd",
# arg and cwd in hex. Launches are not waited for, so their order is that of
# their process ids, which the system hands out in turn (and may wrap).
records() {
    awk -F= '/^argc=/ {argc = $2} /^arg=/ {arg = $2} /^cwd=/ {cwd = $2} /^pid=/ {pid = $2}
        /^end$/ {print pid, argc, arg, cwd; arg = ""}' "$RECORDER_LOG" 2>/dev/null |
        sort -n | awk -v max="$(cat /proc/sys/kernel/pid_max)" '
        {line[NR] = $0; p[NR] = $1}
        END {
            for (i = 1; i <= NR; i++) {
                gap = i < NR ? p[i + 1] - p[i] : p[1] + max - p[NR]
                if (gap > widest) {widest = gap; start = i % NR + 1}
            }
            for (k = 0; k < NR; k++) print line[(start - 1 + k) % NR + 1]
        }'
}
# wait_records COUNT [SECONDS]: until the recorder has logged COUNT starts.
wait_records() {
    local end=$((SECONDS + ${2:-15}))
    while [ "$SECONDS" -le "$end" ]; do
        [ "$(records | wc -l)" -ge "$1" ] && return 0
        sleep 0.05
    done
    return 1
}
hex() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; }
screenshot() {
    mkdir -p "$SCREENSHOT_DIR"
    import -window root "$SCREENSHOT_DIR/$1.png" && echo "screenshot: $SCREENSHOT_DIR/$1.png"
}
