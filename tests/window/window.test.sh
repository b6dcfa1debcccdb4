#!/usr/bin/env bash
# The native window under a virtual X server: its title, the page loaded from the program's own
# server, a screenshot that shows something, the web view's size and minimum size (the window is
# taller by its menu bar), the menu bar's items, a page menu opened at the bottom edge, a
# second copy starting beside the first, closing (the close request, Control+Q) ending the
# program with status 0 (after the page's question while it holds unsaved edits), the page's
# security policy applied by the web view, and links in a document kept out of the window.
set -uo pipefail

bin=${WRENFIELD_BIN:?WRENFIELD_BIN names the program}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
pids=()

sshd_dir="$work/sshd"
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    [[ -f $sshd_dir/env ]] && bash "$here/../support/sshd.sh" stop "$sshd_dir" >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
pass() { echo "ok: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
expect() {  # expect DESCRIPTION COMMAND...
    local description=$1
    shift
    if "$@"; then pass "$description"; else fail "$description"; fi
}

# Runs COMMAND... every 100 ms until it succeeds or SECONDS run out.
wait_until() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}

# A display of our own, on whatever number is free.
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.err" &
pids+=($!)
wait_until 30 test -s "$work/display" || { echo "Xvfb did not start: $(cat "$work/xvfb.err")"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
# The server answers a client before the program is started on it.
wait_until 30 xdpyinfo >/dev/null 2>&1 ||
    { echo "the display $DISPLAY does not answer: $(cat "$work/xvfb.err")"; exit 1; }
# Keep the web view's caches and downloads out of the real home directory.
export HOME="$work/home"
mkdir -p "$HOME"

# start NAME ARGS...: runs the program in the background; its pid goes into the variable NAME.
start() {
    local name=$1
    shift
    WRENFIELD_PRINT_MENU=1 "$bin" "$@" >"$work/$name.out" 2>"$work/$name.err" &
    pids+=($!)
    printf -v "$name" '%s' "$!"
}

started_port() {  # the port from the start-up line of program NAME
    sed -n 's|^Wrenfield started at: http://127\.0\.0\.1:\([0-9]*\)$|\1|p' "$work/$1.out"
}

window_of() {  # the visible window titled Wrenfield of process PID
    xdotool search --all --onlyvisible --pid "$1" --name '^Wrenfield$' 2>/dev/null | head -n1
}

size_of() {  # "WIDTHxHEIGHT" of the window's content area
    xwininfo -id "$1" | awk '/^ *Width:/ {w = $2} /^ *Height:/ {h = $2} END {print w "x" h}'
}

has_size() { [[ $(size_of "$1") == "$2" ]]; }
has_start_line() { [[ -n $(started_port "$1") ]]; }
has_window() { [[ -n $(window_of "$1") ]]; }

# wait_exit PID SECONDS: waits for the process to end and sets `status` to its exit status, or
# to "running". (Not in a subshell: only this shell can collect its children.)
wait_exit() {
    status=running
    wait_until "$2" bash -c "! kill -0 $1 2>/dev/null" || return 0
    wait "$1"
    status=$?
}

# alike A.xwd B.xwd [FROM_ROW FROM_COLUMN]: the two screenshots are the same, or show no clear
# difference below FROM_ROW and right of FROM_COLUMN. Connected, the status dot in the toolbar
# pulses for ever: a part of the window that leaves it out can come to rest.
alike() {
    if (($# > 2)); then
        [[ $(python3 "$here/x11.py" changed "$1" "$2" "$3" "$4") == none ]]
    else
        cmp -s "$1" "$2"
    fi
}

# settle WINDOW SECONDS FILE [FROM_ROW FROM_COLUMN]: waits until two screenshots of WINDOW a
# second apart are alike (in that part), for at most SECONDS (a blinking caret never settles),
# and leaves the last one in FILE.
settle() {
    local deadline=$((SECONDS + $2))
    xwd -silent -id "$1" -out "$3" 2>/dev/null
    while ((SECONDS < deadline)); do
        sleep 1
        xwd -silent -id "$1" -out "$work/settle.xwd" 2>/dev/null
        alike "$work/settle.xwd" "$3" "${@:4}" && return 0
        mv "$work/settle.xwd" "$3"
    done
    return 1
}

# screen_differs WINDOW FILE [FROM_ROW FROM_COLUMN]: WINDOW (that part of it) no longer looks as
# the screenshot FILE.
screen_differs() {
    xwd -silent -id "$1" -out "$work/now.xwd" 2>/dev/null && ! alike "$work/now.xwd" "$2" "${@:3}"
}

server_has_client() {  # a connection from somebody to the program's port is established
    [[ -n $(ss -Htn state established "( dport = :$1 )") ]]
}

start first --port 0
wait_until 60 has_start_line first || { echo "no start-up line: $(cat "$work/first.out" "$work/first.err")"; exit 1; }
port=$(started_port first)

wait_until 60 has_window "$first"
window=$(window_of "$first")
if [[ -z $window ]]; then
    fail "the window appears"
    cat "$work/first.err"
    kill -0 "${pids[0]}" 2>/dev/null || echo "Xvfb on $DISPLAY has ended: $(cat "$work/xvfb.err")"
    echo "$passed passed, $failed failed"
    exit 1
fi
pass "the window appears"

expect "the window is titled Wrenfield" \
    grep -qx '_NET_WM_NAME(UTF8_STRING) = "Wrenfield"' <(xprop -id "$window" _NET_WM_NAME)

expect "the web view connects to the program's server" wait_until 60 server_has_client "$port"

# Wait for the page to paint: more than a plain background below the menu bar, and where the
# page starts: at load it shows the connect dialog over a dark backdrop, which sets it apart
# from the light menu bar.
colours=0
bar=0
# shows_page WINDOW FILE: a screenshot of WINDOW, left in FILE, shows more than a plain
# background below the menu bar (the count goes into `colours`).
shows_page() {
    xwd -silent -id "$1" -out "$2" 2>/dev/null || return 1
    colours=$(python3 "$here/x11.py" colours "$2" 40) || return 1
    ((colours > 8))
}
page_painted() {
    shows_page "$window" "$work/window.xwd" || return 1
    bar=$(python3 "$here/x11.py" page-top "$work/window.xwd") || return 1
    ((bar < 80))
}
wait_until 60 page_painted
expect "a screenshot of the page is not blank ($colours colours)" test "$colours" -gt 8

# The screenshot reader takes any layout an X server gives: the same picture with 24 and with
# 32 bits per pixel, in either byte order, reads the same.
same_picture() {  # same_picture BITS ORDER
    python3 "$here/x11.py" repack "$work/window.xwd" "$work/repacked.xwd" "$1" "$2" &&
        [[ $(python3 "$here/x11.py" colours "$work/repacked.xwd" 40) == "$colours" ]] &&
        [[ $(python3 "$here/x11.py" page-top "$work/repacked.xwd") == "$bar" ]] &&
        [[ $(python3 "$here/x11.py" changed "$work/window.xwd" "$work/repacked.xwd" 0 0) == none ]]
}
expect "the screenshot reader reads 24 bits per pixel alike" same_picture 24 lsb
expect "the screenshot reader reads 32 bits per pixel, high byte first, alike" same_picture 32 msb

# The web view is 1150 by 750 and at least 850 by 520; the window is taller by the menu bar.
expect "a menu bar sits above the page (${bar} px)" test "$bar" -gt 0 -a "$bar" -lt 80
expect "the web view is 1150 by 750 (window $(size_of "$window"))" has_size "$window" "1150x$((750 + bar))"
expect "the window states the web view's minimum size" \
    grep -q "program specified minimum size: 850 by $((520 + bar))\$" <(xprop -id "$window" WM_NORMAL_HINTS)

# Without a window manager nothing else enforces the minimum: the toolkit must refuse it.
xdotool windowsize "$window" 400 300
expect "the web view cannot be made smaller than 850 by 520" wait_until 10 has_size "$window" "850x$((520 + bar))"
xdotool windowsize "$window" 1000 600
expect "it can be made larger than the minimum" wait_until 10 has_size "$window" 1000x600
xdotool windowsize "$window" 1150 $((750 + bar))
wait_until 10 has_size "$window" "1150x$((750 + bar))"

cat >"$work/menu.expected" <<'MENU'
menu "Wrenfield"
  "About Wrenfield"
  "Check for Updates…" disabled
  ---
  "Hide Wrenfield" <Primary>h
  "Hide Others" <Primary><Alt>h
  "Show All"
  ---
  "Quit Wrenfield" <Primary>q
menu "Edit"
  "Undo" <Primary>z
  "Redo" <Primary><Shift>z
  ---
  "Cut" <Primary>x
  "Copy" <Primary>c
  "Paste" <Primary>v
  "Select All" <Primary>a
menu "Window"
  "Minimize" <Primary>m
  "Zoom"
  ---
  "Bring All to Front"
MENU
grep -E '^(menu |  )' "$work/first.err" >"$work/menu.actual"
if diff -u "$work/menu.expected" "$work/menu.actual"; then pass "the menu bar holds its items"; else fail "the menu bar holds its items"; fi

# A second copy starts normally beside the first and quits with Control+Q.
start second --port 0
wait_until 60 has_window "$second"
second_window=$(window_of "$second")
expect "a second copy opens its own window" test -n "$second_window"
if [[ -n $second_window ]]; then
    wait_until 30 server_has_client "$(started_port second)"
    # Typed on the keyboard (XTEST) into the focused window, as a person would.
    xdotool windowfocus --sync "$second_window" key ctrl+q 2>/dev/null
    wait_exit "$second" 15
    expect "Control+Q ends the program with status 0 ($status)" test "$status" = 0
fi
expect "the first copy is still running" kill -0 "$first"

# The close request, as a window manager's close button sends it.
python3 "$here/x11.py" close "$window"
wait_exit "$first" 15
expect "closing the window ends the program with status 0 ($status)" test "$status" = 0

# A page that cannot answer (its web process stopped) does not keep the program open: the close
# goes ahead once the few seconds the window waits for the page's answer have passed.
start hung --port 0
wait_until 60 has_window "$hung"
web_process_of() { ps -o pid= -o comm= --ppid "$1" | awk '$2 ~ /^WebKitWebProc/ {print $1; exit}'; }
has_web_process() { [[ -n $(web_process_of "$1") ]]; }
wait_until 30 server_has_client "$(started_port hung)"
wait_until 60 has_web_process "$hung"
web_process=$(web_process_of "$hung")
if [[ -n $web_process ]]; then
    pids+=("$web_process")
    kill -STOP "$web_process"
    python3 "$here/x11.py" close "$(window_of "$hung")"
    wait_exit "$hung" 30
    kill -CONT "$web_process" 2>/dev/null
    expect "closing with the page stopped still ends the program with status 0 ($status)" \
        test "$status" = 0
else
    fail "the window's web process is found"
fi

# Closing while connected ends the program at once and leaves the master connection running,
# with its control socket, for its ControlPersist time.
if bash "$here/../support/sshd.sh" start "$sshd_dir" >"$work/sshd.out" 2>&1; then
    # shellcheck disable=SC1091
    source "$sshd_dir/env"
    # A fake xdg-open, first on PATH, records the addresses handed to the system's browser.
    mkdir -p "$work/fake-bin"
    printf '#!/bin/sh\nprintf "%%s\\n" "$1" >>"%s"\n' "$work/opened.log" >"$work/fake-bin/xdg-open"
    chmod +x "$work/fake-bin/xdg-open"
    HOME=$WRENFIELD_TEST_HOME PATH=$work/fake-bin:$WRENFIELD_TEST_PATH \
        "$bin" --port 0 --host "$WRENFIELD_TEST_HOST" >"$work/connected.out" 2>"$work/connected.err" &
    connected=$!
    pids+=("$connected")
    wait_until 60 has_window "$connected"
    status_reply=$(python3 -c 'import sys, urllib.request
print(urllib.request.urlopen("http://127.0.0.1:%s/api/status" % sys.argv[1], timeout=30).read().decode())' \
        "$(started_port connected)" 2>&1)
    expect "the program auto-connected ($status_reply)" grep -q '"connected":true' <<<"$status_reply"

    # A right-click just above the status bar opens a menu that lies wholly in the window: it
    # opens upwards, so its bottom edge is at the pointer (its shadow a few rows past it), not
    # cut off by the window's edge.
    connected_window=$(window_of "$connected")
    view_bottom=$(size_of "$connected_window" | cut -dx -f2)
    pointer_y=$((view_bottom - 34))
    # The picture to compare with is taken once the page is drawn and at rest with the pointer
    # in place (the connected toast gone, any hover drawn), so that only the menu tells the two
    # apart. A blank web view is at rest too: the page must have been drawn first.
    expect "the connected page is drawn" \
        wait_until 60 shows_page "$connected_window" "$work/before-menu.xwd"
    xdotool mousemove --window "$connected_window" 600 "$pointer_y"
    expect "the page comes to rest before the right-click" \
        settle "$connected_window" 60 "$work/before-menu.xwd" 100 300
    # A busy page may take a moment to show the menu: it is waited for, and the click is
    # repeated should a busy page have lost it. Once it shows, it is measured when it has
    # finished opening.
    menu_box=none
    menu_shown() {
        xwd -silent -id "$connected_window" -out "$work/after-menu.xwd" 2>/dev/null || return 1
        menu_box=$(python3 "$here/x11.py" changed "$work/before-menu.xwd" "$work/after-menu.xwd" 100 300) ||
            { menu_box=none; return 1; }
        [[ $menu_box != none ]]
    }
    for _ in 1 2 3 4 5; do
        xdotool click 3
        wait_until 10 menu_shown && break
    done
    # Measured against the page with the menu closed again (Escape), so that a page that was
    # still drawing before the click does not count as part of the menu.
    if [[ $menu_box != none ]]; then
        settle "$connected_window" 10 "$work/after-menu.xwd" 100 300
        xdotool key Escape
        wait_until 10 screen_differs "$connected_window" "$work/after-menu.xwd" 100 300
        settle "$connected_window" 10 "$work/menu-closed.xwd" 100 300
        menu_box=$(python3 "$here/x11.py" changed "$work/menu-closed.xwd" "$work/after-menu.xwd" 100 300)
    fi
    read -r menu_top menu_bottom _ _ shot_height _ <<<"$menu_box 0 0 0 0 0"
    [[ $menu_top =~ ^[0-9]+$ ]] || menu_top=0 menu_bottom=0 shot_height=0
    expect "a right-click near the bottom opens a menu (rows ${menu_top}-${menu_bottom})" \
        test "${menu_bottom:-0}" -gt "$((${menu_top:-0} + 60))"
    expect "the menu ends at the pointer, inside the window (bottom ${menu_bottom}, pointer ${pointer_y}, window ${shot_height})" \
        test "${menu_bottom:-0}" -le "$((pointer_y + 8))" -a "${menu_bottom:-0}" -lt "$((${shot_height:-0} - 1))"
    xdotool key Escape

    # The page's security policy holds in the web view. A document opened in the viewer names
    # an https: image on one listening port, which the policy allows (the web view connects
    # there, if only to fail the TLS handshake), and /api/status over http: on another, which it
    # refuses (the viewer's own filter lets that one pass: it is not the program's port).
    python3 "$here/x11.py" listen "$work/allowed" &
    pids+=($!)
    python3 "$here/x11.py" listen "$work/refused" &
    pids+=($!)
    wait_until 10 test -s "$work/allowed.port" -a -s "$work/refused.port"
    mkdir -p "$work/documents"
    printf '# Policy probe\n\n<img src="https://127.0.0.1:%s/allowed.png">\n\n<img src="http://127.0.0.1:%s/api/status">\n' \
        "$(cat "$work/allowed.port")" "$(cat "$work/refused.port")" >"$work/documents/probe.md"
    connected_window=$(window_of "$connected")
    # open_document FOLDER COMMAND...: opens the one file in FOLDER in the viewer, until COMMAND
    # succeeds. To the folder by the direct path input (Control+L); once its listing is drawn
    # (the screen changed, then settled), a double click on its one row, 100 px below the top of
    # the page. A busy machine may draw late: the click is repeated (one that lands in the open
    # viewer does nothing), and the whole way is taken again from the start should all of that
    # fail.
    open_document() {
        local folder=$1
        shift
        local attempt
        for attempt in 1 2 3; do
            xdotool windowfocus --sync "$connected_window" key Escape 2>/dev/null
            settle "$connected_window" 20 "$work/before-open.xwd" 0 300
            # The path input opens in the toolbar (right of the pulsing status dot) before the
            # folder is typed into it; then the listing below the toolbar changes and comes to
            # rest.
            xdotool key ctrl+l
            wait_until 10 screen_differs "$connected_window" "$work/before-open.xwd" 0 300
            xdotool type --delay 20 "$folder"
            xdotool key Return
            wait_until 30 screen_differs "$connected_window" "$work/before-open.xwd" 100 300
            settle "$connected_window" 20 "$work/listing.xwd" 100 300
            for _ in 1 2 3 4; do
                xdotool mousemove --window "$connected_window" 500 $((bar + 100)) click --repeat 2 --delay 80 1
                wait_until 15 "$@" && return 0
            done
        done
        return 1
    }
    open_document "$work/documents" test -s "$work/allowed.log"
    expect "a document in the viewer loads an https: image" test -s "$work/allowed.log"
    # The page asks for both images as it draws the document: a refused request that was going
    # to be made would have been made by now; a moment more is left for it to arrive.
    sleep 1
    expect "the page's policy refuses its http: request for /api/status" test ! -s "$work/refused.log"

    # No link in a document takes the window away from the page. An SVG link, an image map's
    # area and a Markdown link, each a block of its own colour, lead to a listening port: a click
    # on each hands its address to the system's browser, and the web view never goes there.
    # Neither does WebKit's own "Open Link" or "Open Link in New Window" on a link, which no
    # script of the page sees.
    python3 "$here/x11.py" listen "$work/links" &
    pids+=($!)
    wait_until 10 test -s "$work/links.port"
    links="http://127.0.0.1:$(cat "$work/links.port")"
    mkdir -p "$work/links"
    # The map's picture is a 1 by 1 PNG coloured #00cc33, drawn as a block.
    green=iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGNgOGMMAAHPAQB9pBXTAAAAAElFTkSuQmCC
    cat >"$work/links/links.md" <<LINKS
# Links

<svg width="240" height="50"><a href="$links/svg"><rect width="240" height="50" fill="#cc0033"/></a></svg>

<img alt="map" width="240" height="50" usemap="#user-content-places" src="data:image/png;base64,$green">

<map name="places"><area shape="rect" coords="0,0,240,50" href="$links/area" alt="area"></map>

[<span style="display:inline-block;width:240px;height:50px;background:#3355cc"></span>]($links/plain)
LINKS
    # locate COLOUR: sets `at` to "X Y", where a screenshot of the window shows COLOUR.
    locate() {
        xwd -silent -id "$connected_window" -out "$work/locate.xwd" 2>/dev/null &&
            at=$(python3 "$here/x11.py" find "$work/locate.xwd" "$1") && [[ $at != none ]]
    }
    opened_count() { if [[ -f $work/opened.log ]]; then wc -l <"$work/opened.log"; else echo 0; fi; }
    has_opened() { (($(opened_count) >= $1)); }
    popups() { xdotool search --all --onlyvisible --pid "$connected" 2>/dev/null | wc -l; }
    more_popups_than() { (($(popups) > $1)); }
    # click_link COLOUR [CHOICE]: clicks the block of COLOUR, or picks entry CHOICE (1, 2, ...) of
    # the menu that a right-click on it opens; then waits for one more address handed on.
    click_link() {
        local before
        before=$(opened_count)
        locate "$1" || return 1
        read -r x y <<<"$at"
        if (($# == 1)); then
            xdotool mousemove --window "$connected_window" "$x" "$y" click 1
        else
            local shown
            shown=$(popups)
            xdotool mousemove --window "$connected_window" "$x" "$y" click 3
            wait_until 10 more_popups_than "$shown" || return 1
            for _ in $(seq "$2"); do xdotool key Down; done
            xdotool key Return
        fi
        wait_until 15 has_opened $((before + 1))
    }
    open_document "$work/links" locate cc0033
    expect "an SVG link opens in the system's browser" click_link cc0033
    expect "an image map's area opens in the system's browser" click_link 00cc33
    expect "a Markdown link opens in the system's browser" click_link 3355cc
    expect "the web view's own Open Link opens there too" click_link 3355cc 1
    expect "and its Open Link in New Window" click_link cc0033 2
    expect "the system's browser was handed each address once" \
        diff <(printf '%s\n' "$links/svg" "$links/area" "$links/plain" "$links/plain" "$links/svg") \
        "$work/opened.log"
    expect "the web view never requested a linked address" test ! -s "$work/links.log"
    # The page is still the program's, showing the document, and still answers the keyboard:
    # Escape closes the viewer.
    expect "the document is still shown after the clicks" locate 3355cc
    xdotool key Escape
    expect "the page still closes its viewer on Escape" wait_until 30 eval '! locate 3355cc'

    python3 "$here/x11.py" close "$(window_of "$connected")"
    wait_exit "$connected" 15
    expect "closing the connected window ends the program with status 0 ($status)" test "$status" = 0

    # The master names its control socket in its process title: "ssh: /tmp/wrenfield-….sock [mux]".
    master=$(ss -Htnp state established "( dport = :$WRENFIELD_SSHD_PORT )" |
        sed -n 's/.*"ssh",pid=\([0-9]*\).*/\1/p' | head -n1)
    socket=$([[ -n $master ]] && tr '\0' ' ' <"/proc/$master/cmdline" | sed -n 's/^ssh: \([^ ]*\.sock\) .*/\1/p')
    expect "the master connection outlives the program" test -n "$master"
    expect "its control socket stays in place (${socket:-none})" test -S "${socket:-/nonexistent}"

    # Closing never drops typed text. With unsaved edits in the viewer, Control+Q and the close
    # request each bring up the page's own question (its red Discard button shows), and the
    # program keeps running, also past the few seconds the window waits for a page that does not
    # answer; Keep Editing (Escape) keeps it so, and Discard ends it with status 0.
    HOME=$WRENFIELD_TEST_HOME PATH=$work/fake-bin:$WRENFIELD_TEST_PATH \
        "$bin" --port 0 --host "$WRENFIELD_TEST_HOST" >"$work/editing.out" 2>"$work/editing.err" &
    connected=$!
    pids+=("$connected")
    wait_until 60 has_window "$connected"
    connected_window=$(window_of "$connected")
    mkdir -p "$work/notes"
    printf '# Notes\n\n<div style="height:60px;background:#cc0033"></div>\n' >"$work/notes/notes.md"
    asks() { locate eb3e3e; }
    open_document "$work/notes" locate cc0033
    # Into Edit: a click on the document, then Shift+Tab back over the sheet's buttons (close,
    # full screen, Download, Copy) to the Edit tab. The editor then shows the text, not the block.
    if locate cc0033; then
        read -r x y <<<"$at"
        xdotool mousemove --window "$connected_window" "$x" "$y" click 1
        xdotool key shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab Return
    fi
    wait_until 30 eval '! locate cc0033'
    # Letters only: keys the page has yet to take when the question shows reach its focused
    # Keep Editing button, which a space or Return would press.
    xdotool type --delay 20 "typedneversaved"
    xdotool key ctrl+q
    expect "with unsaved edits, Control+Q shows the page's question" wait_until 15 asks
    # Longer than the program waits for the page's answer (5 s): the question must hold it open.
    sleep 6
    expect "and the program keeps running" kill -0 "$connected"
    xdotool key Escape
    expect "Keep Editing takes the question away" wait_until 30 eval '! asks'
    python3 "$here/x11.py" close "$connected_window"
    expect "the close request shows the question too" wait_until 15 asks
    sleep 6
    expect "and the program keeps running" kill -0 "$connected"
    # From Keep Editing, which has the focus, to Discard.
    xdotool key Tab Return
    wait_exit "$connected" 15
    expect "Discard ends the program with status 0 ($status)" test "$status" = 0
else
    fail "the local sshd starts: $(cat "$work/sshd.out")"
fi

echo "$passed passed, $failed failed"
((failed == 0))
