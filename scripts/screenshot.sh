#!/usr/bin/env bash
# Pictures of what the virtual display of the wine environment shows, for
# reviews and for looking at a test run by hand.
#
#   scripts/screenshot.sh OUT.png                 the whole display
#   scripts/screenshot.sh OUT.png "窗口标题"       the top-level window with
#                                                 this title (UTF-8)
#
# DISPLAY must name the display (eval "$(scripts/wine-env.sh start)" sets it).
# Inside a scripted run, the script step `capture "file.png"` takes a picture
# of the window in front at exactly that step (WJRT_CAPTURE_DIR names the
# folder of relative file names); this tool is for everything else.
set -euo pipefail

out=${1:?usage: screenshot.sh OUT.png [window title]}
title=${2:-}
[[ -n ${DISPLAY:-} ]] || { echo "screenshot: DISPLAY is not set" >&2; exit 1; }
command -v import >/dev/null || { echo "screenshot: ImageMagick's import is missing (scripts/install-deps.sh)" >&2; exit 3; }

if [[ -z $title ]]; then
  import -window root "$out"
  exit 0
fi

# The X window whose name is the title: xwininfo lists `0x... "name": ...`.
id=$(xwininfo -root -tree | awk -v want="\"$title\":" 'index($0, want) { print $1; exit }')
[[ -n $id ]] || { echo "screenshot: no window titled $title" >&2; exit 1; }
import -window "$id" "$out"
