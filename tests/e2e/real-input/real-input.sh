# Shared by the real-input tests (sourced, not run): a virtual X server of the run's own, a
# folder for the run with settings, caches and runtime files inside it, checks that print PASS
# or FAIL, screenshots, and the key and mouse steps a user takes in a Velmora window.
#
# A test sources this file, then calls, in this order:
#   require_tools TOOL...          exits 77 (skipped) when one of them is missing
#   make_work_folder [SCREENS]     the run's folder ($work) and its screenshots' ($screens)
#   start_own_display              a virtual X server of the run's own
#   start_window_manager           openbox on it (needs xprop and openbox)
# and ends with finish_checks, which exits 1 when any check failed. Programs are started as new
# users with first_start, which answers the questions of a first start by key.

require_tools() {  # require_tools TOOL...
    local tool
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: $tool is not installed (scripts/setup installs it)"
            exit 77
        fi
    done
}

# Xvfb picks a free display number itself (-displayfd) and writes it once it takes connections:
# two runs at once (ctest -j) never take the same number, as two xvfb-run -a started together
# can.
start_own_display() {
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" \
        >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    wait_for 20 test -s "$work/display" || { echo "FAIL: the virtual X server did not start"; exit 1; }
    export DISPLAY=:$(cat "$work/display")
    # The windows are real X windows, whatever platform the test suite sets for its other tests.
    export QT_QPA_PLATFORM=xcb
}

# A window manager, as on any user's desktop. It gives the keyboard to the window that is
# activated, keeps a prompt above the window it belongs to and puts a close button on each title
# bar. Without one, which window takes the keys depends on the program's own focus calls alone,
# and a prompt that takes no input can look different here from what a user sees. Openbox is
# small, needs no configuration and follows the standard (EWMH) that xdotool's window activation
# relies on.
start_window_manager() {
    openbox >"$work/openbox.log" 2>&1 &
    pids+=($!)
    wait_for 10 window_manager_up || { echo "FAIL: the window manager did not start"; exit 1; }
}
window_manager_up() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

pids=()
# The run's folder goes when every check passed; else its data folders and logs stay to be read.
cleanup() {  # cleanup EXIT_STATUS
    local i
    # The programs first, the X server they draw on last.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work/home" "$work/xdg-"*
    if [ "$1" -eq 0 ] && [ "${screens#"$work"}" = "$screens" ]; then
        rm -rf "$work"
    else
        echo "data folders and logs in $work"
    fi
}

make_work_folder() {  # make_work_folder [SCREENSHOT_FOLDER]
    work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-real-input.XXXXXX")
    screens=${1:-$work/screens}
    rm -f "$screens"/*.png
    mkdir -p "$screens"
    new_user run
    trap 'cleanup $?' EXIT
}

# Nothing of the user's: the home, settings, caches and runtime files go to the run's own
# folder, new ones for each NAME (a user who has never run the program).
new_user() {  # new_user NAME
    export HOME=$work/home/$1 XDG_DATA_HOME=$work/xdg-data/$1 XDG_CONFIG_HOME=$work/xdg-config/$1 \
        XDG_CACHE_HOME=$work/xdg-cache/$1 XDG_RUNTIME_DIR=$work/xdg-runtime/$1
    mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
}

failures=0
check() {  # check DESCRIPTION COMMAND...: PASS or FAIL, counted
    local description=$1
    shift
    if "$@"; then
        echo "PASS: $description"
    else
        echo "FAIL: $description"
        failures=$((failures + 1))
    fi
}
finish_checks() {
    echo "screenshots in $screens"
    [ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
    echo "all checks passed"
}
shot=0
screenshot() {  # screenshot NAME
    shot=$((shot + 1))
    local file
    file=$(printf '%s/%02d-%s.png' "$screens" "$shot" "$1")
    import -window root "$file"
    echo "screenshot: $file"
}
wait_for() {  # wait_for SECONDS COMMAND...: true once the command succeeds
    local until=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -ge $until ] && return 1
        sleep 0.2
    done
}

# --- A program's windows, by the name its process was given in pid_of -----------------------
declare -A pid_of
# A visible window of NAME's program whose title matches TITLE; fails when there is none, so that
# wait_for can wait for it.
window_named() {  # window_named NAME TITLE
    local found
    found=$(xdotool search --all --pid "${pid_of[$1]}" --onlyvisible --name "$2" 2>/dev/null |
        head -1)
    [ -n "$found" ] && echo "$found"
}
main_window() { window_named "$1" '^Oskvale Velmora$'; }  # main_window NAME
# The titles of NAME's visible windows other than the main window (dialogs, message boxes).
other_windows() {  # other_windows NAME
    local main window
    main=$(main_window "$1")
    for window in $(xdotool search --all --pid "${pid_of[$1]}" --onlyvisible --name '.' \
        2>/dev/null); do
        # A window may go between the search and the question.
        [ "$window" = "$main" ] || xdotool getwindowname "$window" 2>/dev/null
    done
}
no_window_named() { [ -z "$(window_named "$1" "$2")" ]; }  # no_window_named NAME TITLE
has_other_windows() { [ -n "$(other_windows "$1")" ]; }
running() { kill -0 "${pid_of[$1]}" 2>/dev/null; }
# Keys go, as from a keyboard, to the window that has the input focus: WINDOW is given it first.
focus_window() {  # focus_window WINDOW
    xdotool windowfocus --sync "$1" 2>/dev/null
    sleep 0.3
}
press() {  # press WINDOW KEY...
    focus_window "$1"
    shift
    xdotool key --delay 80 "$@"
}

# A chat line: a click into the message field, the text typed, Enter.
say() {  # say NAME TEXT
    local main
    main=$(main_window "$1")
    xdotool windowfocus --sync "$main"
    xdotool mousemove --window "$main" 250 280 click 1
    sleep 0.3
    xdotool type --delay 20 "$2"
    xdotool key Return
    sleep 0.5
}

# A drop-down menu of NAME's program is open: a window of it that the window manager does not
# manage (override-redirect), as menus, and tooltips, are. (Qt marks a menu's window as a popup
# menu only the first time it opens.)
menu_open() {  # menu_open NAME
    local window
    for window in $(xdotool search --all --pid "${pid_of[$1]}" --onlyvisible --class '' \
        2>/dev/null); do
        [[ $(xwininfo -id "$window" 2>/dev/null) == *"Override Redirect State: yes"* ]] && return 0
    done
    return 1
}
menu_closed() { ! menu_open "$1"; }
# A menu of the window that has the keyboard opened by its Alt key and an item chosen by its
# key, each waited for: keys typed after it come after the item's work, however late the menu.
pick_menu_item() {  # pick_menu_item NAME MENU_KEY ITEM_KEY
    xdotool key "alt+$2"
    wait_for 10 menu_open "$1" || give_up "$1: the menu of Alt+$2 did not open"
    xdotool key "$3"
    wait_for 10 menu_closed "$1" || give_up "$1: the menu of Alt+$2 stayed open after $3"
}

# Message > Export messages to file...: the conversation as the window shows it, into FILE.
export_log() {  # export_log NAME FILE
    focus_window "$(main_window "$1")"
    pick_menu_item "$1" m e
    wait_for 10 window_named "$1" 'Export messages log' >/dev/null || return 1
    sleep 0.3
    xdotool type --delay 10 "$2"
    xdotool key Return
    wait_for 10 test -s "$2" || return 1
    # The file is written as the dialog closes, before its window is gone: keys meant for
    # another window wait until it has gone and the window manager has handed the keyboard back
    # to this program's window, or it may do so after them.
    wait_for 10 no_window_named "$1" 'Export messages log'
    wait_for 10 is_active_window "$(main_window "$1")"
}
is_active_window() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]; }  # WINDOW
log_has_said() {  # log_has_said FILE NAME TEXT: a chat line of NAME's that holds TEXT
    [ -f "$1" ] && grep -qF -- "$3" <(tr -d '\r' <"$1" | grep -F -- "$2>    ")
}
log_has_line() {  # log_has_line FILE LINE: the exported conversation holds that whole line
    [ -f "$1" ] && grep -qxF -- "$2\\par" <(tr -d '\r' <"$1" | sed -E 's/^(\\[a-z]+[0-9]* ?)+//')
}

# Prints NAME's error output, less the lines Qt writes on any virtual display.
show_errors() {  # show_errors NAME
    if [ -s "$work/$1.err" ]; then
        echo "--- $1's error output:"
        grep -v 'XDG_RUNTIME_DIR\|propagateSizeHints' "$work/$1.err" | head -20
    fi
}

# Stops the run after a failed step: what follows needs it.
stop_run() {
    local name
    echo "stopped: the remaining steps need that step"
    for name in "${!pid_of[@]}"; do show_errors "$name"; done
    exit 1
}
give_up() {  # give_up WHY: a failed step that is no check of its own
    echo "FAIL: $1"
    stop_run
}

# Clicks a point of a window, given in the window's own coordinates.
click() {  # click WINDOW X Y
    xdotool mousemove --window "$1" "$2" "$3" click 1
    sleep 0.4
}

# Waits for a dialog of NAME's program and sets $dialog to it; gives up without it.
await_dialog() {  # await_dialog NAME TITLE
    wait_for 10 window_named "$1" "^$2\$" >/dev/null || give_up "$1: no \"$2\" window opened"
    sleep 0.5
    dialog=$(window_named "$1" "^$2\$")
}

# --- A program's start as a user does it -----------------------------------------------------
question_gone() {  # question_gone NAME WINDOW: that message box of NAME's is no longer shown
    ! xdotool search --all --pid "${pid_of[$1]}" --onlyvisible --name '^Velmora$' 2>/dev/null |
        grep -qx "$2"
}
# Starts the program as the user NAME (settings, caches and runtime files of NAME's own), with
# the data folder HOME_FOLDER, and answers what it asks before its main window is usable: each
# question with Enter (its default answer), as a user who reads and agrees. Ends with the
# start-up window shown. Output and error output go to $work/NAME.out and NAME.err.
start_program() {  # start_program NAME HOME_FOLDER
    local questions=0 box
    new_user "$1"
    mkdir -p "$2"
    VELMORA_HOME=$2 "$velmora" >>"$work/$1.out" 2>>"$work/$1.err" &
    pid_of[$1]=$!
    pids+=($!)
    until [ -n "$(window_named "$1" '^Welcome to Velmora !$')" ]; do
        wait_for 20 has_other_windows "$1" || give_up "$1: the program showed nothing as it started"
        box=$(window_named "$1" '^Velmora$')
        if [ -n "$box" ] && [ "$questions" -lt 5 ]; then
            questions=$((questions + 1))
            sleep 0.5
            screenshot "$1-question-$questions"
            press "$box" Return
            wait_for 10 question_gone "$1" "$box"
        else
            sleep 0.5
            [ -n "$(window_named "$1" '^Welcome to Velmora !$')" ] ||
                give_up "$1: the start shows: $(other_windows "$1" | paste -sd ',')"
        fi
    done
    echo "seen: $1's start asked $questions question(s) before the start-up window"
    sleep 0.5
}
# The program's first start, by the new user NAME with the new empty data folder HOME_FOLDER.
first_start() {  # first_start NAME HOME_FOLDER
    start_program "$1" "$2"
    screenshot "$1-start-up-window"
    check "$1: the main window is there behind the start-up window" test -n "$(main_window "$1")"
    check "$1: the first start wrote options.ini into the data folder" test -s "$2/options.ini"
}
# The start-up window's Close button.
close_start_up_window() {  # close_start_up_window NAME
    click "$(window_named "$1" '^Welcome to Velmora !$')" 375 271
    wait_for 10 no_window_named "$1" '^Welcome to Velmora !$' ||
        give_up "$1: the start-up window did not close"
}

# The "Serial Connection" prompt: the port's path typed over what the field holds, Enter.
answer_serial_prompt() {  # answer_serial_prompt NAME PORT
    await_dialog "$1" "Serial Connection"
    screenshot "$1-serial-prompt"
    press "$dialog" ctrl+a
    xdotool type --delay 20 "$2"
    sleep 0.3
    screenshot "$1-serial-prompt-typed"
    xdotool key Return
    wait_for 10 no_window_named "$1" '^Serial Connection$'
    local closed=$?
    check "$1: the Serial Connection prompt took the typed port and closed" test $closed = 0
    if [ $closed != 0 ]; then
        screenshot "$1-serial-prompt-stuck"
        stop_run
    fi
}

# --- Steps in a main window that several tests take -------------------------------------------
# File > Options... (Up, Up: past Exit). On the General page, when RECONNECT is "turn", a click
# on "Get a lost line back and continue its transfers" turns reconnecting over; when NEW_NAME is
# given, Ctrl+Tab to the Appearance page, a click into the user name field and the name typed
# over what it holds; OK with Enter.
change_options() {  # change_options NAME RECONNECT(turn|keep) [NEW_NAME]
    press "$(main_window "$1")" alt+f
    sleep 0.3
    xdotool key Up Up Return
    await_dialog "$1" Options
    if [ "$2" = turn ]; then
        click "$dialog" 30 286
        screenshot "$1-options-general"
    fi
    if [ -n "${3:-}" ]; then
        xdotool key ctrl+Tab
        sleep 0.3
        click "$dialog" 273 257
        xdotool key ctrl+a
        xdotool type --delay 20 "$3"
        sleep 0.3
        screenshot "$1-options-appearance"
    fi
    xdotool key Return
    wait_for 10 no_window_named "$1" '^Options$' || give_up "$1: Options did not close"
}
option_is() {  # option_is NAME KEY VALUE: the options.ini of NAME's data folder holds KEY=VALUE
    grep -qxF "$2=$3" <(tr -d '\r' <"$work/$1/options.ini")
}

# File > New connection (Ctrl+N), a session still open closed first when the program asks (OK).
# Leaves the dialog open, in $dialog, the keyboard in its session name field.
open_connection_dialog() {  # open_connection_dialog NAME
    press "$(main_window "$1")" ctrl+n
    sleep 1
    if [ -n "$(window_named "$1" '^Velmora$')" ]; then
        press "$(window_named "$1" '^Velmora$')" Return
    fi
    await_dialog "$1" "New connection"
    xdotool windowfocus --sync "$dialog"
}
# The New connection dialog; a click on the connection method (0 Modem, 1 Null-modem
# (COM-to-COM), 2 Network (TCP/IP)), then on the mode (0 the host's, 1 the caller's), where the
# dialog lays them out. Leaves the dialog open, in $dialog.
choose_connection() {  # choose_connection NAME METHOD MODE
    open_connection_dialog "$1"
    click "$dialog" 30 $((158 + 26 * $2))
    click "$dialog" 249 $((158 + 26 * $3))
}

# File > Exit (Alt+F X); the question whether to save the connection, if asked, answered No.
exit_window() {  # exit_window NAME
    focus_window "$(main_window "$1")"
    pick_menu_item "$1" f x
    if wait_for 5 window_named "$1" '^Velmora$' >/dev/null; then
        screenshot "$1-exit-question"
        press "$(window_named "$1" '^Velmora$')" alt+n
    fi
    wait_for 10 bash -c "! kill -0 ${pid_of[$1]} 2>/dev/null"
}

# The text a window shows, read off its picture (tesseract; the picture enlarged three times, as
# the reader wants letters taller than a screen draws them). Qt's message boxes on Linux neither
# copy their text nor let it be selected, so this is what a user's eyes get.
read_window() {  # read_window WINDOW
    import -window "$1" -resize 300% "$work/read-window.png" &&
        tesseract "$work/read-window.png" - 2>/dev/null
}
message_text() {  # message_text NAME: the text of NAME's message box
    local box
    box=$(window_named "$1" '^Velmora$') || return 1
    read_window "$box"
}
window_shows() {  # window_shows NAME TEXT: NAME's main window shows TEXT
    local main
    main=$(main_window "$1") || return 1
    grep -qF -- "$2" <(read_window "$main")
}
