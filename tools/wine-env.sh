# Sourced by the README's commands: the Wine prefix of this checkout's build
# folder, its preparation and the persistent server around a run.
# Never the user's own prefix: everything lives under build/.
ROOT=${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX="$ROOT/build/wine"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono/Gecko install dialogs
# Wine follows the Linux locale; the tests expect code page 1252 and en-US.
export LC_ALL=C.UTF-8

# A kernel without 32-bit support (ia32 emulation off) refuses Wine's 32-bit
# loader itself: exec format error. The prefix then comes from the 64-bit
# loader, which the wine, wineboot and winepath of tools/wine64-bin put first
# on PATH run (scripts, not exported functions, which would reach the Windows
# environment of every test), and callers leave the 32-bit programs out and
# say so (OS_WINE32=0, which the Windows tests see too). Any other failure of
# the 32-bit side is left to show as one.
# Where tools/deps.sh registered qemu-i386 for such a kernel, 32-bit programs
# do start, on the emulator, at about a minute a process: OS_WINE32 stays 0,
# OS_WINE32_EMULATED=1, and the README's commands run on it only the 32-bit
# programs they must not leave out.
OS_WINE32=1
OS_WINE32_EMULATED=0
if [ -x /usr/lib/wine/wine64 ] && [ -e /usr/lib/wine/wine ]; then
  if [ "$(head -n 1 /proc/sys/fs/binfmt_misc/qemu-i386 2>/dev/null)" = enabled ]; then
    OS_WINE32=0
    OS_WINE32_EMULATED=1
  elif ! wine32_err=$(/usr/lib/wine/wine --version 2>&1 >/dev/null) && [[ $wine32_err == *"Exec format error"* ]]; then
    OS_WINE32=0
  fi
  unset wine32_err
fi
export OS_WINE32 OS_WINE32_EMULATED
if [ "$OS_WINE32" = 0 ]; then
  case ":$PATH:" in
    *":$ROOT/tools/wine64-bin:"*) ;;
    *) export PATH="$ROOT/tools/wine64-bin:$PATH" ;;
  esac
  export WINELOADER=/usr/lib/wine/wine64
fi

# The Windows targets whose programs run here, the 32-bit one left out (and
# said so on stderr) where the kernel refuses it.
wine_targets() {
  if [ "$OS_WINE32" = 0 ]; then
    echo "i686: not run, this kernel runs no 32-bit programs" >&2
    echo x86_64
  else
    echo i686 x86_64
  fi
}

wine_prepare() {
  # The marker names the side the prefix was made with. One made while the
  # 32-bit side could not start lacks its 32-bit system folder: where 32-bit
  # programs now run, it is made again (once).
  local mode=wine64
  if [ "$OS_WINE32" = 1 ] || [ "$OS_WINE32_EMULATED" = 1 ]; then mode=wine32; fi
  if [ -f "$WINEPREFIX/.prepared" ]; then
    if [ "$mode" = wine64 ] || grep -qx wine32 "$WINEPREFIX/.prepared" ||
      [ -n "$(ls -A "$WINEPREFIX/drive_c/windows/syswow64" 2>/dev/null)" ]; then
      return 0
    fi
  fi
  echo "wine: creating the prefix in $WINEPREFIX"
  rm -rf "$WINEPREFIX" "$ROOT/build/winehome"
  mkdir -p "$ROOT/build/winehome"
  # Desktop, Documents and the rest become links into this HOME, not the user's.
  HOME="$ROOT/build/winehome" wineboot -i </dev/null >/dev/null 2>&1
  # Hidden windows and message loops work without a display; no sound noise.
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d "" /f </dev/null >/dev/null 2>&1
  wineserver -k || true
  wineserver -w
  echo "$mode" >"$WINEPREFIX/.prepared"
}

# Starts one persistent server for the run and warms it up: the first process
# of a server session starts services.exe and friends, which would otherwise
# keep the first test's output pipe open until its time-out.
wine_start() {
  wine_prepare
  # An already running server of this prefix is reused.
  HOME="$ROOT/build/winehome" wineserver -p 2>/dev/null || true
  HOME="$ROOT/build/winehome" wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# Sets the Windows version the prefix reports (win7, win10, winxp64, vista).
wine_version() {
  HOME="$ROOT/build/winehome" wine winecfg -v "$1" </dev/null >/dev/null 2>&1
}

wine_stop() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}
