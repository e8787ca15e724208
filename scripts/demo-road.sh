# shellcheck shell=bash disable=SC2154  # build, repo, scratch: set by scripts/demo.sh
# The road of one release, operator to player, on one system; sourced by
# scripts/demo.sh, which sets `build`, `repo` and `scratch`, and
# for win-x64 the wine environment's variables.
#
#   road linux-x64|win-x64 [PICTURES]
#
#  1. The operator publishes release 1.0, changes the release folder and
#     publishes 1.1 with packgen, then copies both version folders into the
#     update directory of the web server (nginx on 127.0.0.1).
#  2. A player's client folder: the game client (a stand-in "wow.exe" that
#     records its start), the launcher and "update.exe", and wow.ini and
#     ver.ini as release 1.0 shipped them.
#  3. The player starts the launcher: the server's launcher version file
#     announces 1.1, the launcher hands over to "update.exe", whose wizard
#     fetches the list and the files and installs them. Release 1.1's
#     wow.ini names the version file of its own launcher, which says "1.0":
#     at the next start the launcher is current, the player picks realm 1
#     and starts the game.
#  4. Checks: every released file in the client folder equals the release's
#     byte for byte, the manifest was taken over, the work folder is gone,
#     the realm list names the realm, the game was started. Any failure ends
#     the demo with status 1.
#
# On win-x64 the programs show real windows on the wine environment's
# display and every window of the road is captured into PICTURES.

demo_fail() {
  echo "DEMO FAILED: $*" >&2
  exit 1
}

# Prints a file's lines indented; the progress bars' drawing lines (a region
# and gradients per bar position) are counted, not shown.
show_transcript() {
  local file=$1 drawing
  drawing=$(grep -cE '^unit-(gradient|region) ' "$file" || true)
  grep -vE '^unit-(gradient|region) ' "$file" | sed 's/^/      /'
  ((drawing == 0)) || echo "      ($drawing lines of progress bar drawing left out)"
}

heading() { printf '\n  -- %s\n' "$*"; }

# nginx serving folder $1 on 127.0.0.1 at a free port, its scratch prefix in
# $2 (configured as tests/support/nginx_server.cpp does); sets web_port and
# web_pid.
start_web() {
  local root=$1 prefix=$2 port
  mkdir -p "$prefix"/temp/{body,proxy,fastcgi,uwsgi,scgi}
  for _ in 1 2 3 4 5 6 7 8; do
    port=$((20000 + RANDOM % 40000))
    # Taken already: try another.
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue
    cat >"$prefix/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $prefix/nginx.pid;
error_log $prefix/error.log warn;
events { worker_connections 256; }
http {
  default_type application/octet-stream;
  access_log $prefix/access.log;
  client_body_temp_path $prefix/temp/body;
  proxy_temp_path $prefix/temp/proxy;
  fastcgi_temp_path $prefix/temp/fastcgi;
  uwsgi_temp_path $prefix/temp/uwsgi;
  scgi_temp_path $prefix/temp/scgi;
  server {
    listen 127.0.0.1:$port;
    root $root;
  }
}
CONF
    nginx -p "$prefix/" -c "$prefix/nginx.conf" -e "$prefix/error.log" </dev/null >"$prefix/output.log" 2>&1 &
    web_pid=$!
    for _ in $(seq 200); do
      if ! kill -0 "$web_pid" 2>/dev/null; then
        break
      fi
      if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        web_port=$port
        return 0
      fi
      sleep 0.05
    done
    kill "$web_pid" 2>/dev/null || true
    wait "$web_pid" 2>/dev/null || true
  done
  cat "$prefix/output.log" "$prefix/error.log" >&2 2>/dev/null || true
  demo_fail "nginx did not start"
}

stop_web() {
  if [[ -n ${web_pid:-} ]]; then
    kill "$web_pid" 2>/dev/null || true
    wait "$web_pid" 2>/dev/null || true
    web_pid=
  fi
}

road() {
  local system=$1 pictures=${2:-} root release client site exe=
  root=$scratch/road-$system
  release=$root/release
  client=$root/client
  site=$root/site
  [[ $system == win-x64 ]] && exe=.exe
  mkdir -p "$release" "$client" "$site/update" "$root/home/Desktop" "$root/tmp"

  # How a program of this system is started: in folder $1, program $2,
  # script $3, transcript $4.
  run_program() {
    local folder=$1 program=$2 script=$3 transcript=$4 status=0
    if [[ $system == linux-x64 ]]; then
      (cd "$folder" && HOME=$root/home XDG_CONFIG_HOME=$root/home/.config TMPDIR=$root/tmp \
        WJRT_SCRIPT=$script WJRT_TRANSCRIPT=$transcript timeout 300 "$program") \
        >>"$root/output.log" 2>&1 || status=$?
    else
      (cd "$folder" && WJRT_UI=win32 WJRT_SCRIPT=$(winpath "$script") \
        WJRT_TRANSCRIPT=$(winpath "$transcript") WJRT_CAPTURE_DIR=$(winpath "$pictures") \
        timeout 300 "$WINE" "$program") >>"$root/output.log" 2>&1 || status=$?
    fi
    if ((status != 0)); then
      [[ -f $transcript ]] && show_transcript "$transcript"
      tail -n 20 "$root/output.log" | sed 's/^/      | /'
      demo_fail "$(basename "$program") ended with status $status"
    fi
  }
  # Where a file of the road is, as the programs of this system name it.
  shown() { if [[ $system == linux-x64 ]]; then echo "$1"; else winpath "$1"; fi; }

  start_web "$site" "$root/nginx"
  local web=http://127.0.0.1:$web_port
  printf '\n== The road of a release on %s (web server %s)\n' "$system" "$web"

  # ---- the operator ----
  # The operator's release folder: the client's data and the two files that
  # the launcher and the updater read. wow.ini of 1.0 names the launcher
  # version file "update.ini".
  wow_ini() { # launcher version file
    printf '[Main]\r\nTitle=星河纪元\r\nindex=%s/\r\nreg=%s/reg.html\r\nNews2=%s/news.html\r\n' "$web" "$web" "$web"
    printf '[v]\r\nbb=%s/%s\r\naa=%s/launcher.ini\r\nva=%s/update/\r\n' "$web" "$1" "$web" "$web"
    printf '[s]\r\nsv=%s/version.txt\r\n' "$web"
    printf '[Server]\r\nServer1=1\r\nServerD1=127.0.0.1\r\nServerName1=一区\r\n'
    printf 'Server2=2\r\nServerD2=localhost\r\nServerName2=二区\r\n'
  }
  mkdir -p "$release/Data/Maps" "$release/Data/zhCN"
  wow_ini update.ini | iconv -f UTF-8 -t GBK >"$release/wow.ini"
  printf '1.0' >"$release/ver.ini"
  head -c 150000 /dev/urandom >"$release/Data/data.pak"
  printf 'east map, first edition' >"$release/Data/Maps/east.map"
  printf '界面' | iconv -f UTF-8 -t GBK >"$release/Data/zhCN/界面.txt"
  touch -d '2024-01-01 12:00:00 UTC' "$release/wow.ini" "$release/ver.ini" "$release/Data/data.pak" \
    "$release/Data/Maps/east.map" "$release/Data/zhCN/界面.txt"

  local packgen=$build/$system/packgen/packgen$exe
  publish() { # version, notes, pictures of the window
    local version=$1 notes=$2
    {
      echo "click 图形按钮_程序目录选择"
      echo "choose-folder $(shown "$release")"
      echo "type 编辑框_更新说明 \"$notes\""
      echo "type 编辑框_本次版本号 \"$version\""
      echo "capture \"packgen-$version-analysed.png\""
      echo "click 图形按钮_生成更新文件"
      echo "answer ok"
      echo "capture \"packgen-$version-generated.png\""
      echo "close"
    } >"$root/packgen-$version.script"
    run_program "$root" "$packgen" "$root/packgen-$version.script" "$root/packgen-$version.txt"
    grep -q '更新文件生成完毕！' "$root/packgen-$version.txt" || demo_fail "packgen did not finish $version"
    heading "The operator publishes release $version with packgen; what the operator saw:"
    show_transcript "$root/packgen-$version.txt"
    echo "      version folder $version:"
    (cd "$release/上传到服务器的更新文件/$version" && for f in *; do printf '        %8d  %s\n' "$(stat -c %s "$f")" "$f"; done)
  }
  publish 1.0 "首次发行！"

  # The player's client as release 1.0 shipped it, before any update: the
  # game, the launcher, the updater, and wow.ini and ver.ini of 1.0 with
  # their time stamps.
  if [[ $system == linux-x64 ]]; then
    printf '#!/bin/sh\necho "$(basename "$0") started in $PWD" >> "$(dirname "$0")/started.log"\n' >"$client/wow.exe"
    chmod +x "$client/wow.exe"
    cp "$build/linux-x64/launcher/launcher" "$client/launcher"
  else
    x86_64-w64-mingw32-gcc -O1 -o "$client/wow.exe" "$repo/scripts/demo-game.c" ||
      demo_fail "the stand-in game client did not build"
    cp "$build/win-x64/launcher/launcher.exe" "$client/launcher.exe"
  fi
  # On Linux too the updater is "update.exe", as the launcher starts it: a
  # program named "update" would stand where its work folder goes.
  cp "$build/$system/updater/update$exe" "$client/update.exe"
  cp -p "$release/wow.ini" "$release/ver.ini" "$client/"

  # Release 1.1: a new edition of a map, and wow.ini naming the version file
  # of the launcher shipped with 1.1.
  printf 'east map, second edition' >"$release/Data/Maps/east.map"
  wow_ini update-1.1.ini | iconv -f UTF-8 -t GBK >"$release/wow.ini"
  printf '1.1' >"$release/ver.ini"
  touch -d '2024-02-01 12:00:00 UTC' "$release/Data/Maps/east.map" "$release/wow.ini" "$release/ver.ini"
  # The notes file is written at each generation, and a file's date text
  # counts whole seconds: two generations within one second would leave
  # 1.1's notes with 1.0's date, and so unpublished.
  sleep 1.1
  publish 1.1 "东部地图第二版。"

  # The operator's web server: both version folders copied into the update
  # directory, the version text, the launcher version files (the one that
  # 1.0's wow.ini names announces 1.1; 1.1's own says its launcher, "1.0",
  # is current), launcher.ini and the news page.
  cp "$release/上传到服务器的更新文件/1.0/"* "$site/update/"
  cp "$release/上传到服务器的更新文件/1.1/"* "$site/update/"
  printf '1.1' >"$site/version.txt"
  printf '[Update]\r\nvs=1.1\r\n' >"$site/update.ini"
  printf '[Update]\r\nvs=1.0\r\n' >"$site/update-1.1.ini"
  printf '[Launcher]\r\nnotice=1.1\r\n' >"$site/launcher.ini"
  printf '<html><body>Release 1.1</body></html>' >"$site/news.html"
  heading "The operator's web server, $web/:"
  (cd "$site" && find . -type f | sort | sed 's|^\./|        |')
  echo "      version.txt (sv): $(cat "$site/version.txt")"
  echo "      update.ini (the bb of 1.0's wow.ini): $(tr -d '\r' <"$site/update.ini" | tr '\n' ' ')"
  echo "      update-1.1.ini (the bb of 1.1's wow.ini): $(tr -d '\r' <"$site/update-1.1.ini" | tr '\n' ' ')"

  # ---- the player ----
  local launcher=$client/launcher$exe
  {
    echo "# The launcher's hand-off message, then the updater's wizard."
    echo "program launcher$exe"
    echo "answer ok"
    echo "program update.exe"
    echo "answer no"
    echo "capture \"update-start.png\""
    echo "click 自动更新"
    echo "capture \"update-welcome.png\""
    echo "click 图形按钮_下一步"
    echo "capture \"update-list.png\""
    echo "click 图形按钮_下一步"
    echo "capture \"update-completed.png\""
    echo "click 图形按钮_取消"
  } >"$root/first-start.script"
  # The player's whole screen while the files download: the launcher's
  # version check window waits behind the wizard. The scripts take no
  # pauses, so the bars show wherever the download is at that moment.
  local watcher=
  if [[ -n $pictures ]]; then
    (for _ in $(seq 1200); do
      if grep -q '^list-insert 列表框_状态 0 "完成"' "$root/first-start.txt" 2>/dev/null; then
        import -window root "$pictures/screen-during-update.png" 2>/dev/null
        break
      fi
      sleep 0.05
    done) &
    watcher=$!
  fi
  run_program "$client" "$launcher" "$root/first-start.script" "$root/first-start.txt"
  [[ -z $watcher ]] || wait "$watcher" || true
  heading "The player starts the launcher; it hands over to update.exe, which installs 1.1; what the player saw:"
  show_transcript "$root/first-start.txt"
  grep -q '^run "update.exe" wait=yes$' "$root/first-start.txt" || demo_fail "the launcher did not start update.exe"
  grep -q '您的产品及组件已经更新到最新状态。' "$root/first-start.txt" || demo_fail "the update did not complete"

  printf 'click 单选框1\nanswer ok\ncapture "launcher-main.png"\nclick 按钮4\n' >"$root/second-start.script"
  run_program "$client" "$launcher" "$root/second-start.script" "$root/second-start.txt"
  heading "The player starts the launcher again, picks realm 1 and starts the game; what the player saw:"
  show_transcript "$root/second-start.txt"
  grep -q '^window-open 0x52010002 ' "$root/second-start.txt" || demo_fail "the launcher's main window did not open"

  # ---- the checks ----
  heading "Checks"
  local released=0 file
  while IFS= read -r -d '' file; do
    cmp -s "$release/$file" "$client/$file" || demo_fail "the client's $file differs from the release's"
    released=$((released + 1))
  done < <(cd "$release" && find . -path ./上传到服务器的更新文件 -prune -o -type f ! -name up.dat -printf '%P\0')
  echo "      the client's $released released files equal the release's, byte for byte"
  cmp -s "$release/up.dat" "$client/up.dat" || demo_fail "the installed manifest is not release 1.1's"
  echo "      the installed manifest up.dat is release 1.1's"
  [[ ! -e $client/update ]] || demo_fail "the updater's work folder is left"
  echo "      the updater's work folder is gone"
  [[ $(cat "$client/realmlist.wtf") == 'SET realmlist "127.0.0.1"' ]] || demo_fail "realmlist.wtf: $(cat "$client/realmlist.wtf")"
  echo "      realmlist.wtf: $(cat "$client/realmlist.wtf")"
  for _ in $(seq 100); do
    [[ -s $client/started.log ]] && break
    sleep 0.1
  done
  grep -q '^wow.exe started in ' "$client/started.log" 2>/dev/null || demo_fail "the game was not started"
  echo "      the game client recorded: $(cat "$client/started.log")"
  # The launcher's shortcut, on the player's desktop: on Windows the
  # prefix's, which wine may link to a Unix folder; removed again there.
  local shortcut=$root/home/Desktop/星河纪元.lnk
  [[ $system == linux-x64 ]] || shortcut=$(echo "$WINEPREFIX"/drive_c/users/*/Desktop/星河纪元.lnk)
  [[ -s $shortcut ]] || demo_fail "no desktop shortcut 星河纪元.lnk"
  echo "      the desktop shortcut 星河纪元.lnk ($(stat -c %s "$shortcut") bytes)"
  [[ $system == linux-x64 ]] || rm -f "$shortcut"
  if [[ -n $pictures ]]; then
    local picture
    for picture in packgen-1.0-analysed packgen-1.0-generated packgen-1.1-analysed packgen-1.1-generated \
      update-start update-welcome update-list update-completed launcher-main; do
      [[ -s $pictures/$picture.png ]] || demo_fail "no picture $picture.png"
    done
  fi
  stop_web
}

winpath() { echo "Z:${1//\//\\}"; }
