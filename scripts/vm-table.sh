#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The tables of docs/drivers.md (drivers, stacks, held devices), made from
# a log of vm-check.sh alone, so that the two cannot disagree; they name
# the kernel, whose reports they hold. Usage: vm-table.sh LOG
set -eu
awk '
function size(b) {
	if (b % 1048576 == 0) return b / 1048576 " MiB"
	if (b % 1024 == 0) return b / 1024 " KiB"
	return b " B"
}
# The rows, in order: "driver|stack|held ID NAME" from the here-document.
FNR == NR {
	kind = $1
	id = $2
	$1 = $2 = ""
	name[id] = substr($0, 3)
	row[kind, ++rows[kind]] = id
	next
}
$1 == "guest:" && $2 == "kernel" { kernel = $3 }
$1 == "disk" {
	d = $2
	sector[d] = $5 " B"
	granularity[d] = $9 == 0 || $13 == 0 ? "none" : size($9)
	if ($11 != 0 && $13 != 0) granularity[d] = granularity[d] " from " size($11)
	zeroout[d] = $15 == "native" ? "native" : "by the kernel"
}
$1 == "ok" || $1 == "FAIL" {
	d = $2
	check = $3
	sub(/:$/, "", check)
	checks[d]++
	if ($1 == "FAIL") failed[d]++
	if (check == "discard") {
		discard[d] = $1 == "FAIL" ? "failed" : /refused/ ? "refused" : /zeros in part/ ? "zeros in part" : /other data/ ? "other data" : /zeros/ ? "zeros" : "old data"
		if (match($0, /whole units of [0-9]+ K?i?B/))
			keeps[d] = "discards only whole " substr($0, RSTART + 15, RLENGTH - 15) " units"
	}
	if (check == "secure-discard")
		secure[d] = $1 == "FAIL" ? "failed" : "refused, not supported"
	if (check == "zero-out")
		zeros[d] = $1 == "FAIL" ? "failed" : "zeros"
	if (check == "pool-blocks") {
		blocks = $0
		sub(/^[^:]*: /, "", blocks)
		keeps[d] = (keeps[d] ? keeps[d] "; " : "") blocks
	}
	if (d == "held")
		held_result[check] = $1 == "FAIL" ? "FAILED" : "refused, nothing changed; forced, reaches it"
}
function result(d) {
	return !checks[d] ? "not run" : failed[d] ? "FAILED " failed[d] " of " checks[d] : checks[d] " checks passed"
}
END {
	print "Under Debian'"'"'s kernel " (kernel ? kernel : "?") ":"
	print ""
	print "| Driver | Sector | Discard granularity | Discard reads back | Zero-out | Secure discard | Result |"
	print "|---|---|---|---|---|---|---|"
	for (i = 1; i <= rows["driver"]; i++) {
		d = row["driver", i]
		printf "| %s | %s | %s | %s | %s | %s | %s |\n", name[d], sector[d] ? sector[d] : "?", \
			granularity[d] ? granularity[d] : "?", discard[d] ? discard[d] : "?", \
			zeroout[d] ? zeroout[d] : "?", secure[d] ? secure[d] : "?", result(d)
	}
	print ""
	print "| Stack, on virtio-blk | Discard reads back | Zero-out | Secure discard | What the stack keeps | Result |"
	print "|---|---|---|---|---|---|"
	for (i = 1; i <= rows["stack"]; i++) {
		d = row["stack", i]
		# Zeros as the queue takes them: natively or written by the kernel.
		z = zeros[d] != "zeros" ? zeros[d] : zeroout[d]
		printf "| %s | %s | %s | %s | %s | %s |\n", name[d], discard[d] ? discard[d] : "?", \
			z ? z : "?", secure[d] ? secure[d] : "?", keeps[d] ? keeps[d] : "", result(d)
	}
	print ""
	print "| Held device | Result |"
	print "|---|---|"
	for (i = 1; i <= rows["held"]; i++) {
		d = row["held", i]
		printf "| %s | %s |\n", name[d], held_result[d] ? held_result[d] : "not run"
	}
}' - "$1" <<'EOF'
driver nvme NVMe
driver virtio-blk-512 virtio-blk
driver virtio-blk-4096 virtio-blk, 4096-byte sectors
driver virtio-scsi virtio-scsi
driver sata AHCI SATA
driver sd-card SD card on SDHCI
driver scsi_debug scsi_debug, thin-provisioned
driver null_blk null_blk, memory-backed
driver zram zram
driver loop loop device on tmpfs
stack partition the middle of three MBR partitions
stack dm-linear dm-linear from sector 2049
stack dm-crypt dm-crypt
stack dm-crypt-discards dm-crypt with allow_discards
stack md-raid1 md RAID 1 on two disks
stack md-raid5 md RAID 5 on three disks, 64 KiB chunks
stack md-raid5-discard-safely md RAID 5, devices_handle_discard_safely=Y
stack dm-thin a thin volume, 64 KiB pool blocks
held refused-while-mounted a disk with a mounted file system
held whole-disk-of-a-mounted-partition a whole disk, one of its partitions mounted
held active-swap a partition with active swap
held disk-under-dm-linear a disk under an active dm-linear
held md-member a member of an active md RAID 1
held thin-pool a thin pool under an active thin volume
EOF
