# SPDX-License-Identifier: GPL-2.0-or-later
# Included by the coverage preset right after project(): every program and
# module built after this point writes its counts also when it leaves
# through _exit (the exit-time stream check and death tests do).
add_library(coverage_exit OBJECT ${CMAKE_CURRENT_LIST_DIR}/coverage_exit.c)
link_libraries(coverage_exit)
add_link_options(-Wl,--wrap=_exit)
# Counts left by an earlier run would be added to this one's, or clash with
# objects since rebuilt: every configure (each make coverage or workflow
# run) starts from none.
file(GLOB_RECURSE stale_counts ${CMAKE_BINARY_DIR}/*.gcda)
if(stale_counts)
	file(REMOVE ${stale_counts})
endif()
