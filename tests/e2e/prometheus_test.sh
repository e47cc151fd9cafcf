#!/usr/bin/env bash
# "Report Server Status" on a real desktop, scraped by a real Prometheus: the box is checked with a
# click on the launcher's window, Prometheus scrapes the launcher every second, the map server is
# killed, and Prometheus's HTTP API shows the launcher scraped, the map server's crash counter one
# higher and the map server running again. The map server holds 200 MB, which /metrics shows
# within two samples of what the servers use.
#
# Usage: prometheus_test.sh PATH/TO/corvane-launcher
set -uo pipefail
tools="prometheus curl" logs="prometheus icewm"
# shellcheck source=desktop_session.sh
source "$(dirname "${BASH_SOURCE[0]}")/desktop_session.sh"

# A port nothing listens on, in a range no daemon of this machine uses by default.
free_port() {
    local port
    for _ in {1..50}; do
        port=$((21000 + RANDOM % 9000))
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
    done
    fail "no free port found"
}
status_port="$(free_port)" prometheus_port="$(free_port)"
# The box is one of the Advanced Features, which an operator turns on first.
printf '[Settings]\nAutoRestart=1\nMinimizeToTray=0\nUpdateServerMessage=1\nStatus%%20Port=%s\n%s\n' \
    "$status_port" 'Advanced%20Features=1' >"$settings"

# query PROMQL: the value of the query's first sample, or nothing.
query() {
    curl -sf --max-time 2 --get --data-urlencode "query=$1" \
        "http://127.0.0.1:$prometheus_port/api/v1/query" | grep -o '"value":\[[^]]*\]' |
        head -n 1 | sed 's/.*,"\(.*\)"\]$/\1/'
}
is() { [ "$(query "$1")" = "$2" ]; }
resident_mb() { curl -sf --max-time 2 "http://127.0.0.1:$status_port/metrics" | awk -v s="$1" '$1 == "corvane_server_resident_memory_bytes{server=\"" s "\"}" { print int($2 / 1048576) }'; }
map_holds_200mb() { local mb; mb="$(resident_mb map)"; [ -n "$mb" ] && ((mb >= 200)); }
map_pid() { curl -sf --max-time 2 "http://127.0.0.1:$status_port/metrics" | awk '/^corvane_server_pid\{server="map"\}/ { print $2 }'; }

start_xvfb
start_icewm
export CORVANE_STANDIN_KNOBS_FOR=map-server CORVANE_STANDIN_HOLD_MB=200
start_launcher_and_servers
# "Report Server Status to CorvaneStatServer", on the options tab the launcher starts on.
xdotool mousemove --window "$main_window" 60 119 click 1
wait_until 10 "the launcher to serve /status" curl -sf --max-time 2 -o /dev/null "http://127.0.0.1:$status_port/status"
step "the box serves http://127.0.0.1:$status_port/"
wait_until 5 "the map server's 200 MB in /metrics" map_holds_200mb
login_mb="$(resident_mb login)"
[ -n "$login_mb" ] && ((login_mb > 0 && login_mb < 100)) || fail "login server resident: '$login_mb' MB"
step "the map server's $(resident_mb map) MB and the login server's $login_mb MB in /metrics"

cat >"$work/prometheus.yml" <<YML
global: { scrape_interval: 1s, evaluation_interval: 1s }
scrape_configs:
  - job_name: corvane
    static_configs: [ { targets: ["127.0.0.1:$status_port"] } ]
YML
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/prometheus-data" \
    --web.listen-address="127.0.0.1:$prometheus_port" >"$work/prometheus.log" 2>&1 &
owned_pids+=($!)
wait_until 30 "Prometheus to scrape the launcher" is 'up{job="corvane"}' 1
wait_until 10 "a scrape with the map server running" is 'corvane_server_up{server="map"}' 1
is 'corvane_server_crashes_total{server="map"}' 0 || fail "the map server had crashed before the kill"
step "Prometheus scrapes the launcher"

killed="$(map_pid)"
[ -n "$killed" ] && ((killed > 0)) && kill -KILL "$killed" || fail "no map server to kill: '$killed'"
wait_until 20 "Prometheus to see the map server's crash" is 'corvane_server_crashes_total{server="map"}' 1
wait_until 20 "Prometheus to see the map server running again" \
    is "corvane_server_up{server=\"map\"} and corvane_server_pid{server=\"map\"} != $killed" 1
is 'sum(corvane_server_crashes_total{server!="map"})' 0 ||
    fail "another server was counted as crashed"
step "the crash of map server $killed seen by Prometheus, and its relaunch"

# SIGTERM ends the launcher as closing its window does; the box is kept.
three_servers_running || fail "the servers are not all running"
kill -TERM "$launcher_pid"
closing_settings="Report%20Server%20Status=1" ended_like_closing
