#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# sectrim on the drivers administrators run it on, in a virtual machine:
# Debian's kernel under qemu with disks on NVMe, virtio-blk (512- and
# 4096-byte sectors), virtio-scsi, AHCI SATA and an SD card, each backed by
# an image file here, and scsi_debug, null_blk, zram and a loop device made
# inside the guest. scripts/vm-guest.sh runs there as init, runs the device
# tests on every disk and reports one line per check on the serial console;
# each image file must then hold here what the guest last read of its disk.
# The drivers' table (scripts/vm-table.sh) is made from the run, and a
# difference from docs/drivers.md's is shown, not failed: what a driver
# reports is the kernel's to change. Ends with "vm-check: N passed, M failed".
#
# The kernel package is fetched with apt-get download and unpacked into
# BUILD/kernel, never installed. The guest sees only the image files in a
# temporary directory, which goes at exit, also on INT and TERM.
# Usage: vm-check.sh [BUILD_DIR]  (default build-vm; JOBS and WERROR as for
# the other builds; VM_ACCEL=tcg skips the KVM probe; VM_TIMEOUT in seconds)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-vm}
jobs=${JOBS:-$(nproc)}
vm_timeout=${VM_TIMEOUT:-1200}
# As the guest's disks; the device tests' plan needs 16 MiB.
disk_size=$((16 * 1048576))

work=$(mktemp -d "${TMPDIR:-/tmp}/hostkit-vm.XXXXXX")
qemu_pid=
cleanup() {
	if [ -n "$qemu_pid" ]; then
		kill "$qemu_pid" 2>/dev/null || :
		wait "$qemu_pid" 2>/dev/null || :
	fi
	rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The kernel: the version linux-image-amd64 depends on, unpacked once.
kernel_version() {
	apt-cache depends linux-image-amd64 2>/dev/null |
		sed -n 's/^ *Depends: linux-image-\([0-9].*-amd64\)$/\1/p' | head -n 1
}
version=$(kernel_version)
if [ -z "$version" ] && [ "$(id -u)" = 0 ]; then
	apt-get update -q >/dev/null
	version=$(kernel_version)
fi
if [ -z "$version" ]; then
	echo "vm-check: apt knows no linux-image-amd64 (run apt-get update as root)" >&2
	exit 1
fi
kernel=$build/kernel/$version
if [ ! -e "$kernel/boot/vmlinuz-$version" ]; then
	echo "== fetching linux-image-$version"
	rm -rf "$kernel.part"
	mkdir -p "$kernel.part"
	# apt drops to its own user for the download where it can write.
	chmod 777 "$kernel.part"
	(cd "$kernel.part" && apt-get download -q "linux-image-$version")
	dpkg-deb -x "$kernel.part/linux-image-${version}_"*.deb "$kernel.part"
	rm "$kernel.part"/*.deb
	mv "$kernel.part" "$kernel"
fi
moddir=$kernel/lib/modules/$version
# mdadm the same way: the guest builds its arrays with it, the host needs none.
mdadm=$build/mdadm/sbin/mdadm
if [ ! -x "$mdadm" ]; then
	rm -rf "$build/mdadm.part"
	mkdir -p "$build/mdadm.part"
	chmod 777 "$build/mdadm.part"
	(cd "$build/mdadm.part" && apt-get download -q mdadm)
	dpkg-deb -x "$build/mdadm.part"/mdadm_*.deb "$build/mdadm.part"
	rm "$build/mdadm.part"/*.deb
	mv "$build/mdadm.part" "$build/mdadm"
fi

echo "== static sectrim and device tests in $build"
cmake -S . -B "$build" -DBUILD_TESTING=ON -DHOSTKIT_BENCH=OFF -DCMAKE_EXE_LINKER_FLAGS=-static \
	-DHOSTKIT_WERROR="${WERROR:-OFF}" >/dev/null
cmake --build "$build" -j"$jobs" --target sectrim device_tests
sectrim=$(cd "$build" && pwd)/tool/sectrim

# The initramfs: busybox with only the applets the check calls, the
# drivers' modules after those they depend on, the programs, the check.
root=$work/root
case $sectrim in
/proc/* | /sys/* | /dev/* | /scratch/*)
	echo "vm-check: the guest mounts over $sectrim: build elsewhere" >&2
	exit 1
	;;
esac
mkdir -p "$root/bin" "$root/lib/modules" "$root/proc" "$root/sys" "$root/dev" "$root/scratch" \
	"$root$(dirname "$sectrim")"
cp /bin/busybox "$root/bin/"
for applet in sh mount umount insmod cat sed tail dd blockdev losetup readlink sha256sum \
	mke2fs mkswap swapon swapoff timeout sleep wc grep uname poweroff sync mkdir stat; do
	ln -s busybox "$root/bin/$applet"
done
# dmsetup and mdadm, and the libraries they load where the loader looks.
cp /usr/sbin/dmsetup "$mdadm" "$root/bin/"
for lib in $(ldd /usr/sbin/dmsetup "$mdadm" | sed -n 's|.* => \(/[^ ]*\) .*|\1|p;s|^[[:space:]]*\(/[^ ]*\) .*|\1|p' | sort -u); do
	mkdir -p "$root${lib%/*}"
	cp -L "$lib" "$root$lib"
done
cp "$sectrim" "$root/bin/sectrim"
# The device tests run the program from where it was built.
cp "$sectrim" "$root$sectrim"
cp "$build/tests/device_tests" "$root/bin/"
cp scripts/vm-guest.sh "$root/init"

declare -A module_path added
while IFS= read -r f; do
	name=${f##*/}
	name=${name%.ko}
	module_path[${name//-/_}]=$f
done < <(find "$moddir/kernel" -name '*.ko')
add_module() {
	local name=${1//-/_} dep
	[ -z "${added[$name]:-}" ] || return 0
	added[$name]=1
	if [ -z "${module_path[$name]:-}" ]; then
		# Built into the kernel, or missing: the guest says which disk lacks it.
		return 0
	fi
	for dep in $(tr '\0' '\n' <"${module_path[$name]}" | sed -n 's/^depends=//p' | tr , ' '); do
		add_module "$dep"
	done
	cp "${module_path[$name]}" "$root/lib/modules/$name.ko"
	echo "$name" >>"$root/lib/modules/order"
}
for m in virtio_pci nvme virtio_blk virtio_scsi ahci sd_mod sdhci-pci mmc_block scsi_debug \
	null_blk zram loop ext4 crc32c_generic dm-mod dm-crypt xts ecb gf128mul \
	dm-thin-pool md-mod raid1 raid456; do
	add_module "$m"
done
(cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null) >"$work/initrd"

# The disks qemu emulates: image files in the work directory, nothing else.
# One more holds a file system the guest mounts, which every run must leave
# alone; nine more on virtio-blk, what the guest stacks on them: partitions,
# dm-linear, dm-crypt, RAID 1 on two, RAID 5 on three, a thin pool.
host_disks="nvme virtio-blk-512 virtio-blk-4096 virtio-scsi sata sd-card held"
stack_disks="stack-parts stack-linear stack-crypt stack-raid1a stack-raid1b stack-thin
	stack-raid5a stack-raid5b stack-raid5c"
drives=()
for d in $host_disks $stack_disks; do
	size=$disk_size
	case $d in
	stack-parts | stack-linear) size=$((2 * disk_size)) ;;
	stack-crypt | stack-thin) size=$((40 * 1048576)) ;;
	stack-raid[15]?) size=$((20 * 1048576)) ;;
	esac
	truncate -s "$size" "$work/$d.img"
	drives+=(-drive "if=none,id=$d,file=$work/$d.img,format=raw,discard=unmap")
	case $d in stack-*) drives+=(-device "virtio-blk-pci,drive=$d,serial=$d") ;; esac
done

# mbr_entry START SECTORS: a primary Linux partition's 16 bytes, by LBA.
le32() {
	printf '\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255))
}
mbr_entry() {
	printf %b "\\x00\\xff\\xff\\xff\\x83\\xff\\xff\\xff$(le32 "$1")$(le32 "$2")"
}
# Three partitions of the 32 MiB disk, written here so that no partitioning
# tool runs in the guest: [1, 8), [8, 24) and [24, 32) MiB.
{
	mbr_entry 2048 14336
	mbr_entry 16384 32768
	mbr_entry 49152 16384
	printf '\x00%.0s' $(seq 16)
	printf '\x55\xaa'
} | dd of="$work/stack-parts.img" bs=1 seek=446 conv=notrunc status=none
drives+=(-device "nvme,drive=nvme,serial=hostkit"
	-device "virtio-blk-pci,drive=virtio-blk-512"
	-device "virtio-blk-pci,drive=virtio-blk-4096,logical_block_size=4096,physical_block_size=4096"
	-device "virtio-scsi-pci,id=vscsi" -device "scsi-hd,bus=vscsi.0,drive=virtio-scsi"
	-device "ide-hd,bus=ide.0,drive=sata"
	-device sdhci-pci -device "sd-card,drive=sd-card"
	-device "virtio-blk-pci,drive=held,serial=held")
for arg in "${drives[@]}"; do
	case $arg in
	if=none,*)
		image=${arg#*file=}
		image=${image%%,*}
		if [ "${image%/*}" != "$work" ] || [ ! -f "$image" ] || [ -L "$image" ]; then
			echo "vm-check: $image is not an image file of $work" >&2
			exit 1
		fi
		;;
	esac
done

# qemu ACCEL TIMEOUT CMDLINE LOG [ARGS]: the guest in the background,
# its console in LOG; its pid in qemu_pid.
qemu() {
	timeout -k 10 "$2" qemu-system-x86_64 -accel "$1" -M q35 -m 1024 -smp 2 -nodefaults \
		-no-user-config -display none -monitor none -no-reboot -serial "file:$4" \
		-kernel "$kernel/boot/vmlinuz-$version" -initrd "$work/initrd" \
		-append "console=ttyS0 panic=-1 quiet loglevel=3 $3" "${@:5}" </dev/null >"$work/qemu.err" 2>&1 &
	qemu_pid=$!
}

# KVM only where it boots a guest at all; else, and by default, TCG.
accel=tcg
if [ "${VM_ACCEL:-auto}" != tcg ] && [ -w /dev/kvm ]; then
	qemu kvm 30 hostkit.probe "$work/probe"
	wait "$qemu_pid" || :
	qemu_pid=
	if grep -q '^hostkit: probe' "$work/probe"; then
		accel=kvm
	else
		echo "vm-check: KVM did not boot a guest within 30 s; TCG it is"
	fi
fi

echo "== booting Debian's kernel $version under $accel, $vm_timeout s at most"
log=$build/vm-check.log
console=$work/console
: >"$console"
qemu "$accel" "$vm_timeout" "" "$console" "${drives[@]}"
tail -n +1 -f --pid="$qemu_pid" "$console" | tr -d '\r' &
shown=$!
qemu_status=0
wait "$qemu_pid" || qemu_status=$?
qemu_pid=
wait "$shown" || :
tr -d '\r' <"$console" >"$log"

# result DISK CHECK PROBLEM DETAIL: as the guest's.
result() {
	if [ -z "$3" ]; then
		echo "ok $1 $2: $4"
	else
		echo "FAIL $1 $2: $3"
	fi
}

# The guest's tally first: what it could not say counts as a failure.
# Then the image files after the guest is gone: each must hold what the
# device tests last read of its disk, every byte.
host_checks() {
	if ! grep -q '^guest: [0-9]* passed, [0-9]* failed$' "$log"; then
		why="the guest ended without its tally (qemu status $qemu_status)"
		[ "$qemu_status" != 124 ] || why="the guest was stopped after $vm_timeout s"
		echo "FAIL vm guest: $why"
		sed 's/^/qemu: /' "$work/qemu.err"
	fi
	for d in $host_disks $stack_disks; do
		guest=$(sed -n "s|^image $d ||p" "$log")
		here=$(sha256sum <"$work/$d.img" | sed 's/ .*//')
		if [ -z "$guest" ]; then
			result "$d" image "the guest never read the disk back" ""
		elif [ "$guest" != "$here" ]; then
			result "$d" image "the image file is not what the guest read of the disk" ""
		else
			result "$d" image "" "the image file as the guest last read the disk"
		fi
	done
	# The file system as a whole, and its file, read here.
	problem=$(e2fsck -fn "$work/held.img" 2>&1) && problem=
	result held fsck "$problem" "e2fsck finds the file system clean"
	kept=$(debugfs -R "cat /kept" "$work/held.img" 2>/dev/null)
	[ "$kept" = "a file the refused runs must keep" ] && problem= || problem="/kept reads '$kept'"
	result held file-on-image "$problem" "the file reads back from the image file"
}
host_checks >"$work/host"
tee -a "$log" <"$work/host"

# The documented table is this run's, or the difference is shown: a kernel
# may report another granularity, and the document says which kernel made it.
scripts/vm-table.sh "$log" >"$build/drivers.md"
cat "$build/drivers.md"
sed -n '/^<!-- made by vm-check -->$/,/^<!-- end -->$/p' docs/drivers.md | sed '1d;$d' >"$work/documented"
if ! cmp -s "$work/documented" "$build/drivers.md"; then
	echo "vm-check: docs/drivers.md is not this run's; if the run is right, put $build/drivers.md there:"
	diff "$work/documented" "$build/drivers.md" || :
fi
ok=$(grep -c '^ok ' "$log" || :)
bad=$(grep -c '^FAIL ' "$log" || :)
echo "vm-check: $ok passed, $bad failed"
[ "$bad" = 0 ]
