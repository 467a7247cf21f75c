#!/bin/sh
# Runs one command inside a small QEMU guest with a real ALSA sequencer: Debian's own
# kernel with snd-virmidi ("VirMIDI 0-0" and "VirMIDI 0-1", backed by hw:0,0 and
# hw:0,1), and this machine's root file system mounted read-only, so the command is
# the host's own build and tools. Prints the command's output, exits with its status.
#
#   sh tests/alsa/guest.sh [--timeout SECONDS] [--share DIR] -- COMMAND [ARG]...
#
# --share: a host folder the command may write, under the same path; the guest's /tmp
# is its own. The environment goes in with the command, less the host's own parts.
# Exits 77 with the reason when the guest cannot start here, 1 if CI is set.
set -eu

timeout=240
share=""
while [ $# -gt 0 ]; do
  case "$1" in
    --timeout) timeout="$2"; shift 2 ;;
    --share) share="$2"; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--timeout S] [--share DIR] -- COMMAND..." >&2; exit 2; }

cannot() {
  echo "ALSA guest cannot start: $*" >&2
  if [ -n "${CI:-}" ]; then exit 1; fi
  exit 77
}

command -v qemu-system-x86_64 >/dev/null 2>&1 || cannot "qemu-system-x86_64 is not installed (qemu-system-x86)"
[ -x /bin/busybox ] || cannot "/bin/busybox is not installed (busybox-static)"
kernel="$(ls /boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1)"
[ -n "$kernel" ] || cannot "no kernel in /boot (linux-image-amd64)"
release="${kernel#/boot/vmlinuz-}"
moddir="/lib/modules/$release"
[ -d "$moddir" ] || cannot "no modules for $release in /lib/modules"
[ -r "$kernel" ] || cannot "$kernel is not readable"

# In load order. snd-hrtimer is the sequencer queues' default timer: without it they
# fall back to the 4 ms system tick, and stamps taken on a queue stray as far.
modules="virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci netfs fscache
         9pnet 9pnet_virtio 9p soundcore snd snd-timer snd-hrtimer snd-seq-device snd-seq snd-seq-midi-event
         snd-rawmidi snd-seq-dummy snd-seq-virmidi snd-virmidi"

# The initramfs depends only on the kernel and this script: build it once per user.
cache="${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/tandrel-alsa-guest"
[ -w "${cache%/*}" ] 2>/dev/null || cache="/tmp/tandrel-alsa-guest-$(id -u)"
stamp="$release-$(cksum < "$0" | cut -d' ' -f1)"
initrd="$cache/initrd-$stamp.cpio"
if [ ! -s "$initrd" ]; then
  mkdir -p "$cache"
  root="$(mktemp -d "$cache/root.XXXXXX")"
  mkdir -p "$root/bin" "$root/proc" "$root/sys" "$root/dev" "$root/host" "$root/modules"
  cp /bin/busybox "$root/bin/busybox"
  for m in $modules; do
    found="$(find "$moddir" \( -name "$m.ko*" -o -name "$(echo "$m" | tr - _).ko*" \) | head -n 1)"
    [ -n "$found" ] || cannot "module $m is missing from $moddir"
    case "$found" in
      *.ko.xz) xz -dc "$found" > "$root/modules/$m.ko" ;;
      *.ko.zst) zstd -qdc "$found" > "$root/modules/$m.ko" ;;
      *.ko.gz) gzip -dc "$found" > "$root/modules/$m.ko" ;;
      *) cp "$found" "$root/modules/$m.ko" ;;
    esac
  done
  echo "$modules" | tr -s ' \n' '  ' > "$root/modules/order"
  cat > "$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox mkdir -p /sbin /usr/bin /usr/sbin
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in $(cat /modules/order); do
  case "$m" in
    snd-virmidi) insmod /modules/$m.ko midi_devs=2 ;;
    *) insmod /modules/$m.ko ;;
  esac || echo "guest: insmod $m failed"
done
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=512000,cache=loose host /host || echo "guest: no host root"
mkdir -p /mnt && mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 job /mnt
mount -t devtmpfs dev /host/dev
mkdir -p /host/dev/shm /host/dev/pts
mount -t tmpfs shm /host/dev/shm
mount -t devpts pts /host/dev/pts
mount -t proc proc /host/proc
mount -t sysfs sys /host/sys
mount -t tmpfs tmp /host/tmp
mount -t tmpfs run /host/run
. /mnt/where
if [ -n "$share" ]; then
  mkdir -p "/host$share" 2>/dev/null
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 share "/host$share" || echo "guest: no share"
fi
# A build under /tmp, which the guest's own /tmp would hide.
if [ -n "$tree" ]; then
  mkdir -p "/host$tree"
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 tree "/host$tree" || echo "guest: no tree"
fi
cp /mnt/env /host/tmp/.guest-env
# The command may ask for the virtual card again with other options (every port on it
# closed): it writes them as one line into the FIFO /tmp/.guest-virmidi and waits for
# /tmp/.guest-virmidi.done, "ok" or why not. The modules live outside its chroot.
mkfifo /host/tmp/.guest-virmidi
(
  while :; do
    read -r options < /host/tmp/.guest-virmidi || continue
    result=ok
    case "$options" in
      *[!a-z0-9_=,\ ]*) result="options other than name=value lists: $options" ;;
      *)
        # Still in use for a moment after its last client closed.
        tries=0
        while ! rmmod snd_virmidi 2>/dev/null; do
          tries=$((tries + 1))
          [ $tries -lt 50 ] || { result="snd-virmidi stays in use"; break; }
          sleep 0.1
        done
        [ "$result" != ok ] || insmod /modules/snd-virmidi.ko $options || result="insmod snd-virmidi $options failed"
        ;;
    esac
    echo "$result" > /host/tmp/.guest-virmidi.new
    mv /host/tmp/.guest-virmidi.new /host/tmp/.guest-virmidi.done
  done
) &
chroot /host /bin/sh -c '. /tmp/.guest-env; cd "$TANDREL_GUEST_CWD" 2>/dev/null || cd /tmp; exec "$@"' guest \
  "$@" > /mnt/stdout 2> /mnt/stderr
echo $? > /mnt/status
sync
poweroff -f
EOF
  chmod +x "$root/init"
  (cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null) > "$initrd.tmp"
  mv "$initrd.tmp" "$initrd"
  rm -rf "$root"
fi

job="$(mktemp -d "${TMPDIR:-/tmp}/tandrel-guest.XXXXXX")"
qemu=""
cleanup() {
  [ -n "$qemu" ] && kill "$qemu" 2>/dev/null
  rm -rf "$job"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

# The command and its environment, as the guest's chroot reads them.
{
  export -p | grep -v -E '^export (HOME|PWD|OLDPWD|TMPDIR|XDG_RUNTIME_DIR|DISPLAY|WAYLAND_DISPLAY|JACK_[A-Z_]*|DBUS_[A-Z_]*|SESSION_MANAGER|XAUTHORITY|SHLVL|_)='
  echo "export HOME=/tmp XDG_RUNTIME_DIR=/tmp/runtime TANDREL_GUEST=1"
  printf 'export TANDREL_GUEST_CWD=%s\n' "'$(pwd)'"
  echo 'mkdir -p /tmp/runtime && chmod 700 /tmp/runtime'
} > "$job/env"
# The guest's /tmp is its own: a command that lives under the host's /tmp (a
# checkout there) gets its top folder there shared under the same path.
tree=""
command_path="$(realpath "$1" 2>/dev/null || echo "$1")"
case "$command_path" in
  /tmp/*/*) tree="/tmp/$(printf %s "${command_path#/tmp/}" | cut -d/ -f1)" ;;
esac
{
  printf 'share=%s\n' "'$share'"
  printf 'tree=%s\n' "'$tree'"
  printf 'set --'
  for a in "$@"; do printf " '%s'" "$(printf %s "$a" | sed "s/'/'\\\\''/g")"; done
  echo
} > "$job/where"

shareopt=""
if [ -n "$share" ]; then
  mkdir -p "$share"
  shareopt="-virtfs local,path=$share,mount_tag=share,security_model=none"
fi
if [ -n "$tree" ]; then
  shareopt="$shareopt -virtfs local,path=$tree,mount_tag=tree,security_model=none,multidevs=remap"
fi

# TCG only: KVM does not boot here. Two CPUs: the command and the sequencer side by side.
# shellcheck disable=SC2086
timeout -k 5 "$timeout" qemu-system-x86_64 -accel tcg -smp 2 -m 1G -nographic -no-reboot \
  -kernel "$kernel" -initrd "$initrd" \
  -append "console=ttyS0 quiet loglevel=1 panic=-1 rdinit=/init" \
  -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap \
  -virtfs local,path="$job",mount_tag=job,security_model=none \
  $shareopt < /dev/null > "$job/console" 2>&1 &
qemu=$!
status=0
wait "$qemu" || status=$?
qemu=""

[ -f "$job/stdout" ] && cat "$job/stdout"
[ -f "$job/stderr" ] && cat "$job/stderr" >&2
if [ -f "$job/status" ]; then
  exit "$(cat "$job/status")"
fi
echo "ALSA guest: the command did not finish (qemu status $status, timeout ${timeout}s); console:" >&2
tail -n 40 "$job/console" >&2
exit 1
