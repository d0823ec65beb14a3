// SPDX-License-Identifier: GPL-2.0-or-later
// sectrim: discard, securely discard or zero-fill a byte range of a block
// device.
#include "byte_size.h"
#include "device_range.h"
#include "i18n.h"
#include "stream_close.h"
#include "version.h"

#include <err.h>
#include <errno.h>
#include <getopt.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// One option a line, in the order of the short options' cases below.
// clang-format off
constexpr option LONG_OPTIONS[] = {
	{"help", no_argument, nullptr, 'h'},
	{"version", no_argument, nullptr, 'V'},
	{"offset", required_argument, nullptr, 'o'},
	{"length", required_argument, nullptr, 'l'},
	{"step", required_argument, nullptr, 'p'},
	{"secure", no_argument, nullptr, 's'},
	{"verbose", no_argument, nullptr, 'v'},
	{"zeroout", no_argument, nullptr, 'z'},
	{"force", no_argument, nullptr, 'f'},
	{nullptr, 0, nullptr, 0},
};
// clang-format on
constexpr char SHORT_OPTIONS[] = "hVsvo:l:p:zf";

[[noreturn]] void print_usage(FILE *out)
{
	fputs(_("\nUsage:\n"), out);
	fprintf(out, _(" %s [options] <device>\n"), program_invocation_short_name);
	fputc('\n', out);
	fputs(_("Discard the content of sectors on a device.\n"), out);
	fputs(_("\nOptions:\n"), out);
	fputs(_(" -o, --offset <num>  offset in bytes to discard from\n"), out);
	fputs(_(" -l, --length <num>  length of bytes to discard from the offset\n"), out);
	fputs(_(" -p, --step <num>    size of the discard iterations within the offset\n"), out);
	fputs(_(" -s, --secure        perform secure discard\n"), out);
	fputs(_(" -z, --zeroout       zero-fill rather than discard\n"), out);
	fputs(_(" -v, --verbose       print aligned length and offset\n"), out);
	fputs(_(" -f, --force         work on the device even while something holds it\n"), out);
	fputc('\n', out);
	fputs(_(" -h, --help     display this help and exit\n"), out);
	fputs(_(" -V, --version  output version information and exit\n"), out);
	fprintf(out, _("\nFor more details see %s.\n"), "sectrim(8)");
	exit(out == stderr ? EXIT_FAILURE : EXIT_SUCCESS);
}

} // namespace

int main(int argc, char **argv)
{
	setlocale(LC_ALL, "");
	bindtextdomain(HOSTKIT_TEXT_DOMAIN, LOCALEDIR);
	textdomain(HOSTKIT_TEXT_DOMAIN);
	atexit(finish_standard_streams);

	tool_options options;

	int c;
	while ((c = getopt_long(argc, argv, SHORT_OPTIONS, LONG_OPTIONS, nullptr)) != -1) {
		switch (c) {
		case 'h':
			print_usage(stdout);
		case 'V':
			printf(_("%s from %s\n"), program_invocation_short_name, PACKAGE_STRING);
			return EXIT_SUCCESS;
		case 'o':
			options.offset = byte_size_or_exit(optarg, _("failed to parse offset"));
			break;
		case 'l':
			options.length = byte_size_or_exit(optarg, _("failed to parse length"));
			break;
		case 'p':
			options.step = byte_size_or_exit(optarg, _("failed to parse step"));
			break;
		case 's':
			options.mode = MODE_SECURE_DISCARD;
			break;
		case 'v':
			options.verbose = true;
			break;
		case 'z':
			options.mode = MODE_ZERO_FILL;
			break;
		case 'f':
			options.force = true;
			break;
		default:
			print_usage(stderr);
		}
	}

	if (optind == argc)
		errx(EXIT_FAILURE, _("no device specified"));
	const char *path = argv[optind++];
	if (optind < argc) {
		warnx(_("unexpected number of arguments"));
		print_usage(stderr);
	}

	run_device_range(path, &options);
	return EXIT_SUCCESS;
}
