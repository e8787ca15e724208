#!/usr/bin/env bash
# The wine environment in which the Windows programs run during tests: a wine
# prefix, a persistent wineserver for it and a virtual X display.
#
#   eval "$(scripts/wine-env.sh start [HOLDER])"  starts what is missing, joins
#                                                what runs, and prints the
#                                                variables to export
#   scripts/wine-env.sh stop [HOLDER]             lets go; ends what start
#                                                started once no holder is left
#   scripts/wine-env.sh stop --all                ends it whoever holds it
#   scripts/wine-env.sh status                    says what runs and who holds it
#
# start prints one line "export NAME='value'" for each of WINEPREFIX,
# WINEDEBUG, WINEDLLOVERRIDES, DISPLAY, WINE (the wine64 loader), WINESERVER
# and WINE_TEMP_DIR: the Unix path of the prefix's Windows temporary folder
# (%TEMP%), which wine takes from the prefix's registry, never from the Unix
# TEMP or TMP variables.
#
# HOLDER names a user of the environment ("shell" when not given). A number is
# taken as a process id: a holder whose process has ended no longer counts, so
# a test process that died does not keep the environment alive for ever. Calls
# are serialised by a lock, so parallel test processes can each start and stop.
#
# The prefix is $WINEPREFIX, or build/wineprefix of this repository; it is
# initialised on first use without installing anything and given a copy of
# wine's symbol font (install_wine_fonts). The process ids,
# the display number and the holders are kept in build/wine-env/, and stop
# ends only the processes recorded there. A wineserver that was already
# running for the prefix, not started here, is used and left alone.
#
# Exit codes: 0 done, 1 failure, 3 wine or Xvfb is not installed.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
state=$repo/build/wine-env
prefix=$(realpath -m "${WINEPREFIX:-$repo/build/wineprefix}")
wine=${WINE:-/usr/lib/wine/wine64}
wineserver=${WINESERVER:-/usr/lib/wine/wineserver}
xvfb=${XVFB:-Xvfb}
overrides="mscoree,mshtml="

say() { echo "wine-env: $*" >&2; }
die() {
  say "$*"
  exit 1
}

# The state letter of process $1 (R, S, Z, ...), empty when there is none.
process_state() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  stat=${stat##*) }
  echo "${stat%% *}"
}

# Whether process $1 runs (is no zombie) and its command line contains $2.
runs() {
  local pid=$1 name=$2 status cmdline
  [[ $pid =~ ^[0-9]+$ ]] || return 1
  status=$(process_state "$pid")
  [[ -n $status && $status != Z ]] || return 1
  cmdline=$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) || return 1
  [[ $cmdline == *"$name"* ]]
}

recorded() { cat "$state/$1" 2>/dev/null || true; }

# Ends recorded process $1 (state file) if it still is a $2; bounded wait.
end_recorded() {
  local file=$1 name=$2 pid
  pid=$(recorded "$file")
  if runs "$pid" "$name"; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 100); do
      runs "$pid" "$name" || break
      sleep 0.1
    done
    if runs "$pid" "$name"; then
      kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  rm -f "$state/$file"
}

# Where the server's socket may appear: wine's usual folder, or the one named
# in the prefix's "wineserver" file, as some distributions' builds do.
server_sockets() {
  local device inode sub
  device=$(stat -c %D "$prefix")
  inode=$(printf %x "$(stat -c %i "$prefix")")
  sub=server-$device-$inode
  echo "/tmp/.wine-$(id -u)/$sub/socket"
  if [[ -f $prefix/wineserver ]]; then
    echo "/tmp/$(head -c 200 "$prefix/wineserver")/$sub/socket"
  fi
}

wine_env() {
  env WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="$overrides" "$@"
}

init_prefix() {
  [[ -f $prefix/system.reg ]] && return 0
  say "initialising the wine prefix $prefix"
  mkdir -p "$(dirname "$prefix")"
  # The lock's descriptor is closed for everything wine leaves running.
  wine_env timeout 600 "$wine" wineboot -i >"$state/wineboot.log" 2>&1 </dev/null 9>&-
  # The server that wineboot started writes the registry out when it ends.
  wine_env timeout 120 "$wineserver" -w >/dev/null 2>&1 </dev/null 9>&- || true
  [[ -f $prefix/system.reg ]] || die "wineboot did not initialise $prefix (see $state/wineboot.log)"
}

# Wine draws the minimise, maximise and close buttons of a title bar as the
# characters "0", "1" and "r" of its symbol font, Marlett. Debian's fonts-wine
# puts that font under wine's data folder (/usr/share/wine/fonts), but the
# font list of this wine is only the prefix's Windows font folder and what
# fontconfig knows, and neither holds it: without a copy in the prefix the
# buttons show the plain letters "0 1 r". Checked at every start, so a prefix
# made before the package was installed gets it too; programs started
# afterwards find it.
install_wine_fonts() {
  local fonts=$prefix/drive_c/windows/Fonts source font
  for source in "$(dirname "$wine")/../../share/wine/fonts" /usr/share/wine/fonts; do
    [[ -f $source/marlett.ttf ]] && break
  done
  if [[ ! -f $source/marlett.ttf ]]; then
    say "wine's marlett.ttf is missing (package fonts-wine): title-bar buttons show as letters"
    return 0
  fi
  mkdir -p "$fonts"
  for font in marlett.ttf; do
    cmp -s "$source/$font" "$fonts/$font" || cp "$source/$font" "$fonts/$font"
  done
}

# The virtual display has no window manager: wine draws the windows' frames
# and captions itself, and links a CJK face to the face of system texts
# (captions) so that Chinese captions show. Once per prefix, on the display:
# the first program of the persistent server starts the prefix's desktop,
# which keeps the graphics driver it found then, and without a display that
# is none, so the next program could show no window.
settle_prefix() {
  local marker=$prefix/.wine-env-settled-1
  [[ -f $marker ]] && return 0
  local display=:$(recorded display)
  wine_env DISPLAY="$display" timeout 120 "$wine" reg add 'HKCU\Software\Wine\X11 Driver' \
    /v Decorated /d N /f >/dev/null 2>&1 </dev/null 9>&- || true
  wine_env DISPLAY="$display" timeout 120 "$wine" reg add \
    'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
    /v Tahoma /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f \
    >/dev/null 2>&1 </dev/null 9>&- || true
  touch "$marker"
}

start_server() {
  local pid
  pid=$(recorded wineserver.pid)
  runs "$pid" wineserver && return 0
  rm -f "$state/wineserver.pid"
  WINEPREFIX=$prefix WINEDEBUG=-all setsid "$wineserver" -f -p \
    >"$state/wineserver.log" 2>&1 </dev/null 9>&- &
  pid=$!
  for attempt in $(seq 100); do
    if ! runs "$pid" wineserver; then
      local status=0
      wait "$pid" || status=$?
      # Status 2: a wineserver for this prefix runs already; use it.
      [[ $status == 2 ]] && say "using the wineserver already running for $prefix" && return 0
      die "wineserver ended with status $status (see $state/wineserver.log)"
    fi
    local socket
    while read -r socket; do
      [[ -S $socket ]] && break 2
    done < <(server_sockets)
    # Wine's clients wait for a server that is still coming up, so a socket
    # not found where expected is no reason to give up.
    ((attempt < 40)) || break
    sleep 0.05
  done
  echo "$pid" >"$state/wineserver.pid"
}

start_display() {
  local pid display
  pid=$(recorded xvfb.pid)
  if runs "$pid" Xvfb && [[ -n $(recorded display) ]]; then
    return 0
  fi
  rm -f "$state/xvfb.pid" "$state/display"
  # Xvfb chooses a free display itself and writes its number once it serves.
  setsid "$xvfb" -displayfd 1 -nolisten tcp -screen 0 1024x768x24 \
    >"$state/display.new" 2>"$state/xvfb.log" </dev/null 9>&- &
  pid=$!
  for _ in $(seq 200); do
    display=$(head -n 1 "$state/display.new" 2>/dev/null || true)
    if [[ $display =~ ^[0-9]+$ ]]; then
      echo "$pid" >"$state/xvfb.pid"
      echo "$display" >"$state/display"
      rm -f "$state/display.new"
      return 0
    fi
    runs "$pid" Xvfb || break
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null || true
  die "Xvfb did not start (see $state/xvfb.log)"
}

# The Unix path of the Windows temporary folder of the prefix: wine takes
# TEMP and TMP from the prefix's registry, not from the Unix environment.
find_temp_dir() {
  local known
  known=$(recorded temp-dir)
  [[ -n $known && $known == "$prefix"/* && -d $known ]] && return 0
  local out=$state/temp-dir.new path
  wine_env DISPLAY=":$(recorded display)" timeout 120 "$wine" cmd /c winepath -u '%TEMP%' \
    >"$out" 2>/dev/null </dev/null 9>&- || true
  path=$(tr -d '\r' <"$out" | head -n 1)
  rm -f "$out"
  [[ -n $path && -d $path ]] || die "cannot find the temporary folder of $prefix"
  realpath "$path" >"$state/temp-dir"
}

prune_holders() {
  local holder name status
  for holder in "$state"/holders/*; do
    [[ -e $holder ]] || continue
    name=${holder##*/}
    [[ $name =~ ^[0-9]+$ ]] || continue
    status=$(process_state "$name")
    if [[ -z $status || $status == Z ]]; then
      rm -f "$holder"
    fi
  done
}

holders() {
  local names=() holder
  for holder in "$state"/holders/*; do
    [[ -e $holder ]] && names+=("${holder##*/}")
  done
  echo "${names[*]:-}"
}

print_exports() {
  local name value
  for name in WINEPREFIX WINEDEBUG WINEDLLOVERRIDES DISPLAY WINE WINESERVER WINE_TEMP_DIR; do
    case $name in
      WINEPREFIX) value=$prefix ;;
      WINEDEBUG) value=-all ;;
      WINEDLLOVERRIDES) value=$overrides ;;
      DISPLAY) value=:$(recorded display) ;;
      WINE) value=$wine ;;
      WINESERVER) value=$wineserver ;;
      WINE_TEMP_DIR) value=$(recorded temp-dir) ;;
    esac
    [[ $value != *"'"* ]] || die "$name holds a quote: $value"
    echo "export $name='$value'"
  done
}

check_tools() {
  local tool
  for tool in "$wine" "$wineserver"; do
    [[ -x $tool ]] || {
      say "wine is not installed ($tool missing)"
      exit 3
    }
  done
  command -v "$xvfb" >/dev/null || {
    say "Xvfb is not installed"
    exit 3
  }
}

holder_name() {
  local name=${1:-shell}
  [[ $name =~ ^[A-Za-z0-9._-]+$ ]] || die "holder names are letters, digits, '.', '_' and '-'"
  echo "$name"
}

lock() {
  mkdir -p "$state/holders"
  exec 9>"$state/lock"
  flock -w 900 9 || die "timed out waiting for the lock $state/lock"
}

cmd_start() {
  check_tools
  local holder
  holder=$(holder_name "${1:-}")
  lock
  prune_holders
  local active
  active=$(recorded prefix)
  if [[ -n $active && $active != "$prefix" ]]; then
    if [[ -n $(holders) ]]; then
      die "the environment runs for $active, held by: $(holders)"
    fi
    stop_all
  fi
  echo "$prefix" >"$state/prefix"
  init_prefix
  install_wine_fonts
  start_server
  start_display
  settle_prefix
  find_temp_dir
  touch "$state/holders/$holder"
  print_exports
}

stop_all() {
  local pid
  pid=$(recorded wineserver.pid)
  if runs "$pid" wineserver; then
    # Ends the programs still running in the prefix, then the server.
    wine_env timeout 30 "$wineserver" -k >/dev/null 2>&1 </dev/null 9>&- || true
  fi
  end_recorded wineserver.pid wineserver
  end_recorded xvfb.pid Xvfb
  rm -f "$state/display" "$state/display.new" "$state/prefix"
  rm -f "$state"/holders/*
}

cmd_stop() {
  lock
  if [[ ${1:-} == --all ]]; then
    stop_all
    return 0
  fi
  local holder
  holder=$(holder_name "${1:-}")
  rm -f "$state/holders/$holder"
  prune_holders
  if [[ -n $(holders) ]]; then
    say "still held by: $(holders)"
    return 0
  fi
  stop_all
}

cmd_status() {
  lock
  prune_holders
  local pid
  pid=$(recorded wineserver.pid)
  runs "$pid" wineserver && echo "wineserver: $pid" || echo "wineserver: not started here"
  pid=$(recorded xvfb.pid)
  runs "$pid" Xvfb && echo "Xvfb: $pid on :$(recorded display)" || echo "Xvfb: not running"
  echo "prefix: $(recorded prefix)"
  echo "holders: $(holders)"
}

case ${1:-} in
  start) cmd_start "${2:-}" ;;
  stop) cmd_stop "${2:-}" ;;
  status) cmd_status ;;
  *)
    echo "usage: $0 start [HOLDER] | stop [HOLDER|--all] | status" >&2
    exit 1
    ;;
esac
