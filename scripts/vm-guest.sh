#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The check inside the virtual machine of vm-check.sh, run there as init:
# the disks made, the project's device tests and sectrim's runs on every
# disk, one line per check on the console ("ok DISK CHECK: ..." or "FAIL
# ..."), a closing tally, power off. vm-check.sh sources it too, for the run
# plan and the read-back, to check the image files again once the guest is
# gone. Only busybox applets linked in the image are called.

MIB=1048576
DISK_SIZE=$((16 * MIB))

# plan SECTOR SIZE: one line per run: its name, what its range must read
# afterwards (zeros; any: a discard promises nothing; kept: refused), the
# range's offset and length as the tool must clamp it, then the options.
# Each range starts three sectors past and ends five past a MiB, so no
# granule larger than a sector lines up with it; the ranges are disjoint,
# in ascending order, with the pattern between them.
plan() {
	u=$1
	end=$2
	echo "discard any $((MIB + 3 * u)) $((MIB + 2 * u)) -o $((MIB + 3 * u)) -l $((MIB + 2 * u))"
	echo "zero-out zeros $((3 * MIB + 3 * u)) $((MIB + 2 * u)) -z -o $((3 * MIB + 3 * u)) -l $((MIB + 2 * u))"
	echo "secure-discard kept $((5 * MIB + 3 * u)) $((MIB + 2 * u)) -s -o $((5 * MIB + 3 * u)) -l $((MIB + 2 * u))"
	# Four steps of 512 KiB, then a last request of two sectors.
	echo "stepped-discard any $((7 * MIB + 3 * u)) $((2 * MIB + 2 * u)) -o $((7 * MIB + 3 * u)) -l $((2 * MIB + 2 * u)) -p 512K"
	echo "verbose-stepped-zero-out zeros $((10 * MIB + 3 * u)) $((2 * MIB + 2 * u)) -v -z -o $((10 * MIB + 3 * u)) -l $((2 * MIB + 2 * u)) -p 512K"
	# Asked for 2 MiB, 1 MiB short of three sectors before the end.
	echo "clamped-zero-out zeros $((end - MIB + 3 * u)) $((MIB - 3 * u)) -z -o $((end - MIB + 3 * u)) -l 2M -p 256K"
}

# make_pattern FILE SIZE: every 512 bytes a numbered line, never a zero
# byte, so that zeros show and a range moved by a sector shows.
make_pattern() {
	awk -v n=$(($2 / 512)) 'BEGIN { for (i = 0; i < n; i++) printf "%-511s\n", "sector " i }' >"$1"
}

# differs FILE OFFSET LENGTH REFERENCE WHAT: nothing when FILE holds
# REFERENCE's bytes (zeros for /dev/zero) over the range; else which byte
# does not. busybox cmp goes on past the first difference: the first line
# is enough.
differs() {
	[ "$3" -gt 0 ] || return 0
	ref_skip=$2
	[ "$4" != /dev/zero ] || ref_skip=0
	d=$(cmp -n "$3" "$1" "$4" "$2" "$ref_skip" 2>&1 | head -n 1)
	[ -n "$d" ] || return 0
	n=$(echo "$d" | sed -n 's/.* differ: [a-z]* \([0-9]*\),.*/\1/p')
	if [ -n "$n" ]; then
		echo "byte $(($2 + n - 1)) $5"
	else
		echo "$5: $d"
	fi
}

# contents_problem FILE SECTOR SIZE RUNS PATTERN: nothing when FILE is as the
# first RUNS runs of the plan must leave it (the pattern outside their
# ranges and in a refused one, zeros in a zero-filled one); else the first
# byte that is not.
contents_problem() {
	plan "$2" "$3" | {
		from=0
		i=0
		problem=
		while [ -z "$problem" ] && [ "$i" -lt "$4" ] && read -r run expect off len _; do
			i=$((i + 1))
			problem=$(differs "$1" "$from" $((off - from)) "$5" "before the $run range changed")
			case $expect in
			zeros) problem=${problem:-$(differs "$1" "$off" "$len" /dev/zero "of the $run range is not zero")} ;;
			kept) problem=${problem:-$(differs "$1" "$off" "$len" "$5" "of the $run range changed")} ;;
			esac
			from=$((off + len))
		done
		[ -n "$problem" ] || problem=$(differs "$1" "$from" $(($3 - from)) "$5" "after the ${run:-first} range changed")
		echo "$problem"
	}
}

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

# run_plan DISK DEVICE: the pattern over the whole device, then every run of
# the plan, each checked on its own: status, messages, the device read back.
run_plan() {
	sector=$(blockdev --getss "$2")
	size=$(blockdev --getsize64 "$2")
	dd if=/scratch/pattern of="$2" bs=1M count=$((size / MIB)) conv=fsync 2>/dev/null
	plan "$sector" "$size" >/scratch/plan
	k=0
	while read -r run expect off len opts; do
		k=$((k + 1))
		# shellcheck disable=SC2086 # the options, one word each
		out=$(timeout 120 sectrim $opts "$2" 2>/scratch/err)
		status=$?
		err=$(cat /scratch/err)
		blockdev --flushbufs "$2"
		dd if="$2" of=/scratch/now bs=1M 2>/dev/null
		problem=$(contents_problem /scratch/now "$sector" "$size" "$k" /scratch/pattern)
		detail="[$off, $((off + len))): the rest kept"
		want_out=
		case $opts in -v*) want_out="$2: Zero-filled $len bytes from the offset $off" ;; esac
		case $expect in
		zeros)
			[ "$status:$err" = 0: ] || problem="exit status $status: $err"
			[ "$out" = "$want_out" ] || problem=${problem:-"printed '$out', not '$want_out'"}
			detail="$detail, zeros inside"
			;;
		kept)
			want_err="sectrim: $2: BLKSECDISCARD ioctl failed: Operation not supported"
			[ "$status:$err" = "1:$want_err" ] || problem="exit status $status: '$err', not '$want_err'"
			detail="$detail, refused: not supported"
			;;
		any)
			refused="sectrim: $2: BLKDISCARD ioctl failed: Operation not supported"
			if [ "$status:$err" = "1:$refused" ]; then
				problem=${problem:-$(differs /scratch/now "$off" "$len" /scratch/pattern "of the refused $run range changed")}
				detail="$detail, refused: not supported"
			elif [ "$status:$err" != 0: ]; then
				problem="exit status $status: $err"
			elif [ -z "$(differs /scratch/now "$off" "$len" /dev/zero x)" ]; then
				detail="$detail, reads back zeros"
			elif [ -z "$(differs /scratch/now "$off" "$len" /scratch/pattern x)" ]; then
				detail="$detail, reads back the old data"
			else
				detail="$detail, reads back zeros in part"
			fi
			;;
		esac
		result "$1" "$run" "$problem" "$detail"
	done </scratch/plan
}

# describe DISK DEVICE: what the kernel says of the disk, for the table.
describe() {
	q=/sys/block/${2#/dev/}/queue
	zeroout=emulated
	[ "$(cat "$q/write_zeroes_max_bytes")" = 0 ] || zeroout=native
	echo "disk $1 $2 sector $(cat "$q/logical_block_size") size $(blockdev --getsize64 "$2")" \
		"discard-granularity $(cat "$q/discard_granularity")" \
		"discard-alignment $(cat "/sys/block/${2#/dev/}/discard_alignment")" \
		"discard-max $(cat "$q/discard_max_bytes") zeroout $zeroout"
}

# run_device_tests DISK CHECK [DEVICE]: the project's device tests that keep
# the fixture's device, pointed at DEVICE; without it all those that need no
# fault library (sectrim is static: nothing can be preloaded into it), on
# loop devices they attach over files in the guest's tmpfs.
run_device_tests() {
	if [ -n "${3:-}" ]; then
		filter='Progress.ZeroFillOfARealDeviceReportsEveryByte:Device.NoDescriptorAboveTheStandardStreams'
	else
		filter='Device.*:Progress.ZeroFillOfARealDeviceReportsEveryByte'
	fi
	HOSTKIT_TEST_DISK=${3:-} HOSTKIT_REQUIRE_DEVICES=1 timeout 300 \
		device_tests --gtest_filter="$filter" >/scratch/gtest 2>&1
	status=$?
	summary=$(sed -n 's/^\[  PASSED  \] //p' /scratch/gtest)
	if [ "$status" = 0 ] && [ -n "$summary" ] && ! grep -q '^\[  SKIPPED \]' /scratch/gtest; then
		result "$1" "$2" "" "$summary"
	else
		tail -n 30 /scratch/gtest
		result "$1" "$2" "exit status $status" ""
	fi
}

# find_disks: "DISK DEVICE" for every disk the check knows, by its driver.
find_disks() {
	for b in /sys/block/*; do
		n=${b##*/}
		case $n in
		nvme*) disk=nvme ;;
		vd*) disk=virtio-blk-$(cat "$b/queue/logical_block_size") ;;
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
	make_pattern /scratch/pattern $DISK_SIZE
	# SCSI scans and SD cards come up asynchronously.
	tries=0
	while [ "$(find_disks | wc -l)" -lt 10 ] && [ $tries -lt 60 ]; do
		sleep 1
		tries=$((tries + 1))
	done
	find_disks >/scratch/disks
	run_device_tests loop device-tests-own-loops
	for disk in $DISKS; do
		dev=$(sed -n "s|^$disk ||p" /scratch/disks)
		if [ -z "$dev" ]; then
			result "$disk" found "no such disk" ""
			continue
		fi
		describe "$disk" "$dev"
		run_device_tests "$disk" device-tests "$dev"
		run_plan "$disk" "$dev"
	done
	echo "guest: $passed passed, $failed failed"
	sync
	poweroff -f
}

[ "$$" != 1 ] || guest_main
