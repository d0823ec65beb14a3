#!/usr/bin/python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Measure sectrim against the limits it can reach and print one Markdown table.

Every figure is a ratio or a count taken side by side in this run: absolute
times on a shared machine are noise, instruction and system call counts are
not. The counts are read from strace's and callgrind_annotate's own
summaries and Google Benchmark's JSON. What must always hold (one request
per chunk, no allocation per chunk, the clock read only when pacing, the C
library the only dependency) is the test suite's to guard, not this table's.
Rows that need a loop device need root.

usage: bench/run.py BUILD_DIR
environment: BENCH_ROUNDS (default 3) runs of each side of the zero-fill
pair, BENCH_DISCARD_ROUNDS (default 7) of the discard pair.
"""
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

STEP = 4096
CHUNKS = 16384
SECTOR = 512
GIB = 1 << 30

# Device sizes, steps, chunk_loop's request and sectrim's flags for which
# the two must hand over the very same requests, a short last one included,
# before their counts mean anything side by side.
SAME_REQUESTS = [
    (10 * STEP + SECTOR, 4096, 'discard', []),
    (40960, 4096, 'discard', []),
    (4096, 8192, 'discard', []),
    (512, 4096, 'discard', []),
    (0, 4096, 'discard', []),
    (1048576, 1048576, 'zeroout', ['-z']),
    (12800, 4096, 'secure', ['-s']),
]

# The library's hot paths: id, function, yardstick, the highest ratio that
# meets the target (None: no target), label.
HOT_PATHS = [
    ('5p', 'parse_byte_size_mix', 'strtoumax_digits', 2,
     'parse_byte_size on 8 size texts vs strtoumax on their digits'),
    ('5h', 'human_size_text_mix', 'snprintf_strdup_mix', 1.3,
     'human_size_text on 8 counts vs snprintf + strdup'),
    ('5w', 'next_word_plain', 'strcspn_words', None,
     'next_word over 4096 words vs a strspn/strcspn walk'),
    ('5q', 'next_word_quoting', 'strcspn_words', None, 'the same with quoting on'),
    ('5l', 'list_to_ids_long', 'strcspn_list_long', None,
     'list_to_ids on 4096 tokens vs a strcspn walk'),
]


def say(text):
    print('bench: ' + text, file=sys.stderr)


def run(command, env=None, **kwargs):
    return subprocess.run([str(c) for c in command], env=env, check=True,
                          stdout=subprocess.DEVNULL, **kwargs)


def output(command):
    return subprocess.run([str(c) for c in command], check=True, text=True,
                          stdout=subprocess.PIPE).stdout


def per_chunk(many, one):
    return (many - one) / (CHUNKS - 1)


class Bench:
    def __init__(self, build, work):
        paths = json.loads((build / 'bench' / 'bench_paths.json').read_text())
        self.sectrim, self.chunk_loop = paths['sectrim'], paths['chunk_loop']
        self.one_line, self.start_floor = paths['one_line'], paths['start_floor']
        self.hot_paths, self.fault_inject = paths['hot_paths'], paths['fault_inject']
        self.work = work
        self.rows = []
        self.unmet = 0
        self.root = os.geteuid() == 0

    def row(self, ident, measure, tool='', yardstick='', ratio='', target='', met=''):
        """met: True, False, or '' for a row without a target."""
        if met is False:
            self.unmet += 1
        met = {True: 'yes', False: 'no'}.get(met, met)
        cells = [ident, measure, tool, yardstick, ratio, target, met]
        self.rows.append(re.sub(' +', ' ', '| ' + ' | '.join(map(str, cells)) + ' |'))

    def attach(self, image, size):
        """A sparse image on a new loop device; cleanup() finds it by the image."""
        with open(image, 'wb') as f:
            f.truncate(size)
        return output(['losetup', '-f', '--show', image]).strip()

    # Through the images, never a remembered name: an interrupt may come
    # while losetup is still attaching. A device something still holds open
    # (udev probing it after a write) goes only when that lets go, and the
    # memory file system under its image with it.
    def cleanup(self):
        for _ in range(100):
            devices = [dev for image in self.work.rglob('*.img')
                       for dev in output(['losetup', '-n', '-O', 'NAME', '-j', image]).split()]
            for dev in devices:
                subprocess.run(['losetup', '-d', dev], check=False)
            ram = self.work / 'ram'
            if os.path.ismount(ram):
                subprocess.run(['umount', ram], check=False, stderr=subprocess.DEVNULL)
            elif not devices:
                return
            time.sleep(0.1)
        say(f'cannot detach the loop devices on {self.work} or unmount {ram}')

    def syscalls(self, *command, lines_written=None):
        """System calls of one run, its output going to a file: strace -c's
        totals, of which a 32-bit program has two (its exec is counted in
        the 64-bit table). With lines_written, the write of each line
        printed beyond that many is left out: a walk slowed by strace may
        run long enough for a progress line, the pacing's cost, not the
        walk's."""
        summary, out = self.work / 'strace.txt', self.work / 'stdout'
        with open(out, 'w') as stdout:
            subprocess.run(['strace', '-c', '-U', 'name,calls', '-o', str(summary),
                            *map(str, command)], check=True, stdout=stdout)
        lines = [line.split() for line in summary.read_text().splitlines()]
        total = sum(int(t[-1]) for t in lines if t and t[0] == 'total')
        if lines_written is None:
            return total
        return total - max(out.read_text().count('\n') - lines_written, 0)

    def callgrind(self, env, *command):
        """callgrind_annotate's reading of one run, with exactly env: the
        whole process's instructions and {function: [(cost, object)]}."""
        out = self.work / 'callgrind.out'
        ran = subprocess.run(['valgrind', '--tool=callgrind', f'--callgrind-out-file={out}',
                              *map(str, command)], env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE, text=True)
        if ran.returncode != 0:
            sys.exit(ran.stderr)
        report = output(['callgrind_annotate', '--threshold=100', '--inclusive=no',
                         '--show-percs=no', '--auto=no', out])
        total, functions = 0, {}
        for line in report.splitlines():
            m = re.match(r'\s*([\d,]+)\s+(.*)$', line)
            if not m:
                continue
            cost, rest = int(m[1].replace(',', '')), m[2]
            if rest == 'PROGRAM TOTALS':
                total = cost
                continue
            # FILE:FUNCTION [OBJECT]; code inlined from another file has no object.
            m = re.match(r'[^:]*:(.*?)(?: \[(.*)\])?$', rest)
            functions.setdefault(m[1], []).append((cost, m[2]))
        return total, functions

    def instructions(self, env, *command):
        return self.callgrind(env, *command)[0]

    # Instructions in the named program's own functions, with what was
    # inlined into them from other files, which is listed under the
    # function without an object. (A name several objects share, such as
    # their start-up stubs, counts whole; that costs the same for any
    # chunk count.)
    def own_instructions(self, env, program, *command):
        total, functions = self.callgrind(env, program, *command)
        mine = os.path.realpath(program)
        own = sum(sum(c for c, _ in entries) for entries in functions.values()
                  if any(o == mine for _, o in entries))
        return total, own

    def fake_env(self, size, **more):
        return {'LD_PRELOAD': self.fault_inject, 'FAULT_FAKE': '1',
                'FAULT_SECTOR': str(SECTOR), 'FAULT_SIZE': str(size), **more}

    def instructions_per_chunk(self, *command):
        """(whole process, own code) per chunk, with the requests faked."""
        many = self.own_instructions(self.fake_env(STEP * CHUNKS), *command)
        one = self.own_instructions(self.fake_env(STEP), *command)
        return per_chunk(many[0], one[0]), per_chunk(many[1], one[1])

    def requests_of(self, size, *command):
        log = self.work / 'requests.log'
        log.unlink(missing_ok=True)
        run(command, env=self.fake_env(size, FAULT_LOG=str(log)))
        lines = log.read_text().splitlines() if log.exists() else []
        return [line.split()[:3] for line in lines
                if line.split()[0] in ('DISCARD', 'ZEROOUT', 'SECDISCARD')]

    # 1. The walk should cost the kernel one request per chunk and nothing
    # else, verbose or not: the clock is read through the vDSO, and a report
    # line is written at most once a second.
    def system_calls_per_chunk(self):
        say('1: system calls per chunk (strace -c)')
        dev = self.attach(self.work / 'calls.img', STEP * CHUNKS)
        small = self.attach(self.work / 'calls-one.img', STEP)
        loop = per_chunk(self.syscalls(self.chunk_loop, dev, STEP, 'discard'),
                         self.syscalls(self.chunk_loop, small, STEP, 'discard'))
        start_up = []
        for verbose in ([], ['-v']):
            many = self.syscalls(self.sectrim, *verbose, '-p', STEP, dev,
                                 lines_written=len(verbose))
            one = self.syscalls(self.sectrim, *verbose, '-p', STEP, '-l', STEP, dev)
            start_up.append(one - 1)
            self.row('1v' if verbose else '1',
                     f'system calls per chunk, -p {STEP}, {CHUNKS} chunks'
                     + (', -v' if verbose else '') + ', vs chunk_loop',
                     f'{per_chunk(many, one):.4f}', f'{loop:.4f}', '', '= 1',
                     many - one == CHUNKS - 1)
        self.row('1s', 'system calls besides the requests (plain / -v) vs one_line',
                 f'{start_up[0]} / {start_up[1]}', self.syscalls(self.one_line), '',
                 'a fixed few')

    # 2. User-space instructions per chunk with the kernel faked away; the
    # start-up cancels out of the difference between N chunks and one.
    def instructions_per_chunk_rows(self):
        say('2: user-space instructions per chunk (callgrind, requests faked)')
        dev = self.attach(self.work / 'fake.img', 1 << 20)
        for size, step, mode, flags in SAME_REQUESTS:
            tool = self.requests_of(size, self.sectrim, *flags, '-p', step, dev)
            loop = self.requests_of(size, self.chunk_loop, dev, step, mode)
            if tool != loop or (size and not tool):
                sys.exit(f'bench: for a size of {size}, step {step}, {mode}, sectrim and '
                         f'chunk_loop do not issue the same requests:\n{tool}\n{loop}')
        loop = self.instructions_per_chunk(self.chunk_loop, dev, STEP, 'discard')
        clock = self.instructions_per_chunk(self.chunk_loop, dev, STEP, 'discard', 'clock')
        for verbose in ([], ['-v']):
            tool = self.instructions_per_chunk(self.sectrim, *verbose, '-p', STEP, dev)
            ratio = tool[0] / loop[0]
            self.row('2v' if verbose else '2', 'user instructions per chunk'
                     + (', -v' if verbose else '') + ', vs chunk_loop',
                     f'{tool[0]:.1f}', f'{loop[0]:.1f}', f'{ratio:.2f}', '<= 1.5x',
                     ratio <= 1.5)
        self.row('2c', 'the same, -v, vs chunk_loop reading the clock after every chunk',
                 f'{tool[0]:.1f}', f'{clock[0]:.1f}', f'{tool[0] / clock[0]:.2f}')
        self.row('2o', "of which the program's own code, -v, vs chunk_loop reading the clock",
                 f'{tool[1]:.1f}', f'{clock[1]:.1f}', f'{tool[1] / clock[1]:.2f}')

    # 3. Start-up of sectrim -V against a C program printing one line, both
    # linked against the same C library, with the same environment.
    def start_up(self):
        say('3: start-up and size')
        env = {'LC_ALL': 'C', 'LANG': 'C'}
        tool = self.instructions(env, self.sectrim, '-V')
        base = self.instructions(env, self.one_line)
        self.row('3', 'start-up instructions, sectrim -V vs one_line, LC_ALL=C LANG=C',
                 tool, base, f'{tool / base:.3f}', '<= 1.1x', tool / base <= 1.1)
        # What the tool has to do before and after its line, in plain C.
        base = self.instructions(env, self.start_floor, '-V')
        self.row('3f', 'the same vs start_floor: one_line plus the required start-up and '
                 'exit steps', tool, base, f'{tool / base:.3f}')

        def stripped(program):
            run(['strip', '-o', self.work / 'stripped', program])
            return os.path.getsize(self.work / 'stripped')

        def loaded(program):
            # size's Berkeley format: text data bss dec hex filename.
            return int(output(['size', program]).splitlines()[1].split()[3])

        tool, base = stripped(self.sectrim), stripped(self.one_line)
        self.row('3s', 'binary size, stripped (bytes)', tool, base, f'{tool / base:.2f}')
        self.row('3t', 'text + data + bss (bytes)', loaded(self.sectrim), loaded(self.one_line))

    # 4. What a user would run instead, on a 1 GiB device. Every measured
    # run starts from a device full of written blocks, synced, so that each
    # side frees or overwrites the same real extents.
    def against_alternatives(self, rounds, discard_rounds):
        say(f'4: 1 GiB zero-fill against dd ({rounds} rounds), discard in 1 MiB steps '
            f'against chunk_loop ({discard_rounds} rounds)')

        dd = ['dd', 'if=/dev/zero', 'bs=1M', 'count=1024', 'oflag=direct', 'status=none']

        def sync(image):
            fd = os.open(image, os.O_RDONLY)
            os.fsync(fd)
            os.close(fd)

        def fill(dev, image):
            run([*dd, f'of={dev}'])
            sync(image)

        def seconds(*command):
            start = time.perf_counter()
            run(command)
            return time.perf_counter() - start

        image = self.work / 'large.img'
        dev = self.attach(image, GIB)
        fill(dev, image)
        tool, plain = [], []
        for _ in range(rounds):
            tool.append(seconds(self.sectrim, '-z', dev))
            plain.append(seconds(*dd, f'of={dev}'))
            sync(image)
        t, d = statistics.median(tool), statistics.median(plain)
        self.row('4z', 'zero-fill 1 GiB, median s: sectrim -z vs dd bs=1M oflag=direct',
                 f'{t:.3f}', f'{d:.3f}', f'{t / d:.3f}', '< 1', t / d < 1)

        # Freeing extents on the disk under /tmp takes from one to several
        # seconds from run to run, which drowns any difference between the
        # two sides; a memory-backed image leaves only the kernel's own work.
        ram = self.work / 'ram'
        ram.mkdir()
        backing = 'disk'
        if subprocess.run(['mount', '-t', 'tmpfs', '-o', 'size=1100M', 'hostkit-bench',
                           ram]).returncode == 0:
            image = ram / 'large.img'
            dev = self.attach(image, GIB)
            backing = 'memory'
        tool, loop = [], []
        for i in range(discard_rounds):
            # Alternate which side goes first.
            sides = [(tool, [self.sectrim, '-p', '1M', dev]),
                     (loop, [self.chunk_loop, dev, 1 << 20, 'discard'])]
            for times, command in sides[::-1] if i % 2 else sides:
                fill(dev, image)
                times.append(seconds(*command))
        t, d = statistics.median(tool), statistics.median(loop)
        self.row('4d', f'discard 1 GiB in 1 MiB steps, {backing}-backed, median s: sectrim '
                 'vs chunk_loop', f'{t:.4f}', f'{d:.4f}', f'{t / d:.2f}', '~ 1.0 (<= 1.1x)',
                 t / d <= 1.1)

    # 5. The library's hot paths, each against the bare C library calls
    # under it: medians of interleaved repetitions, CPU time; then the size
    # pair in instructions, which the machine's load does not move.
    def hot_path_rows(self):
        say('5: library hot paths (Google Benchmark)')
        report = json.loads(output([self.hot_paths, '--benchmark_repetitions=5',
                                    '--benchmark_enable_random_interleaving=true',
                                    '--benchmark_report_aggregates_only=true',
                                    '--benchmark_min_time=0.1', '--benchmark_format=json']))
        median = {b['run_name']: b['cpu_time'] for b in report['benchmarks']
                  if b.get('aggregate_name') == 'median' and b['time_unit'] == 'ns'}
        for ident, name, base, limit, label in HOT_PATHS:
            lib, ref = median[name], median[base]
            ratio = lib / ref
            self.row(ident, label + ', median ns', f'{lib:.1f}', f'{ref:.1f}', f'{ratio:.2f}',
                     f'<= {limit}x' if limit else '', ratio <= limit if limit else '')

        say('5i: parse_byte_size in instructions (callgrind)')
        # 11000 rounds less 1000, so that start-up cancels.
        per = []
        for side in ('parse', 'strtoumax'):
            few, many = (self.instructions({'LC_ALL': 'C'}, self.hot_paths, '--rounds', n, side)
                         for n in (1000, 11000))
            per.append((many - few) / 10000)
        ratio = per[0] / per[1]
        self.row('5i', 'parse_byte_size on 8 size texts vs strtoumax on their digits, '
                 'instructions a round', f'{per[0]:.0f}', f'{per[1]:.0f}', f'{ratio:.2f}',
                 '<= 2x', ratio <= 2)

    def measure(self):
        if self.root:
            self.system_calls_per_chunk()
        else:
            self.row(1, 'system calls per chunk', 'skipped: needs root for a loop device')
        if self.root and self.fault_inject:
            self.instructions_per_chunk_rows()
        else:
            self.row(2, 'user instructions per chunk',
                     'skipped: needs root and the fault-injection library')
        self.start_up()
        if self.root:
            self.against_alternatives(int(os.environ.get('BENCH_ROUNDS', 3)),
                                      int(os.environ.get('BENCH_DISCARD_ROUNDS', 7)))
        else:
            self.row(4, '1 GiB device against dd and chunk_loop', 'skipped: needs root')
        if self.hot_paths:
            self.hot_path_rows()
        else:
            self.row(5, 'library hot paths', 'skipped: Google Benchmark not built')


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: bench/run.py BUILD_DIR')
    listing = Path(sys.argv[1]) / 'bench' / 'bench_paths.json'
    if not listing.exists():
        sys.exit(f'bench: no {listing}: configure {sys.argv[1]} with -DHOSTKIT_BENCH=ON')
    missing = [t for t in ('strace', 'valgrind', 'callgrind_annotate', 'strip', 'size', 'losetup')
               if not shutil.which(t)]
    if missing:
        sys.exit('bench: missing ' + ', '.join(missing) + ' (scripts/install-deps.sh bench)')
    u = os.uname()
    load = ' '.join(Path('/proc/loadavg').read_text().split()[:3])
    print(f"hostkit benchmarks: {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}, "
          f'{u.sysname} {u.release} {u.machine}, {os.cpu_count()} cores, load average {load}',
          flush=True)
    # One locale for every program and every number read back.
    os.environ['LC_ALL'] = 'C'
    # Exit through the cleanup whatever ends the run.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    with tempfile.TemporaryDirectory(prefix='hostkit-bench.') as work:
        bench = Bench(Path(sys.argv[1]), Path(work))
        try:
            bench.measure()
        except subprocess.CalledProcessError as failed:
            sys.exit(f"bench: {' '.join(map(str, failed.cmd))}: exit status {failed.returncode}")
        finally:
            bench.cleanup()
    print()
    print('| row | measure | sectrim | yardstick | ratio | target | met |')
    print('|---|---|---|---|---|---|---|')
    print('\n'.join(bench.rows))
    print()
    print(f'targets not met: {bench.unmet}')


if __name__ == '__main__':
    main()
