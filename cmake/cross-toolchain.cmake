# SPDX-License-Identifier: GPL-2.0-or-later
# Cross build for a Debian architecture on a Debian machine with its
# multiarch packages: the cross compilers of crossbuild-essential-ARCH and
# the libraries under /usr/lib/<multiarch>. Where the build machine cannot
# run the target's programs, add -DCMAKE_CROSSCOMPILING_EMULATOR=<qemu>.
# Usage: cmake --toolchain cmake/cross-toolchain.cmake -DHOSTKIT_ARCH=armhf ...

# try_compile projects read this file again and need the architecture too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES HOSTKIT_ARCH)
if(NOT HOSTKIT_ARCH)
	message(FATAL_ERROR "set HOSTKIT_ARCH to a Debian architecture (i386, armhf, arm64, s390x, ...)")
endif()

function(hostkit_dpkg_arch out variable)
	execute_process(COMMAND dpkg-architecture -a${HOSTKIT_ARCH} -q${variable}
		OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
		COMMAND_ERROR_IS_FATAL ANY)
	set(${out} ${value} PARENT_SCOPE)
endfunction()
hostkit_dpkg_arch(gnu_type DEB_HOST_GNU_TYPE)
hostkit_dpkg_arch(gnu_cpu DEB_HOST_GNU_CPU)
hostkit_dpkg_arch(multiarch DEB_HOST_MULTIARCH)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${gnu_cpu})
set(CMAKE_C_COMPILER ${gnu_type}-gcc)
set(CMAKE_CXX_COMPILER ${gnu_type}-g++)
# The :ARCH packages (GoogleTest's CMake files among them) live under
# /usr/lib/<multiarch>; tools such as msgfmt and localedef are the build
# machine's own.
set(CMAKE_LIBRARY_ARCHITECTURE ${multiarch})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

