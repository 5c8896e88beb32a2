# Shared by the scripts: paths, package installation and the Wine prefix. Source it, do not run it.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=$ROOT/out
NATIVE_BUILD=$OUT/build/native
ASAN_BUILD=$OUT/build/native-asan
WIN32_BUILD=$OUT/build/win32
WIN64_BUILD=$OUT/build/win64
VM_DIR=$OUT/vm
JOBS=${JOBS:-$(nproc)}
mkdir -p "$OUT"

# Debian packages the project needs; wine32 needs the i386 architecture.
PACKAGES=(
  cmake make g++ python3 openssl
  g++-mingw-w64-i686 mingw-w64-i686-dev libz-mingw-w64-dev
  zlib1g-dev libdeflate-dev libgtest-dev googletest libbenchmark-dev clang libclang-rt-14-dev
  wine wine32:i386 xvfb xdotool imagemagick icoutils
  zip unzip p7zip-full osslsigncode msitools wixl
)
# On the virtual machine's route (uses_vm): the x86-64 build and 64-bit Wine natively, and the machine
# (qemu, busybox for its initramfs, and a kernel fetched by fetch_vm_kernel).
PACKAGES_64=(g++-mingw-w64-x86-64 mingw-w64-x86-64-dev wine64)
PACKAGES_VM=(qemu-system-x86 busybox-static)

log() { printf '== %s\n' "$*" >&2; }

install_packages() {
  install_missing "${PACKAGES[@]}"
  if uses_vm; then
    install_missing "${PACKAGES_64[@]}" "${PACKAGES_VM[@]}"
    fetch_vm_kernel
  fi
}

# Debian's kernel for the virtual machine (IA-32 emulation on), unpacked under out/vm/kernel: the
# package is downloaded, not installed, so the host's /boot stays as it is. Prints nothing when present.
fetch_vm_kernel() {
  local pkg
  pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -1)
  [ -n "$pkg" ] || { log "no kernel package behind linux-image-amd64"; return 1; }
  [ -f "$VM_DIR/kernel/$pkg/.unpacked" ] && return 0
  log "fetching $pkg for the virtual machine"
  rm -rf "$VM_DIR/kernel" "$VM_DIR/download"
  mkdir -p "$VM_DIR/download" "$VM_DIR/kernel/$pkg"
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  (cd "$VM_DIR/download" && { apt-get download -q "$pkg" >&2 || { $sudo apt-get update -q >&2 && apt-get download -q "$pkg" >&2; }; })
  dpkg-deb -x "$VM_DIR"/download/"$pkg"_*.deb "$VM_DIR/kernel/$pkg"
  rm -rf "$VM_DIR/download"
  touch "$VM_DIR/kernel/$pkg/.unpacked"
}

install_missing() {
  local missing=()
  for p in "$@"; do
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

# Whether this machine runs 32-bit x86 programs: some kernels are built or booted without IA-32
# emulation, and there 32-bit Wine cannot start at all ("Exec format error").
runs_32bit_programs() {
  /lib/i386-linux-gnu/ld-linux.so.2 --version >/dev/null 2>&1
}

# Whether the shipped i686 build's Windows programs run in the virtual machine (scripts/vm): where this
# machine runs no 32-bit programs, or when AKSFX_VM=1 asks for it.
uses_vm() {
  [ "${AKSFX_VM:-}" = 1 ] || ! runs_32bit_programs
}

# The Windows build whose programs run natively here: the 32-bit one, or on the virtual machine's route
# the x86-64 build of the same sources under 64-bit Wine. What is shipped is always the 32-bit build.
windows_test_build() {
  if uses_vm; then echo "$WIN64_BUILD"; else echo "$WIN32_BUILD"; fi
}

# Which build runs where, for log lines: "i686 build, 32-bit Wine" and the like.
native_route() {
  if uses_vm; then echo "x86-64 build, 64-bit Wine on this machine"; else echo "i686 build, 32-bit Wine on this machine"; fi
}
VM_ROUTE="i686 build, 32-bit Wine in the virtual machine"

# WINEARCH (and for 64-bit Wine its loader) for what this machine runs: 32-bit Wine, or 64-bit Wine where
# the machine runs no 32-bit programs. Debian's wine and wine-stable pick the 32-bit loader whenever it
# is installed, so then ones that start the 64-bit loader go first on the PATH (wineboot, winepath and
# the rest exec wine-stable).
choose_wine() {
  if ! uses_vm; then
    export WINEARCH=win32
    return
  fi
  export WINEARCH=win64
  export WINELOADER=/usr/lib/wine/wine64
  mkdir -p "$OUT/wine64-bin"
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$OUT/wine64-bin/$name"
    chmod +x "$OUT/wine64-bin/$name"
  done
  case ":$PATH:" in *":$OUT/wine64-bin:"*) ;; *) export PATH=$OUT/wine64-bin:$PATH ;; esac
  log "Windows programs on this machine: the x86-64 build under 64-bit Wine"
}

# A private Wine prefix with headless windows and no crash dialog.
setup_wine() {
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  choose_wine
  if [ "$WINEARCH" = win32 ]; then export WINEPREFIX=$OUT/wine; else export WINEPREFIX=$OUT/wine64; fi
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
