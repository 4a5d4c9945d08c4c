#!/usr/bin/env bash
# Makes 32-bit Wine usable for the i686 smoke, where the machine allows it: the i386
# architecture, wine32:i386, and (on machines that refuse 32-bit ELF code) a binfmt_misc
# registration that runs i386 programs through qemu-user. Exits 0 when 32-bit Wine starts;
# otherwise prints "skipped: ..." and exits 1. Never fails the CI run by itself.
set -uo pipefail
wine32=/usr/lib/wine/wine
skip() {
  echo "skipped: i686 smoke under 32-bit Wine: $*"
  exit 1
}
starts() { timeout 300 "$wine32" --version >/dev/null 2>&1; }

if [[ ! -x "$wine32" ]]; then
  [[ $(id -u) -eq 0 ]] || skip "wine32:i386 is not installed and this is not root"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386 || skip "dpkg --add-architecture i386 failed"
  fi
  timeout 300 apt-get -o DPkg::Lock::Timeout=600 update -qq >/dev/null ||
    skip "apt-get update with i386 failed"
  DEBIAN_FRONTEND=noninteractive timeout 900 apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
    wine32:i386 qemu-user >/dev/null || skip "wine32:i386 could not be installed"
fi

if ! starts; then
  # This machine does not run i386 code natively: hand it to qemu-user through binfmt_misc.
  [[ $(id -u) -eq 0 ]] || skip "32-bit programs do not run and this is not root"
  qemu=$(command -v qemu-i386-static || command -v qemu-i386) || skip "qemu-user has no qemu-i386"
  misc=/proc/sys/fs/binfmt_misc
  [[ -e $misc/register ]] || mount -t binfmt_misc binfmt_misc $misc 2>/dev/null ||
    skip "binfmt_misc cannot be mounted here"
  if [[ ! -e $misc/qemu-i386 ]]; then
    # The i386 ELF header pattern qemu's own binfmt configuration uses; F opens the
    # interpreter now, so it works inside other mount namespaces too.
    printf '%s' ":qemu-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:F" \
      >$misc/register 2>/dev/null || skip "the binfmt_misc registration for i386 was refused"
  fi
  starts || skip "32-bit Wine does not start even through qemu-user"
fi
echo "wine32-setup: 32-bit Wine starts ($wine32)"
