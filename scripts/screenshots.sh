#!/usr/bin/env bash
# Regenerates docs/screenshots/*.png: builds the demonstration home (scripts/demo-home.sh), serves
# an update feed announcing a newer version on 127.0.0.1, and has the program draw each screen at
# its minimum size. Usage: scripts/screenshots.sh [BUILD_DIR] [DEMO_DIR]. Without a display the
# program renders off-screen; with DISPLAY set (Xvfb and a window manager) it draws a real window.
set -euo pipefail

build=${1:-build}
demo=${2:-/tmp/sorvi-demo-home}
here=$(cd "$(dirname "$0")/.." && pwd)
program="$build/src/app/sorviclean"
[ -x "$program" ] || { echo "no $program: build the sorviclean target first" >&2; exit 2; }

extra=$(bash "$here/scripts/demo-home.sh" "$demo" | grep -o 'FLATPAK_[A-Z_]*=[^ ]*' || true)

feed=$(mktemp -d)
cat >"$feed/feed.json" <<'JSON'
{"apps":[{"id":"sorviclean","versions":[{"version":"1.1.0","build":1000,
 "notes":["Dọn bộ nhớ đệm Flatpak","Thanh tiến độ khi xoá nhiều tệp","Dùng trọn bàn phím"]}]}]}
JSON
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$feed" >/dev/null 2>&1 &
server=$!
trap 'kill "$server"; rm -rf "$feed"' EXIT
for _ in $(seq 50); do
    curl -sf "http://127.0.0.1:$port/feed.json" >/dev/null && break
    sleep 0.1
done

mkdir -p "$here/docs/screenshots"
for page in overview caches dev trash large uninstaller monitor; do
    # shellcheck disable=SC2086 # $extra holds whole NAME=VALUE words
    env -u XDG_DATA_HOME -u XDG_CACHE_HOME -u XDG_CONFIG_HOME -u XDG_STATE_HOME \
        HOME="$demo" LANG=vi_VN.UTF-8 SORVI_UPDATE_FEED_URL="http://127.0.0.1:$port/feed.json" \
        $extra timeout 120 "$program" --screenshot "$here/docs/screenshots/$page.png" --page "$page"
    echo "docs/screenshots/$page.png $(stat -c %s "$here/docs/screenshots/$page.png") bytes"
done
