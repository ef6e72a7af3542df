#!/usr/bin/env bash
# Builds the 32-bit lane: a small virtual machine (qemu, software emulation)
# whose kernel runs 32-bit code, with a Debian 12 guest that has a WoW64 Wine
# (wine64 with wine32:i386) and a ready base prefix. The i386 architecture is
# added inside the guest's tree only; the host's Wine stays 64-bit.
#
# Everything is made from Debian's packages and kept in a cache folder outside
# the clone, in two stages, each under the hash of the scripts that shape it:
#   $QUILLO_LANE_CACHE (default ~/.cache/quillo-lane)/
#     <system hash>/     vmlinuz  initrd.img  system.img  (the guest, no prefix)
#       <prefix hash>/   root.img (system.img with the base prefix)  ready
# Prints the image folder (the inner one); does nothing else when it is ready.
# Usage: lane-image.sh [--print]   (--print: the folder it would use, built or not)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
CACHE="${QUILLO_LANE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quillo-lane}"
MIRROR="${QUILLO_LANE_MIRROR:-http://deb.debian.org/debian}"
GUEST_PACKAGES="wine wine32:i386 wine64 libwine:i386 fonts-wine fonts-liberation fonts-wqy-microhei fontconfig
  xvfb imagemagick python3 procps iproute2"

system_key="$(cat "$ROOT/scripts/lane-image.sh" "$ROOT/scripts/lane-guest-init.sh" | sha256sum | cut -c1-16)"
prefix_key="$(sha256sum <"$ROOT/scripts/wine-prefix.sh" | cut -c1-16)"
SYSTEM="$CACHE/$system_key"
IMAGE="$SYSTEM/$prefix_key"
if [ "${1:-}" = --print ]; then echo "$IMAGE"; exit 0; fi
if [ -f "$IMAGE/ready" ]; then echo "$IMAGE"; exit 0; fi

[ "$(id -u)" = 0 ] || { echo "lane-image: debootstrap and chroot need root" >&2; exit 1; }
for tool in debootstrap qemu-system-x86_64 mkfs.ext4 debugfs busybox; do
  command -v "$tool" >/dev/null || { echo "lane-image: $tool missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
log() { echo "lane-image: $*" >&2; }

mkdir -p "$CACHE"
# Images of other script versions are of no use any more.
find "$CACHE" -mindepth 1 -maxdepth 1 -type d ! -name "$system_key" -exec rm -rf {} +
started=$SECONDS

# The guest system, without a prefix.
build_system() {
work="$SYSTEM.build"
rm -rf "$work" "$SYSTEM"
mkdir -p "$work"
tree="$work/root"
cleanup() {
  for m in dev/pts dev proc sys; do mountpoint -q "$tree/$m" 2>/dev/null && umount -l "$tree/$m"; done
  true
}
trap cleanup EXIT

log "guest root file system (debootstrap bookworm)"
debootstrap --variant=minbase bookworm "$tree" "$MIRROR" >"$work/debootstrap.log" 2>&1 ||
  { tail -n 20 "$work/debootstrap.log" >&2; exit 1; }
mount -t proc proc "$tree/proc"
mount -t sysfs sys "$tree/sys"
mount --bind /dev "$tree/dev"
mount --bind /dev/pts "$tree/dev/pts"
cat >"$tree/etc/apt/sources.list" <<EOF
deb $MIRROR bookworm main
deb $MIRROR bookworm-updates main
EOF
# No services start while the packages are unpacked on the host.
printf '#!/bin/sh\nexit 101\n' >"$tree/usr/sbin/policy-rc.d"
chmod +x "$tree/usr/sbin/policy-rc.d"
log "guest packages: Wine with its 32-bit half, X, fonts"
# shellcheck disable=SC2086
chroot "$tree" /bin/sh -c "dpkg --add-architecture i386 && apt-get update -qq &&
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $(echo $GUEST_PACKAGES) &&
  apt-get clean" >"$work/apt.log" 2>&1 || { tail -n 30 "$work/apt.log" >&2; exit 1; }
rm -f "$tree/usr/sbin/policy-rc.d"
cleanup
rm -rf "$tree"/var/lib/apt/lists/* "$tree"/usr/share/doc/* "$tree"/usr/share/man/*

log "kernel (Debian's cloud kernel: IA-32 emulation built in) and initramfs"
kpkg="$(apt-cache depends linux-image-cloud-amd64 | sed -n 's/.*Depends: \(linux-image-[0-9].*-cloud-amd64\)$/\1/p' | head -n1)"
[ -n "$kpkg" ] || { log "no cloud kernel package found"; exit 1; }
(cd "$work" && apt-get download -qq "$kpkg") || { log "could not download $kpkg"; exit 1; }
dpkg-deb -x "$work"/linux-image-*.deb "$work/kernel"
kver="${kpkg#linux-image-}"
cp "$work/kernel/boot/vmlinuz-$kver" "$work/vmlinuz"
mods="$work/kernel/lib/modules/$kver/kernel/drivers"
init="$work/initramfs"
mkdir -p "$init"/{bin,dev,proc,sys,newroot,modules}
cp "$(command -v busybox)" "$init/bin/busybox"
order="virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci virtio_blk"
for m in $order; do
  f="$(find "$mods" -name "$m.ko*" | head -n1)"
  [ -n "$f" ] || { log "module $m not in $kpkg"; exit 1; }
  case "$f" in
    *.xz) xz -dc "$f" >"$init/modules/$m.ko" ;;
    *.zst) zstd -dc "$f" >"$init/modules/$m.ko" ;;
    *) cp "$f" "$init/modules/$m.ko" ;;
  esac
done
cat >"$init/init" <<EOF
#!/bin/busybox sh
/bin/busybox mount -t proc proc /proc
/bin/busybox mount -t devtmpfs dev /dev
for m in $order; do /bin/busybox insmod /modules/\$m.ko; done
for i in \$(/bin/busybox seq 100); do [ -b /dev/vda ] && break; /bin/busybox usleep 50000; done
/bin/busybox mount -t ext4 -o rw /dev/vda /newroot || { echo "lane: no root disk"; /bin/busybox poweroff -f; }
/bin/busybox umount /proc
/bin/busybox mount --move /dev /newroot/dev
exec /bin/busybox switch_root /newroot /sbin/quillo-lane-init
EOF
chmod +x "$init/init"
python3 - "$init" "$work/initrd.img" <<'PY'
# An uncompressed newc archive of the folder.
import os, stat, sys
src, out = sys.argv[1], sys.argv[2]
ino = [0]
def entry(f, name, mode, data=b""):
    ino[0] += 1
    hdr = "070701" + "".join("%08X" % v for v in (ino[0], mode, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(name) + 1, 0))
    f.write(hdr.encode() + name.encode() + b"\0")
    f.write(b"\0" * ((4 - (110 + len(name) + 1) % 4) % 4))
    f.write(data)
    f.write(b"\0" * ((4 - len(data) % 4) % 4))
with open(out, "wb") as f:
    for dirpath, dirs, files in os.walk(src):
        dirs.sort()
        rel = os.path.relpath(dirpath, src)
        if rel != ".":
            entry(f, rel, stat.S_IFDIR | 0o755)
        for n in sorted(files):
            p = os.path.join(dirpath, n)
            name = n if rel == "." else rel + "/" + n
            entry(f, name, stat.S_IFREG | (os.stat(p).st_mode & 0o777), open(p, "rb").read())
    entry(f, "TRAILER!!!", 0)
PY

log "guest start script"
install -m 755 "$ROOT/scripts/lane-guest-init.sh" "$tree/sbin/quillo-lane-init"
mkdir -p "$tree/io"
echo quillo-lane >"$tree/etc/hostname"

log "disk image"
# Room for the prefix copies and the installs of the cases.
size_mb=$(( $(du -sm "$tree" | cut -f1) + 3072 ))
mkfs.ext4 -q -F -L quillo-lane -d "$tree" "$work/system.img" "${size_mb}M"
rm -rf "$tree" "$work/kernel" "$work/initramfs" "$work"/*.deb
trap - EXIT
mv "$work" "$SYSTEM"
}
[ -f "$SYSTEM/system.img" ] || build_system

# The base prefix, made in the guest by the project's prefix script (the
# first boot, the one that writes its root disk).
log "first boot: the guest's base prefix (slow under emulation)"
find "$SYSTEM" -mindepth 1 -maxdepth 1 -type d -exec rm -rf {} +
work="$IMAGE.build"
mkdir -p "$work/case"
cp --sparse=always "$SYSTEM/system.img" "$work/root.img"
ln -s ../vmlinuz "$work/vmlinuz"
ln -s ../initrd.img "$work/initrd.img"
install -m 755 "$ROOT/scripts/wine-prefix.sh" "$work/case/wine-prefix.sh"
cat >"$work/case/case.sh" <<'EOF'
#!/bin/bash
set -e
mkdir -p /opt/quillo
bash /io/wine-prefix.sh /opt/quillo/base
test -f /opt/quillo/base/drive_c/windows/syswow64/kernel32.dll
echo "base prefix made"
EOF
QUILLO_LANE_IMAGE_DIR="$work" QUILLO_LANE_WRITABLE=1 QUILLO_LANE_TIMEOUT="${QUILLO_LANE_PREFIX_TIMEOUT:-2400}" \
  bash "$ROOT/scripts/lane-run.sh" "$work/case" "$work/first-boot" ||
  { log "the first boot failed:"; tail -n 20 "$work/first-boot/log" >&2 2>/dev/null; exit 1; }
rm -rf "$work/case"
mv "$work" "$IMAGE"
date -u +%FT%TZ >"$IMAGE/ready"
log "image ready in $((SECONDS - started)) s"
echo "$IMAGE"
