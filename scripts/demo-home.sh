#!/usr/bin/env bash
# Builds a Linux demonstration home for the README screenshots: a filled ~/.cache, developer
# caches, files in the freedesktop trash with their .trashinfo, a large video in a localized
# Videos folder, an AppImage and a program installed in the home with their desktop entries, and
# (when the flatpak and ostree tools exist) a small Flatpak application in the user installation.
# Usage: scripts/demo-home.sh DIR   (DIR is emptied first). Prints the environment to run with.
set -euo pipefail

home=${1:?usage: demo-home.sh DIR}
case "$home" in /*) ;; *) home="$PWD/$home" ;; esac
rm -rf "$home"
mkdir -p "$home"

# fill FILE SIZE: a file of SIZE allocated bytes (random, so no file system compresses it away).
fill() {
    mkdir -p "$(dirname "$1")"
    head -c "$2" /dev/urandom >"$1"
}

# Caches of desktop applications, some with many small files.
fill "$home/.cache/mozilla/firefox/ab12cd34.default-release/cache2/entries/0A1B" 48000000
fill "$home/.cache/google-chrome/Default/Cache/Cache_Data/data_1" 36000000
fill "$home/.cache/thumbnails/large/5f3c.png" 9000000
fill "$home/.cache/pip/http-v2/a/b/c/wheel" 21000000
fill "$home/.cache/fontconfig/cache-9" 400000
fill "$home/.cache/Bộ nhớ đệm của Trình chỉnh sửa ảnh/tiles.bin" 12000000
for i in $(seq 1 40); do fill "$home/.cache/yarn/v6/npm-pkg-$i/index.js" 150000; done

# Per-user logs and developer caches outside ~/.cache.
fill "$home/.local/share/xorg/Xorg.0.log" 250000
fill "$home/.local/state/sorvi-demo/log/session.log" 120000
fill "$home/.npm/_cacache/content-v2/sha512/ab/cd/0123" 64000000
fill "$home/.gradle/caches/modules-2/files-2.1/org.jetbrains/kotlin-stdlib.jar" 28000000
fill "$home/.cargo/registry/cache/index.crates.io-6f17d22bba15001f/serde-1.0.197.crate" 8000000

# The freedesktop trash: each item with the record a file manager reads to restore it.
trash() {
    local name=$1 size=$2
    fill "$home/.local/share/Trash/files/$name" "$size"
    mkdir -p "$home/.local/share/Trash/info"
    printf '[Trash Info]\nPath=%s\nDeletionDate=2024-11-02T09:15:00\n' \
        "$(python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1]))' \
            "$home/Tài liệu/$name")" >"$home/.local/share/Trash/info/$name.trashinfo"
}
trash "Báo cáo quý 3 (bản nháp).odt" 2400000
trash "ảnh chụp màn hình 2024-10-30.png" 1800000
trash "old_backup.tar.gz" 95000000

# Localized user folders, with a large video and a large download.
mkdir -p "$home/.config"
cat >"$home/.config/user-dirs.dirs" <<'EOF'
XDG_DESKTOP_DIR="$HOME/Màn hình nền"
XDG_DOWNLOAD_DIR="$HOME/Tải về"
XDG_DOCUMENTS_DIR="$HOME/Tài liệu"
XDG_VIDEOS_DIR="$HOME/Video"
XDG_MUSIC_DIR="$HOME/Nhạc"
XDG_PICTURES_DIR="$HOME/Ảnh"
EOF
fill "$home/Video/Kỷ niệm Đà Lạt 2023.mp4" 420000000
fill "$home/Tải về/debian-12.8.0-amd64-netinst.iso" 660000000
fill "$home/Tài liệu/Luận văn tốt nghiệp.pdf" 3000000

# An AppImage (the ELF header with the "AI" type 2 marker), integrated by a desktop entry.
mkdir -p "$home/Applications" "$home/.local/share/applications"
appimage="$home/Applications/Krita-5.2.2-x86_64.AppImage"
python3 - "$appimage" <<'EOF'
import sys
header = bytearray(64)
header[0:4] = b"\x7fELF"
header[4], header[5], header[6] = 2, 1, 1
header[8:11] = b"AI\x02"
with open(sys.argv[1], "wb") as out:
    out.write(bytes(header) + b"\0" * 4096)
EOF
head -c 180000000 /dev/urandom >>"$appimage"
chmod +x "$appimage"
cat >"$home/.local/share/applications/appimagekit-krita.desktop" <<EOF
[Desktop Entry]
Type=Application
Name=Krita
Comment=Vẽ tranh kỹ thuật số
Exec=$appimage %F
Icon=applications-graphics
X-AppImage-Version=5.2.2
EOF
fill "$home/.config/kritarc" 40000
fill "$home/.local/share/krita/brushes.bundle" 6000000

# A program unpacked in the home and launched from its own desktop entry.
fill "$home/opt/Zotero/zotero-bin" 52000000
chmod +x "$home/opt/Zotero/zotero-bin"
cat >"$home/.local/share/applications/zotero.desktop" <<EOF
[Desktop Entry]
Type=Application
Name=Zotero
Exec=$home/opt/Zotero/zotero-bin
Icon=accessories-dictionary
EOF
fill "$home/.zotero/zotero/profiles.ini" 2000

# A Flatpak application in the user installation, built offline from the host's shell.
flatpak_env=""
if command -v flatpak >/dev/null && command -v ostree >/dev/null; then
    export FLATPAK_USER_DIR="$home/.local/share/flatpak" FLATPAK_SYSTEM_DIR="$home/.flatpak-system"
    build="$home/.flatpak-build"
    arch=$(flatpak --default-arch)
    mkdir -p "$build/runtime/files/bin" "$build/app/files/bin" "$build/app/files/share/applications"
    for file in /bin/sh $(ldd /bin/sh | grep -o '/[^ ]*'); do
        mkdir -p "$build/runtime/files$(dirname "$file")"
        cp -L "$file" "$build/runtime/files$file"
    done
    printf '[Runtime]\nname=org.sorvi.Platform\nruntime=org.sorvi.Platform/%s/1\nsdk=org.sorvi.Platform/%s/1\n' \
        "$arch" "$arch" >"$build/runtime/metadata"
    printf '#!/bin/sh\nread line\n' >"$build/app/files/bin/demo"
    chmod +x "$build/app/files/bin/demo"
    printf '[Desktop Entry]\nType=Application\nExec=demo\nIcon=org.gnome.Podcasts\nName=Podcasts\nName[vi]=Nghe podcast\n' \
        >"$build/app/files/share/applications/org.gnome.Podcasts.desktop"
    fill "$build/app/files/share/podcasts/data.bin" 30000000
    printf '[Application]\nname=org.gnome.Podcasts\nruntime=org.sorvi.Platform/%s/1\nsdk=org.sorvi.Platform/%s/1\n' \
        "$arch" "$arch" >"$build/app/metadata"
    flatpak build-finish --command=demo "$build/app" >/dev/null
    flatpak build-export --runtime --files=files --disable-sandbox --no-update-summary \
        "$build/repo" "$build/runtime" 1 >/dev/null
    flatpak build-export --disable-sandbox --no-update-summary "$build/repo" "$build/app" stable >/dev/null
    flatpak build-update-repo --no-update-appstream "$build/repo" >/dev/null
    flatpak --user remote-add --no-gpg-verify demo "file://$build/repo"
    flatpak --user install -y --noninteractive demo org.gnome.Podcasts >/dev/null
    rm -rf "$build/app" "$build/runtime"
    fill "$home/.var/app/org.gnome.Podcasts/cache/episodes.db" 7000000
    flatpak_env=" FLATPAK_USER_DIR=$FLATPAK_USER_DIR FLATPAK_SYSTEM_DIR=$FLATPAK_SYSTEM_DIR"
fi

# Run with the XDG_*_HOME variables unset, so every place is the home's default.
echo "HOME=$home$flatpak_env"
