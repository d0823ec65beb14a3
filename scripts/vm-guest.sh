#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The check inside the virtual machine of vm-check.sh, run there as init:
# the modules loaded, the guest's own disks made, and the project's device
# tests run on every disk; one line per check on the console ("ok DISK
# CHECK: ..." or "FAIL ..."), a closing tally, power off. What each run must
# leave is the device tests' (the Disk table); this script only reports it.
# Only busybox applets linked in the image are called.

MIB=1048576
DISK_SIZE=$((16 * MIB))

passed=0
failed=0
# result DISK CHECK PROBLEM DETAIL: one line, ok without a problem.
result() {
	if [ -z "$3" ]; then
		passed=$((passed + 1))
		echo "ok $1 $2: $4"
	else
		failed=$((failed + 1))
		echo "FAIL $1 $2: $3"
	fi
}

# device_tests DISK CHECK FILTER [DEVICE [UNDER]]: the device tests of
# FILTER, on DEVICE or, without it, on loop devices they attach over files
# in the guest's tmpfs, with the disks UNDER names beneath it; one result,
# the gtest output in /scratch/gtest. The fault library cannot be preloaded
# into a static program: no test that needs it is ever asked for.
device_tests() {
	HOSTKIT_TEST_DISK=${4:-} HOSTKIT_TEST_UNDER=${5:-} HOSTKIT_REQUIRE_DEVICES=1 timeout 300 \
		device_tests --gtest_filter="$3" >/scratch/gtest 2>&1
	status=$?
	summary=$(sed -n 's/^\[  PASSED  \] //p' /scratch/gtest)
	if [ "$status" = 0 ] && [ -n "$summary" ] && ! grep -q '^\[  SKIPPED \]' /scratch/gtest; then
		result "$1" "$2" "" "$summary"
	else
		tail -n 30 /scratch/gtest
		result "$1" "$2" "exit status $status" ""
	fi
}

# disk_runs DISK DEVICE [UNDER]: the Disk table on DEVICE, checked on the
# disks UNDER names too (see HOSTKIT_TEST_UNDER); one result a run.
disk_runs() {
	[ -z "${3:-}" ] || describe "$1" "$2"
	HOSTKIT_TEST_DISK=$2 HOSTKIT_TEST_UNDER=${3:-} HOSTKIT_REQUIRE_DEVICES=1 timeout 300 \
		device_tests --gtest_filter=Disk.EveryRunChangesItsRangeAlone >/scratch/gtest 2>&1
	status=$?
	sed -n 's/^disk-run //p' /scratch/gtest >/scratch/runs
	while read -r state run detail; do
		if [ "$state" = ok ]; then
			result "$1" "${run%:}" "" "$detail"
		else
			result "$1" "${run%:}" "$detail" ""
		fi
	done </scratch/runs
	# A failure the runs' lines do not show: the test's own; and every
	# disk beneath that did not hold.
	[ "$status" = 0 ] || tail -n 30 /scratch/gtest
	grep beneath /scratch/gtest
	if [ "$(wc -l </scratch/runs)" != 6 ] ||
		{ [ "$status" != 0 ] && ! grep -q '^FAIL' /scratch/runs; }; then
		result "$1" runs "exit status $status, $(wc -l </scratch/runs) runs reported" ""
	fi
}

# digest DISK DEVICE: the disk as the tests last read it, for the host to
# compare with its image file.
digest() {
	blockdev --flushbufs "$2"
	echo "image $1 $(sha256sum <"$2" | sed 's/ .*//')"
}

# held_checks DEVICE: an ext2 file system made and mounted there, which
# must refuse every run and keep its file; then unmounted and its digest
# printed, for the host to check the image file.
held_checks() {
	kept="a file the refused runs must keep"
	mkdir -p /mnt
	if ! mke2fs -q "$1" >/scratch/err 2>&1 || ! mount -t ext2 "$1" /mnt 2>>/scratch/err; then
		result held mounted "$(cat /scratch/err)" ""
		return
	fi
	echo "$kept" >/mnt/kept
	sync
	device_tests held refused-while-mounted 'Disk.HeldDiskIsRefused' "$1"
	if [ "$(cat /mnt/kept)" = "$kept" ]; then
		result held file-kept "" "the file reads back while mounted"
	else
		result held file-kept "the file reads '$(cat /mnt/kept)'" ""
	fi
	umount /mnt
	digest held "$1"
}

# stacks: what administrators build on disks, each worked on with the Disk
# table and checked on the disks beneath: the middle one of three
# partitions (the last run asks past its end), dm-linear at an odd sector,
# dm-crypt without and with allow_discards, md RAID 1, a thin volume. Then
# what they hold: a whole disk with a mounted partition, active swap, a
# disk under an active dm device, an md member, a thin pool under its
# volume, each refused. dmsetup and mdadm make their own nodes.
stacks() {
	parts=$(sed -n "s|^stack-parts ||p" /scratch/disks)
	linear=$(sed -n "s|^stack-linear ||p" /scratch/disks)
	crypt=$(sed -n "s|^stack-crypt ||p" /scratch/disks)
	r1a=$(sed -n "s|^stack-raid1a ||p" /scratch/disks)
	r1b=$(sed -n "s|^stack-raid1b ||p" /scratch/disks)
	thin=$(sed -n "s|^stack-thin ||p" /scratch/disks)
	r5=$(sed -n "s|^stack-raid5. ||p" /scratch/disks)
	if [ -z "$parts" ] || [ -z "$linear" ] || [ -z "$crypt" ] || [ -z "$r1a" ] ||
		[ -z "$r1b" ] || [ -z "$thin" ] || [ "$(echo "$r5" | wc -w)" != 3 ]; then
		result stacks found "no such disk: $(grep -c '^stack-' /scratch/disks) of 9" ""
		return
	fi
	export DM_DISABLE_UDEV=1 MDADM_NO_UDEV=1
	disk_runs partition "${parts}2" "$parts@$((8 * MIB))"
	dmsetup create linear --table "0 32768 linear $linear 2049" ||
		result dm-linear made "dmsetup failed" ""
	disk_runs dm-linear /dev/mapper/linear "$linear@$((2049 * 512))"
	# A fixed key: the check needs ciphertext, not secrecy.
	key=000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f
	dmsetup create crypt --table "0 32768 crypt aes-xts-plain64 $key 0 $crypt 2048" ||
		result dm-crypt made "dmsetup failed" ""
	dmsetup create crypt-discards \
		--table "0 32768 crypt aes-xts-plain64 $key 0 $crypt 40960 1 allow_discards" ||
		result dm-crypt-discards made "dmsetup failed" ""
	disk_runs dm-crypt /dev/mapper/crypt "$crypt@$MIB*"
	disk_runs dm-crypt-discards /dev/mapper/crypt-discards "$crypt@$((20 * MIB))*"
	# md's superblock, at 4 KiB on each member, is the array's to rewrite.
	mkdir -p /run/mdadm
	if mdadm --create /dev/md0 --run --assume-clean --metadata=1.2 --level=1 \
		--raid-devices=2 "$r1a" "$r1b" >/scratch/err 2>&1; then
		a=$(($(cat "/sys/block/md0/md/dev-${r1a#/dev/}/offset") * 512))
		b=$(($(cat "/sys/block/md0/md/dev-${r1b#/dev/}/offset") * 512))
		disk_runs md-raid1 /dev/md0 "$r1a@$a~4096+4096 $r1b@$b~4096+4096"
	else
		result md-raid1 made "$(cat /scratch/err)" ""
	fi
	# RAID 5 in chunks of 64 KiB, first as the kernel has it, then with
	# devices_handle_discard_safely, which must be set before the array is.
	for safely in N Y; do
		name=md-raid5
		[ $safely = N ] || name=md-raid5-discard-safely
		echo $safely >/sys/module/raid456/parameters/devices_handle_discard_safely
		# shellcheck disable=SC2086 # one word a member
		if mdadm --create /dev/md1 --run --assume-clean --metadata=1.2 --level=5 --chunk=64 \
			--raid-devices=3 $r5 >/scratch/err 2>&1; then
			under=
			for m in $r5; do
				sys=/sys/block/md1/md/dev-${m#/dev/}
				under="$under $m@$(($(cat "$sys/offset") * 512))%$(cat "$sys/slot")/3/65536~4096+4096"
			done
			disk_runs "$name" /dev/md1 "$under"
			# shellcheck disable=SC2086
			if ! { mdadm --stop /dev/md1 >/dev/null 2>&1 && mdadm --zero-superblock $r5; }; then
				result "$name" stopped "mdadm --stop failed" ""
			fi
		else
			result "$name" made "$(cat /scratch/err)" ""
		fi
	done
	# A pool of 64 KiB blocks: its metadata the disk's first 4 MiB, which
	# only the pool may rewrite, its data the 32 MiB after them, which a
	# fresh volume filled from its start takes in order.
	if ! { dmsetup create thin-meta --table "0 8192 linear $thin 0" &&
		dmsetup create thin-data --table "0 65536 linear $thin 8192" &&
		dd if=/dev/zero of=/dev/mapper/thin-meta bs=4096 count=1 2>/dev/null &&
		dmsetup create pool \
			--table "0 65536 thin-pool /dev/mapper/thin-meta /dev/mapper/thin-data 128 0" &&
		dmsetup message pool 0 "create_thin 0" &&
		dmsetup create thin --table "0 32768 thin /dev/mapper/pool 0"; }; then
		result dm-thin made "dmsetup failed" ""
	fi
	disk_runs dm-thin /dev/mapper/thin "$thin@$((4 * MIB))~0+$((4 * MIB))"
	# The runs' fill took every one of the volume's 256 blocks.
	used=$(dmsetup status pool | sed -n 's|^[0-9]* [0-9]* thin-pool [0-9]* [0-9/]* \([0-9]*\)/.*|\1|p')
	if [ -n "$used" ]; then
		result dm-thin pool-blocks "" "$((256 - used)) of the 256 pool blocks the fill took freed"
	else
		result dm-thin pool-blocks "dmsetup status pool: $(dmsetup status pool)" ""
	fi

	mke2fs -q "${parts}1" && mount -t ext2 "${parts}1" /mnt
	device_tests held whole-disk-of-a-mounted-partition Disk.HeldDiskIsRefused "$parts"
	mkswap "${parts}3" >/dev/null && swapon "${parts}3"
	device_tests held active-swap Disk.HeldDiskIsRefused "${parts}3" "$parts@0"
	swapoff "${parts}3"
	umount /mnt
	device_tests held disk-under-dm-linear Disk.HeldDiskIsRefused "$linear"
	device_tests held md-member Disk.HeldDiskIsRefused "$r1a"
	device_tests held thin-pool Disk.HeldDiskIsRefused /dev/mapper/pool "$thin@0"
	mdadm --stop /dev/md0 >/dev/null 2>&1 || result md-raid1 stopped "mdadm --stop failed" ""
	for dm in linear crypt crypt-discards thin pool thin-meta thin-data; do
		dmsetup remove $dm || result stacks removed "dmsetup remove $dm failed" ""
	done
	digest stack-parts "$parts"
	digest stack-linear "$linear"
	digest stack-crypt "$crypt"
	digest stack-raid1a "$r1a"
	digest stack-raid1b "$r1b"
	digest stack-thin "$thin"
	for m in $r5; do
		digest "$(sed -n "s|^\(stack-raid5.\) $m\$|\1|p" /scratch/disks)" "$m"
	done
}

# describe DISK DEVICE: what the kernel says of the disk, or of the stack's
# device (a partition's queue is its disk's), for the table.
describe() {
	# By number: the nodes dmsetup makes are no links to the kernel's names.
	number=$(stat -L -c %t:%T "$2")
	sys=/sys/dev/block/$((0x${number%:*})):$((0x${number#*:}))
	q=$sys/queue
	[ -d "$q" ] || q=$sys/../queue
	zeroout=emulated
	[ "$(cat "$q/write_zeroes_max_bytes")" = 0 ] || zeroout=native
	echo "disk $1 $2 sector $(cat "$q/logical_block_size") size $(blockdev --getsize64 "$2")" \
		"discard-granularity $(cat "$q/discard_granularity")" \
		"discard-alignment $(cat "$sys/discard_alignment")" \
		"discard-max $(cat "$q/discard_max_bytes") zeroout $zeroout"
}

# find_disks: "DISK DEVICE" for every disk the check knows, by its driver.
find_disks() {
	for b in /sys/block/*; do
		n=${b##*/}
		case $n in
		nvme*) disk=nvme ;;
		vd*)
			disk=virtio-blk-$(cat "$b/queue/logical_block_size")
			case $(cat "$b/serial") in held | stack-*) disk=$(cat "$b/serial") ;; esac
			;;
		sd*)
			case $(readlink -f "$b/device") in
			*/ata*) disk=sata ;;
			*/virtio*) disk=virtio-scsi ;;
			*/pseudo*) disk=scsi_debug ;;
			*) disk= ;;
			esac
			;;
		mmcblk[0-9]) disk=sd-card ;;
		nullb*) disk=null_blk ;;
		zram*) disk=zram ;;
		loop*) [ "$(cat "$b/loop/backing_file" 2>/dev/null)" = /scratch/disk.img ] && disk=loop || disk= ;;
		*) disk= ;;
		esac
		[ -z "$disk" ] || echo "$disk /dev/$n"
	done
}

# The disks made inside the guest, of the same size as qemu's: a SCSI disk
# of 4096-byte sectors, thin-provisioned in granules of 16 blocks that start
# at block 5; a memory-backed null_blk with discard; zram; a loop device
# over a file in tmpfs.
make_disks() {
	nullb=/sys/kernel/config/nullb/nullb0
	mount -t configfs configfs /sys/kernel/config &&
		mkdir $nullb &&
		echo $((DISK_SIZE / MIB)) >$nullb/size &&
		echo 1 >$nullb/memory_backed &&
		echo 1 >$nullb/discard &&
		echo 1 >$nullb/power
	echo $DISK_SIZE >/sys/block/zram0/disksize
	dd if=/dev/zero of=/scratch/disk.img bs=1M count=$((DISK_SIZE / MIB)) 2>/dev/null
	losetup -f /scratch/disk.img
}

module_options() {
	case $1 in
	scsi_debug) echo "sector_size=4096 dev_size_mb=$((DISK_SIZE / MIB)) lbpu=1 unmap_granularity=16 unmap_alignment=5" ;;
	null_blk) echo "nr_devices=0" ;;
	zram) echo "num_devices=1" ;;
	esac
}

DISKS="nvme virtio-blk-512 virtio-blk-4096 virtio-scsi sata sd-card scsi_debug null_blk zram loop"

# The guest's files, the loop device's and the device tests' among them,
# live in a tmpfs of their own, which hides nothing of the image.
guest_main() {
	export PATH=/bin TMPDIR=/scratch
	mount -t proc proc /proc
	mount -t sysfs sysfs /sys
	mount -t devtmpfs devtmpfs /dev
	mount -t tmpfs tmpfs /scratch
	case $(cat /proc/cmdline) in
	*hostkit.probe*)
		echo "hostkit: probe"
		poweroff -f
		;;
	esac
	echo "guest: kernel $(uname -r)"
	while read -r m; do
		# shellcheck disable=SC2046 # one word per option
		insmod "/lib/modules/$m.ko" $(module_options "$m") || echo "guest: insmod $m failed"
	done </lib/modules/order
	make_disks
	# SCSI scans and SD cards come up asynchronously.
	tries=0
	while [ "$(find_disks | wc -l)" -lt 20 ] && [ $tries -lt 60 ]; do
		sleep 1
		tries=$((tries + 1))
	done
	find_disks >/scratch/disks
	# Three Device tests read the fault library's log in some rows (the
	# calls, the open's flags), and one makes its file system with
	# mkfs.ext4: none of that is here.
	device_tests loop device-tests-own-loops \
		'Device.*:Disk.*:Progress.ZeroFillOfARealDeviceReportsEveryByte:-Device.ChangesExactlyTheRange:Device.ReadOnlyDevice:Device.HeldDevicesAreRefused'
	for disk in $DISKS; do
		dev=$(sed -n "s|^$disk ||p" /scratch/disks)
		if [ -z "$dev" ]; then
			result "$disk" found "no such disk" ""
			continue
		fi
		describe "$disk" "$dev"
		# Those that keep the fixture's device; the Disk table last, so
		# that the disk ends as its last check read it.
		device_tests "$disk" device-tests \
			'Progress.ZeroFillOfARealDeviceReportsEveryByte:Device.NoDescriptorAboveTheStandardStreams' "$dev"
		disk_runs "$disk" "$dev"
		digest "$disk" "$dev"
	done
	dev=$(sed -n "s|^held ||p" /scratch/disks)
	if [ -n "$dev" ]; then
		held_checks "$dev"
	else
		result held found "no such disk" ""
	fi
	stacks
	echo "guest: $passed passed, $failed failed"
	sync
	poweroff -f
}

# Never anywhere but as the guest's init: it mounts over /proc and powers off.
[ "$$" != 1 ] || guest_main
