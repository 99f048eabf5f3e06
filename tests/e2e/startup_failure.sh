#!/usr/bin/env bash
# Start-up failures: without a settings file both reasons are given, one
# message after the other; with an archiver that is not there, only that one.
# Either way the program ends by itself with status 1 and never shows its
# main window.
# usage: startup_failure.sh PROGRAM RECORDER DRAG_SOURCE SCREENSHOT_DIR
source "$(dirname "$0")/common.sh"
start_x wm

# run_to_end DIR NAME: starts DIR's copy and answers each message it shows
# until it ends. Sets $titles (one per message), $main_seen and $status.
run_to_end() {
    local seen=" " w pid end=$((SECONDS + 20))
    titles=()
    main_seen=0
    start_program "$1"
    pid=$started
    while [ "$SECONDS" -le "$end" ]; do
        kill -0 "$pid" 2>/dev/null || break
        [ -n "$(windows_of "$pid" NORMAL)" ] && main_seen=1
        for w in $(windows_of "$pid" DIALOG); do
            case "$seen" in *" $w "*) continue ;; esac
            seen+="$w "
            titles+=("$(window_name "$w")")
            [ ${#titles[@]} -eq 1 ] && screenshot "$2"
            answer "$w"
        done
        sleep 0.05
    done
    wait_exit "$pid" 5 || fail "$2: still running after 20 s"
}

cd "$work" || exit 1
install_program "$work/no-ini"
run_to_end "$work/no-ini" startup_no_settings
check "no settings file: two messages" [ ${#titles[@]} -eq 2 ]
check "no settings file: both titled with the caption" \
    [ "${titles[0]:-}" = "$CAPTION" -a "${titles[1]:-}" = "$CAPTION" ]
check "no settings file: ends with status 1 (got '$status')" [ "$status" = 1 ]
check "no settings file: main window never shown" [ "$main_seen" = 0 ]

install_program "$work/missing-archiver" "$work/no/such/korvu"
run_to_end "$work/missing-archiver" startup_missing_archiver
check "missing archiver: one message" [ ${#titles[@]} -eq 1 ]
check "missing archiver: titled with the caption" [ "${titles[0]:-}" = "$CAPTION" ]
check "missing archiver: ends with status 1 (got '$status')" [ "$status" = 1 ]
check "missing archiver: main window never shown" [ "$main_seen" = 0 ]

finish
