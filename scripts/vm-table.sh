#!/bin/sh
# SPDX-License-Identifier: GPL-2.0-or-later
# The table of drivers in docs/drivers.md, made from a log of vm-check.sh
# alone, so that the two cannot disagree; it names the kernel, whose
# reports it holds. Usage: vm-table.sh LOG
set -eu
awk '
function size(b) {
	if (b % 1048576 == 0) return b / 1048576 " MiB"
	if (b % 1024 == 0) return b / 1024 " KiB"
	return b " B"
}
BEGIN {
	n = split("nvme virtio-blk-512 virtio-blk-4096 virtio-scsi sata sd-card scsi_debug null_blk zram loop", order, " ")
	name["nvme"] = "NVMe"
	name["virtio-blk-512"] = "virtio-blk"
	name["virtio-blk-4096"] = "virtio-blk, 4096-byte sectors"
	name["virtio-scsi"] = "virtio-scsi"
	name["sata"] = "AHCI SATA"
	name["sd-card"] = "SD card on SDHCI"
	name["scsi_debug"] = "scsi_debug, thin-provisioned"
	name["null_blk"] = "null_blk, memory-backed"
	name["zram"] = "zram"
	name["loop"] = "loop device on tmpfs"
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
	if (check == "discard")
		discard[d] = $1 == "FAIL" ? "failed" : /refused/ ? "refused" : /zeros in part/ ? "zeros in part" : /zeros/ ? "zeros" : "old data"
	if (check == "secure-discard")
		secure[d] = $1 == "FAIL" ? "failed" : "refused, not supported"
}
END {
	print "Under Debian'"'"'s kernel " (kernel ? kernel : "?") ":"
	print ""
	print "| Driver | Sector | Discard granularity | Discard reads back | Zero-out | Secure discard | Result |"
	print "|---|---|---|---|---|---|---|"
	for (i = 1; i <= n; i++) {
		d = order[i]
		result = !checks[d] ? "not run" : failed[d] ? "FAILED " failed[d] " of " checks[d] : checks[d] " checks passed"
		printf "| %s | %s | %s | %s | %s | %s | %s |\n", name[d], sector[d] ? sector[d] : "?", \
			granularity[d] ? granularity[d] : "?", discard[d] ? discard[d] : "?", \
			zeroout[d] ? zeroout[d] : "?", secure[d] ? secure[d] : "?", result
	}
}' "$1"
