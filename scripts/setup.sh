#!/usr/bin/env bash
# Installs what the project needs on Debian 12, as root.  Safe to run again: it
# installs only what is missing and changes nothing that is already in place.
set -euo pipefail

packages=(
  cmake make g++ pkg-config libgtest-dev libbenchmark-dev
  libtomlplusplus-dev                 # the settings files of mavusfx make (header-only use)
  clang libclang-rt-14-dev            # libFuzzer and the sanitizers
  clang-format                        # the format check (scripts/check-format.sh)
  g++-mingw-w64-i686                  # the stub's cross compiler
  wine wine32 wine32-preloader        # running the stub, as on 64-bit Windows:
  wine64                              # Wine's server and services are 64-bit
  xvfb xdotool imagemagick            # a headless display, input and screenshots
  xxd                                 # hex to bytes in the end-to-end checks
  fonts-ipafont-gothic locales        # Japanese text under Wine
  libarchive-tools p7zip-full         # black-box LHA readers for the tests and benchmarks
  hyperfine python3                   # benchmark timing
  lhasa zstd time                     # the extraction benchmark: another reader, a scale, peak memory
  osslsigncode openssl                # signing installers, and its test
  icoutils python3-pefile             # independent readers of the installer's resources
  dpkg-dev man-db                     # cpack's dependency lookup; the manual page's check
  lintian                             # the package checked as Debian checks its own
  libutf8proc-dev                     # the packer's NFC names
)

# The wine32 packages are the i386 ones.
for i in "${!packages[@]}"; do
  case ${packages[$i]} in wine32*) packages[$i]="${packages[$i]}:i386" ;; esac
done

# --print-packages: the list above, one a line (scripts/check-apt-resolve.sh takes it).
if [ "${1:-}" = --print-packages ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

if [ "$(id -u)" != 0 ]; then
  echo "setup.sh: run me as root (I install Debian packages)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
. "$(dirname "$0")/lib/apt_install.sh"

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup.sh: installing ${missing[*]}"
  apt_update
  apt_install "${missing[@]}"
fi

# The stub is proven under a Japanese locale (code page 932) and a Western one
# (code page 1252) and one whose code page is UTF-8 (65001 under Wine), where it
# must show its Shift-JIS texts just as well.
for wanted in ja_JP en_US hi_IN; do
  if ! locale -a 2>/dev/null | grep -qi "^$wanted\.utf-\?8$"; then
    sed -i "s/^# *$wanted.UTF-8 UTF-8/$wanted.UTF-8 UTF-8/" /etc/locale.gen
    grep -q "^$wanted.UTF-8 UTF-8" /etc/locale.gen || echo "$wanted.UTF-8 UTF-8" >> /etc/locale.gen
    locale-gen >/dev/null
  fi
done

# Some kernels (this project's CI machines among them) cannot execute 32-bit x86
# programs, which the 32-bit Wine loader is.  There, 32-bit programs run through
# qemu's user-mode emulator, registered with the kernel's binfmt_misc.
if ! /usr/lib/i386-linux-gnu/ld-linux.so.2 --version >/dev/null 2>&1; then
  if ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q "install ok installed"; then
    apt_update
    apt_install qemu-user-static
  fi
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  fi
  if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:FP' \
      > /proc/sys/fs/binfmt_misc/register
  fi
  echo "setup.sh: 32-bit programs run through qemu-i386 on this kernel"
fi
echo "setup.sh: everything is in place"
