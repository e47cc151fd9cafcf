#!/usr/bin/env bash
# The launcher's tray on a desktop whose tray speaks D-Bus (StatusNotifierItem), as Xfce, KDE
# Plasma, LXQt and Cinnamon do: a private Xvfb with icewm as the window manager, a private session
# bus and xfce4-panel with one status tray. The panel asks an item to Activate on a click, and
# shows the menu an item publishes on a right click; other hosts ask the item for its ContextMenu.
# After "Minimize To tray", Activate brings the window back; ContextMenu opens the launcher's tray
# menu; a real right click on the item in the panel shows that menu too, and its "Exit And Stop
# Servers" ends the servers and the launcher.
#
# Usage: tray_dbus_test.sh PATH/TO/corvane-launcher
set -uo pipefail
tools="xfce4-panel dbus-daemon gdbus"
logs="panel icewm bus"
# shellcheck source=desktop_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/desktop_session.sh"

watcher=(--session --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher)
watcher_property() {
    gdbus call "${watcher[@]}" --method org.freedesktop.DBus.Properties.Get \
        org.kde.StatusNotifierWatcher "$1" 2>/dev/null
}

# A panel of one status tray, instead of the default panels and their many plugins.
mkdir -p "$work/xdg/xfce4/panel"
cat >"$work/xdg/xfce4/panel/default.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?><channel name="xfce4-panel" version="1.0">
<property name="configver" type="int" value="2"/>
<property name="panels" type="array"><value type="int" value="1"/>
  <property name="panel-1" type="empty">
    <property name="position" type="string" value="p=8;x=512;y=755"/>
    <property name="plugin-ids" type="array"><value type="int" value="1"/></property></property>
</property>
<property name="plugins" type="empty"><property name="plugin-1" type="string" value="systray"/>
</property></channel>
XML
export XDG_CONFIG_DIRS="$work/xdg:/etc/xdg"

start_xvfb
start_session_bus
start_icewm
xfce4-panel --disable-wm-check >"$work/panel.log" 2>&1 &
panel_pid=$!
owned_pids+=("$panel_pid")

# The panel's status tray is the watcher, and a host is registered with it.
host_ready() {
    process_ended "$panel_pid" && fail "xfce4-panel ended"
    [ "$(watcher_property IsStatusNotifierHostRegistered)" = "(<true>,)" ]
}
wait_until 40 "xfce4-panel's status tray on the session bus" host_ready
owner="$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.GetConnectionUnixProcessID org.kde.StatusNotifierWatcher)"
owner="$(grep -o '[0-9]\+' <<<"$owner" | tail -n 1)"
# The status tray runs in the panel or in a plugin process the panel started.
[ "$owner" = "$panel_pid" ] || [ "$(ps -o ppid= -p "$owner" | tr -d ' ')" = "$panel_pid" ] ||
    fail "the watcher is process $owner ($(ps -o args= -p "$owner")), not the panel $panel_pid"
step "xfce4-panel $panel_pid hosts status notifier items"

# The launcher's items registered with the panel's watcher, one "bus-name object-path" a line.
tray_items() {
    watcher_property RegisteredStatusNotifierItems |
        grep -o "'[^']*'" | tr -d "'" | sed 's|^\([^/]*\)\(/.*\)$|\1 \2|'
}
items_with_panel() { [ "$(tray_items | grep -c .)" -eq "$1" ]; }
call_item() {
    local item method="$1"
    shift
    read -r -a item <<<"$(tray_items)"
    gdbus call --session --dest "${item[0]}" --object-path "${item[1]}" \
        --method "org.kde.StatusNotifierItem.$method" "$@" >/dev/null ||
        fail "the item did not answer $method"
}

items_with_panel 0 || fail "an item is registered before the launcher started: $(tray_items)"
start_launcher_and_servers

# ---- minimise to the tray, activate brings the window back --------------------------------------

xdotool windowminimize "$main_window"
wait_until 10 "the window to be hidden" window_hidden "$main_window"
wait_until 10 "the launcher's item with the panel" items_with_panel 1
step "window hidden, item $(tray_items) with the panel"

call_item Activate 0 0
wait_until 10 "the window to come back on Activate" window_back "$main_window"
wait_until 10 "the item to leave the panel" items_with_panel 0
step "Activate restored the window and removed the item"

# ---- the context menu ---------------------------------------------------------------------------

xdotool mousemove --window "$main_window" 254 160
xdotool windowminimize "$main_window"
wait_until 10 "the window to be hidden again" window_hidden "$main_window"
wait_until 10 "the item to be back with the panel" items_with_panel 1
menu_is_open && fail "a menu is open before ContextMenu"
call_item ContextMenu 500 740
wait_until 5 "the tray menu to open on ContextMenu" menu_is_open
menu="$(open_menu)"
window_hidden "$main_window" || fail "ContextMenu brought the window back"
step "ContextMenu opened menu $menu"
xdotool key --window "$menu" Escape
wait_until 5 "the menu to close on Escape" eval '! menu_is_open'

# A real right click on the item: the panel shows the menu the item publishes, the launcher's.
read -r -a item <<<"$(tray_items)"
published="$(gdbus call --session --dest "${item[0]}" --object-path "${item[1]}" --method \
    org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem Menu)"
[[ "$published" != *NO_DBUSMENU* ]] || fail "the item publishes no menu: $published"
panel_window="$(xdotool search --onlyvisible --class xfce4-panel | tail -n 1)"
# The status tray's window, the panel's one child: "WxH+X+Y  +ABSX+ABSY".
read -r size absolute < <(xwininfo -tree -id "$panel_window" |
    awk '/children:/ { getline; print $(NF-1), $NF; exit }')
IFS='x+' read -r tray_w tray_h _ <<<"$size"
IFS='+' read -r _ tray_x tray_y <<<"$absolute"
xdotool mousemove $((tray_x + tray_w / 2)) $((tray_y + tray_h / 2)) click 3
panel_menu() {
    local id
    for id in $(xdotool search --onlyvisible --classname wrapper 2>/dev/null); do
        eval "$(xdotool getwindowgeometry --shell "$id")"
        ((HEIGHT > 40 && Y >= 0)) && echo "$id" && return
    done
    return 1
}
wait_until 5 "the panel to show the item's menu on a right click" eval "panel_menu >/dev/null"
step "right click on the item: the panel shows menu $(panel_menu)"

exit_through_menu "$(panel_menu)"
echo "PASS: tray on a real desktop with a D-Bus status tray"
