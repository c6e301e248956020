#!/usr/bin/env bash
# Takes the README's pictures of the client under a virtual X server, each in a home of its own:
# a first start (the new-account wizard over the empty window) and an account with a few contacts.
# Usage: tools/screenshots.sh [build-dir]      (default: $PELICARD_BUILD_DIR or build)
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh xvfb xauth imagemagick x11-utils
build=${1:-${PELICARD_BUILD_DIR:-build}}
if [ ! -x "$build/client/pelicard" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build "$build" --target pelicard
fi
client=$(realpath "$build/client/pelicard")
out=docs/screenshots
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

width=960
height=640

# Runs the client in the given home on a fresh X server and saves the screen's top-left corner,
# where the window stands (there is no window manager to move it).
shoot() {
    local home=$1 png=$2
    HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR=$home \
        xvfb-run -a -s "-screen 0 ${width}x${height}x24 -br" bash -c '
            "$1" -geometry "$2+0+0" &
            pid=$!
            for _ in $(seq 50); do
                xwininfo -root -tree 2>/dev/null | grep -q "\"澄岚联系人管理器\"" && break
                sleep 0.2
            done
            sleep 1 # let the first paint land
            import -window root -crop "$2+0+0" +repage "$3"
            kill "$pid"
            wait "$pid" 2>/dev/null || true
        ' _ "$client" "${width}x${height}" "$png"
}

# First start: an empty store.
mkdir -p "$work/first"
shoot "$work/first" "$out/wizard.png"

# An account holding a few contacts: the store's keys and a file made with the program's schema.
home=$work/contacts
mkdir -p "$home/.config/brisvane" "$home/.pelicard/databases"
cat >"$home/.config/brisvane/Pelicard.conf" <<'EOF'
[Pelicard]
updates=false

[database]
dbCount=1
databases=office
currentDatabase=office

[office]
type=local
usePass=false
EOF
sqlite3 "$home/.pelicard/databases/office.sqlite" <<'EOF'
CREATE  TABLE "main"."contacts" ("name" VARCHAR, "firstName" VARCHAR, "work" VARCHAR, "home" VARCHAR, "mobile" VARCHAR, "address" VARCHAR, "zip" VARCHAR, "town" VARCHAR, "email" VARCHAR, "web" VARCHAR, "notes" VARCHAR, "customCount" INTEGER DEFAULT 0, "customLabel1" VARCHAR, "customValue1" VARCHAR, "customLabel2" VARCHAR, "customValue2" VARCHAR, "customLabel3" VARCHAR, "customValue3" VARCHAR, "customLabel4" VARCHAR, "customValue4" VARCHAR, "customLabel5" VARCHAR, "customValue5" VARCHAR, "customLabel6" VARCHAR, "customValue6" VARCHAR, "id" INTEGER PRIMARY KEY  AUTOINCREMENT , "date" DATETIME DEFAULT CURRENT_TIMESTAMP);
CREATE  INDEX "main"."idx_contacts" ON "contacts" ("name" ASC, "firstName" ASC);
INSERT INTO contacts (name, firstName, work, mobile, town, email) VALUES
    ('王', '小明', '010-62345678', '13800138000', '北京', 'wang@example.com'),
    ('李', '娜', '021-55501234', '13900139000', '上海', 'li.na@example.com'),
    ('张', '伟', '', '13700137000', '广州', ''),
    ('陈', '静', '0755-8888123', '', '深圳', 'chen@example.com'),
    ('刘', '洋', '', '13600136000', '成都', '');
EOF
shoot "$home" "$out/main-window.png"

echo "Saved $out/wizard.png and $out/main-window.png"
