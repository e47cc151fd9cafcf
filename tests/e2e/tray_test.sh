#!/usr/bin/env bash
# The launcher's tray on a real desktop, of either kind. xembed: a private Xvfb with icewm, whose
# task bar has an X system tray, and no session bus. dbus: the same with a private session bus and
# xfce4-panel with one status tray, a StatusNotifierItem host as Xfce, KDE Plasma, LXQt and
# Cinnamon have; the test calls the item's Activate as the panel does on a click, and ContextMenu
# as other hosts do on a right click. After "Minimize To tray" the window is hidden and one icon
# shows; a double click on the X tray icon (a single one does nothing), or Activate, brings the
# window back; a right press, or ContextMenu, opens the tray menu, whose classic items come first
# and whose added "Show Window" brings the window back too; on the D-Bus tray the item's tooltip
# tells what the servers use and ends with each server's state, and a real right click on the item
# in the panel shows the menu too, as the item publishes it. The menu's "Exit And Stop
# Servers" ends the servers and the launcher and writes the settings.
#
# Usage: tray_test.sh xembed|dbus PATH/TO/corvane-launcher
set -uo pipefail
mode="${1:?usage: $0 xembed|dbus PATH/TO/corvane-launcher}" && shift
logs="icewm"
[ "$mode" = dbus ] && tools="xfce4-panel dbus-daemon gdbus" logs="panel icewm bus"
# shellcheck source=desktop_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/desktop_session.sh"

start_xvfb
if [ "$mode" = xembed ]; then
    start_icewm
    # The launcher's icons in icewm's tray, one window id a line.
    icons() { xwininfo -tree -id "$(tray_window)" 2>/dev/null | awk '/\("corvane-launcher" / { print $1 }'; }
    # A double click: a single one leaves the window where it is.
    restore() {
        xdotool mousemove --window "$(icons)" 12 12 click 1
        sleep 1
        window_hidden "$main_window" || fail "a single click on the X tray icon brought the window back"
        xdotool mousemove --window "$(icons)" 12 12 click --repeat 2 --delay 80 1
    }
    # An operator's hand takes a moment to reach a new icon. A press within some 300 ms of an icon
    # coming back to icewm's tray after a restore sometimes goes unanswered (seen about one run in
    # five when pressed at once; never with this pause in a hundred runs). The menu opens on the
    # press itself, while the button is still held.
    tray_menu() {
        sleep 0.5
        xdotool mousemove --window "$(icons)" 12 12 mousedown 3
        wait_until 5 "the tray menu to open on the right press" menu_is_open
        xdotool mouseup 3
    }
else
    # A panel of one status tray, instead of the default panels and their many plugins.
    mkdir -p "$work/xdg/xfce4/panel"
    cat >"$work/xdg/xfce4/panel/default.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?><channel name="xfce4-panel" version="1.0">
<property name="configver" type="int" value="2"/><property name="panels" type="array"><value type="int" value="1"/><property name="panel-1" type="empty"><property name="position" type="string" value="p=8;x=512;y=755"/><property name="plugin-ids" type="array"><value type="int" value="1"/></property></property></property>
<property name="plugins" type="empty"><property name="plugin-1" type="string" value="systray"/></property></channel>
XML
    export XDG_CONFIG_DIRS="$work/xdg:/etc/xdg"
    start_session_bus
    start_icewm
    xfce4-panel --disable-wm-check >"$work/panel.log" 2>&1 &
    panel_pid=$! && owned_pids+=("$panel_pid")
    watcher=(--session --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher)
    watcher_property() {
        gdbus call "${watcher[@]}" --method org.freedesktop.DBus.Properties.Get \
            org.kde.StatusNotifierWatcher "$1" 2>/dev/null
    }
    # The panel's status tray is the watcher, and a host is registered with it.
    host_ready() {
        process_ended "$panel_pid" && fail "xfce4-panel ended"
        [ "$(watcher_property IsStatusNotifierHostRegistered)" = "(<true>,)" ]
    }
    wait_until 40 "xfce4-panel's status tray on the session bus" host_ready
    # The launcher's items registered with the panel's watcher, one "bus-name object-path" a line.
    icons() { watcher_property RegisteredStatusNotifierItems | grep -o "'[^']*'" | tr -d "'" | sed 's|/| /|'; }
    # item METHOD ARGS...: calls a method of the launcher's item.
    item() {
        local it && read -r -a it <<<"$(icons)"
        gdbus call --session --dest "${it[0]}" --object-path "${it[1]}" --method "$@" || fail "the item did not answer $1"
    }
    restore() { item org.kde.StatusNotifierItem.Activate 0 0 >/dev/null; }
    tray_menu() {
        item org.kde.StatusNotifierItem.ContextMenu 500 740 >/dev/null
        wait_until 5 "the tray menu to open on ContextMenu" menu_is_open
    }
    # The menu the panel shows in a window of its own plugin process.
    panel_menu() {
        local id
        for id in $(xdotool search --onlyvisible --classname wrapper 2>/dev/null); do
            eval "$(xdotool getwindowgeometry --shell "$id")"
            ((HEIGHT > 40 && Y >= 0)) && echo "$id" && return
        done
        return 1
    }
    # A real right click on the item in the panel, which shows the menu the item publishes (an
    # item without one is sent ContextMenu instead, and the launcher's own menu is no panel window).
    right_click_item() {
        # The status tray's window is the panel's one child: "WxH+X+Y  +ABSX+ABSY".
        local size absolute tray_w tray_h tray_x tray_y
        read -r size absolute < <(xwininfo -tree -id "$(xdotool search --onlyvisible --class \
            xfce4-panel | tail -n 1)" | awk '/children:/ { getline; print $(NF-1), $NF; exit }')
        IFS='x+' read -r tray_w tray_h _ <<<"$size" && IFS='+' read -r _ tray_x tray_y <<<"$absolute"
        xdotool mousemove $((tray_x + tray_w / 2)) $((tray_y + tray_h / 2)) click 3
        wait_until 5 "the panel to show the item's menu on a right click" eval "panel_menu >/dev/null"
    }
fi
icons_shown() { [ "$(icons | grep -c .)" -eq "$1" ]; }
step "the $mode tray is up"
start_launcher_and_servers

xdotool windowminimize "$main_window"
wait_until 10 "the window to be hidden" window_hidden "$main_window"
wait_until 10 "one launcher icon in the tray" icons_shown 1
[ "$mode" = dbus ] || is_viewable "$(icons)" || fail "the tray icon $(icons) is not shown"
step "window hidden, icon $(icons) in the tray"
if [ "$mode" = dbus ]; then
    # The servers' processes show before the last one's settle time is over: the tip follows then.
    tip_tells_all() {
        tip="$(item org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem ToolTip)"
        # "Restart Crashed Server" is off here: the launcher cannot vouch that they run.
        for line in "All servers are online" "Server folder: " "Servers use CPU " \
            "Login Server: not watched" "Char Server: not watched" "Map Server: not watched"; do
            [[ "$tip" == *"$line"* ]] || return 1
        done
    }
    poll 5 tip_tells_all || fail "the item's tooltip does not tell each server running: $tip"
    step "the item's tooltip tells each server's state"
fi
restore
wait_until 10 "the window to come back" window_back "$main_window"
wait_until 10 "the icon to leave the tray" icons_shown 0
step "the window is back and the icon gone"

# Back to the window, as an operator's hand goes, before the next trip to the tray; the tray menu
# opens there, or fails the test.
to_tray_and_open_menu() {
    xdotool mousemove --window "$main_window" 254 160
    xdotool windowminimize "$main_window"
    wait_until 10 "the window to be hidden again" window_hidden "$main_window"
    wait_until 10 "the icon to be back in the tray" icons_shown 1
    menu_is_open && fail "a menu is open before the tray was asked for it"
    tray_menu
    menu="$(open_menu)" || fail "the tray menu closed at once"
    window_hidden "$main_window" || fail "opening the tray menu brought the window back"
    step "the tray opened menu $menu"
}
to_tray_and_open_menu
# The classic items come first: Start Servers (not while online), Stop Servers, Exit And Stop
# Servers, then the added ones from Show Window on. Chosen by key, from no item: the pointer goes
# out of the menu first, so that no item under it is the active one.
choose_item() { # the how-manieth enabled item
    xdotool mousemove 1 1
    sleep 0.3
    for _ in $(seq "$1"); do
        xdotool key Down
        sleep 0.1
    done
    xdotool key Return
}
choose_item 3 # Show Window
wait_until 10 "Show Window to bring the window back" window_back "$main_window"
wait_until 10 "the icon to leave the tray after Show Window" icons_shown 0
step "Show Window brought the window back"
to_tray_and_open_menu
if [ "$mode" = dbus ]; then
    xdotool key Escape
    wait_until 5 "the menu to close on Escape" eval '! menu_is_open'
    right_click_item
    menu="$(panel_menu)"
    step "a right click on the item in the panel showed menu $menu"
fi
choose_item 2 # Exit And Stop Servers
ended_like_closing
echo "PASS: the tray on a real desktop with the $mode tray"
