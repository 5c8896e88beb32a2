# Shared by the scripts: paths, package installation and the Wine prefix. Source it, do not run it.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=$ROOT/out
NATIVE_BUILD=$OUT/build/native
ASAN_BUILD=$OUT/build/native-asan
WIN32_BUILD=$OUT/build/win32
JOBS=${JOBS:-$(nproc)}
mkdir -p "$OUT"

# Debian packages the project needs; wine32 needs the i386 architecture.
PACKAGES=(
  cmake make g++ python3 openssl
  g++-mingw-w64-i686 mingw-w64-i686-dev libz-mingw-w64-dev
  zlib1g-dev libdeflate-dev libgtest-dev googletest libbenchmark-dev clang libclang-rt-14-dev
  wine wine32:i386 xvfb xdotool imagemagick icoutils
  zip unzip p7zip-full osslsigncode
)

log() { printf '== %s\n' "$*" >&2; }

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing: ${missing[*]}"
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# A private Wine prefix with headless windows and no crash dialog.
setup_wine() {
  export WINEPREFIX=$OUT/wine
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEARCH=win32
  if [ ! -f "$WINEPREFIX/.aksfx-ready" ]; then
    log "creating the Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    mkdir -p "$OUT"
    wineboot -i >"$OUT/wineboot.log" 2>&1
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >>"$OUT/wineboot.log" 2>&1
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >>"$OUT/wineboot.log" 2>&1
    wineserver -w
    touch "$WINEPREFIX/.aksfx-ready"
  fi
}

stop_wine() {
  wineserver -k >/dev/null 2>&1 || true
}
