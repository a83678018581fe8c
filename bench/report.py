#!/usr/bin/env python3
"""Writes the benchmark's results.md from the files that bench/run measured.

    report.py RESULTS_DIR OUTPUT_MD
"""
import json
import os
import statistics
import sys

LARGEST_PAYLOAD = 3_028_856  # bytes: qzv.ua.brq.exe
MIB = 1024 * 1024

out_dir, target = sys.argv[1], sys.argv[2]


def path(name):
    return os.path.join(out_dir, name)


def pairs(name):
    with open(path(name)) as f:
        return dict(line.rstrip("\n").split(" ", 1) for line in f if " " in line)


def spread(values):
    return min(values), statistics.median(values), max(values)


def timing(case):
    """The times of all rounds of `case` (ms); its mean CPU time into `cpu`."""
    values, cpu_sum = [], 0.0
    for name in sorted(os.listdir(out_dir)):
        if name.startswith(case + ".") and name.endswith(".json") and name[len(case) + 1:-5].isdigit():
            with open(path(name)) as f:
                result = json.load(f)["results"][0]
            values += [t * 1000 for t in result["times"]]
            cpu_sum += (result["user"] + result["system"]) * 1000 * len(result["times"])
    cpu[case] = cpu_sum / len(values)
    return values


cpu = {}  # the process's own user + system time, mean (ms)


def peaks(case):
    with open(path(case + ".peak")) as f:
        return [int(line) for line in f if line.strip().isdigit()]


def ms(values):
    low, mid, high = spread(values)
    return f"{low:,.0f} | **{mid:,.0f}** | {high:,.0f}"


def kib(values):
    low, mid, high = spread(values)
    return f"{low:,} | **{mid:,}** | {high:,}"


def verdict(ok):
    return "met" if ok else "**missed**"


machine = pairs("machine.txt")
sizes = {k: int(v) for k, v in pairs("sizes.txt").items()}
lines = []
add = lines.append

add("# Benchmark results")
add("")
add("Written by `bash bench/run` (see the README's Benchmarks section): the tables give the figures of one"
    " run; the section Findings is written by hand, and every run keeps it.")
add("")
add("## Machine")
add("")
add(f"- {machine['cpu']}, {machine['cores']} cores, {int(machine['memory']) // 1024:,} MiB;"
    f" Linux {machine['kernel']}")
add(f"- {machine['wine']}; hyperfine {machine['hyperfine'].split()[-1]};"
    f" mingw-w64 g++ {machine['compiler']}; zlib (mingw) {machine['zlib']}")
changed = int(machine.get("uncommitted", "0"))
add(f"- commit {machine['commit']}, {machine['date']}"
    + (f"; built with {changed} files outside bench/ changed beyond it (uncommitted)" if changed else
       "; no file outside bench/ changed beyond it"))
with open(path("load-start.txt")) as f:
    load_start = f.read().split("load average:")[-1].strip()
with open(path("load-end.txt")) as f:
    load_end = f.read().split("load average:")[-1].strip()
add(f"- **A shared machine**: other developers' work may run beside the benchmark on its 2 cores"
    f" (load average {load_start} at the start, {load_end} at the end; the benchmark's own"
    " processes count in both). Absolute times are inflated and noisy; compare medians, and read"
    " ratios rather than milliseconds.")
with open(path("duration.txt")) as f:
    add(f"- Repetitions: {machine['runs']} timed runs of each installation case,"
        f" in two rounds that alternate with the cases they are compared with;"
        f" {4 * int(machine['runs'])} of the bare programs and of `--version`, in four alternating"
        f" rounds (hyperfine, warm-up runs before each round); {machine['memory_runs']} runs of"
        f" each memory case; {f.read().strip()}.")
add("")

# The cases of bench/run, in the order of the tables: name and label.
LABELS = {
    "bare": "bare program (only returns)",
    "bare-with-payloads": "bare program carrying the three streams",
    "version": "installer `--version`",
    "installer-first": "installer, first installation",
    "floor-first": "floor, first installation",
    "installer-update": "installer, update",
    "floor-update": "floor, update",
}

# Timings
cases = [case for case in LABELS if os.path.exists(path(case + ".1.json"))]
times = {case: timing(case) for case in cases}
med = {case: statistics.median(values) for case, values in times.items()}
add("## Timings: whole processes under Wine (ms)")
add("")
add("Each case is `wine X.exe` started by hyperfine (no shell) against a persistent wineserver"
    " of a prefix of the bench's own. A first installation is preceded, untimed, by a reset"
    " (service stopped and deleted, files and folders removed); an update runs over an"
    " installation by the same program, with the service running.")
add("")
add("The last column is the process's own CPU time (user + system, mean of the runs): on a"
    " shared machine it is steadier than the elapsed time, but it leaves out the work done for"
    " the process by the wineserver and the service manager.")
add("")
add("| case | min | median | max | CPU of the process |")
add("|---|---:|---:|---:|---:|")
for case in cases:
    add(f"| {LABELS[case]} | {ms(times[case])} | {cpu[case]:,.0f} |")
add("")

# Downtime
down = {program: [float(line) for line in open(path(f"downtime-{program}.txt"))] for program in ("installer", "floor")}
add("## The server's downtime in an update (ms)")
add("")
add("From the stop request to the service reporting running again, in stamped update runs: for the"
    " installer, from the arrival of its stop line for `QZVOPCUA.BRQ` after \"Will stop services...\""
    " (printed just before the stop request) to the \"ok\" of its start line after \"Will start"
    " services...\" (printed once the service runs); for the floor, run with `--stamps`, from its"
    " \"stopping\" line (printed just before `ControlService`) to its \"running\" line. In between,"
    " the installer also checks the processes, writes each new file to a staging file, flushes it"
    " and moves it in place keeping the old one as a backup, and rewrites its flushed record file;"
    " the floor writes the files in place and flushes nothing. A run whose first query after the"
    " start found the service still start pending waits the poll's second.")
add("")
add("| program | runs | min | median | max |")
add("|---|---:|---:|---:|---:|")
for program, values in down.items():
    add(f"| {program} | {len(values)} | {ms(values)} |")
add("")

# Memory
memory_cases = [case for case in LABELS if os.path.exists(path(case + ".peak"))]
peak = {case: peaks(case) for case in memory_cases}
peak_med = {case: statistics.median(values) for case, values in peak.items()}
add("## Peak memory (KiB)")
add("")
add("GNU time's maximum resident set size of `wine X.exe` (under Wine, the process's"
    " PeakWorkingSetSize).")
add("")
add("| case | min | median | max |")
add("|---|---:|---:|---:|")
for case in memory_cases:
    add(f"| {LABELS[case]} | {kib(peak[case])} |")
add("")

# Scaling
scaling = {}  # (pass, items): per item (µs)
add("## Scaling: cost per item, in-process")
add("")
add("Discovery (`win::find_image_services`) and the process check (`win::find_image_processes`), each"
    " one pass for the three installed programs as the installer runs them, among 1,000 and 10,000"
    " services and processes served through the platform table by the tests' fake service manager"
    " and process table (`tests/support/`), every 500th of which runs one of the three programs (in"
    " turn). Every image that a service or process names is a real, empty file, so that each item"
    " costs the file system's real calls under Wine (its attributes, and an open for its identity)."
    f" {machine['scaling_samples']} samples of one pass each; the two sizes are sampled in turn, so"
    " that a slow spell of the shared machine weighs on both (`bench/scaling_bench.cpp`).")
add("")
add("| pass | items | min | median | max | per item (median) |")
add("|---|---:|---:|---:|---:|---:|")
with open(path("scaling.txt")) as f:
    for line in f:
        name, count, low, mid, high = line.split()
        scaling[(name, int(count))] = float(mid) * 1000 / int(count)
        add(f"| {name} | {int(count):,} | {float(low):.2f} ms | **{float(mid):.2f} ms** | {float(high):.2f} ms |"
            f" {scaling[(name, int(count))]:,.2f} µs |")
add("")

# Sizes
add("## Sizes (bytes)")
add("")
add("| what | size |")
add("|---|---:|")
add(f"| installer image as built | {sizes['installer']:,} |")
add(f"| installer image stripped | {sizes['installer-stripped']:,} |")
for stream, name in (("101", "qzv.ua.brq.exe"), ("102", "qzv.ua.brq.ctrl.exe"), ("103", "qzv.ua.brq.dev.exe")):
    add(f"| {name}: payload / level-1 stream {stream} | {sizes['payload-' + name]:,} /"
        f" {sizes['stream-' + stream]:,} |")
streams = sum(sizes[f"stream-{s}"] for s in ("101", "102", "103"))
add(f"| the three streams together | {streams:,} |")
add(f"| stripped image less the streams | {sizes['installer-stripped'] - streams:,} |")
add("")

# Targets
add("## Targets (medians of this run)")
add("")
add("| target | measured | verdict |")
add("|---|---|---|")
gap = med["installer-update"] - med["floor-update"]
add(f"| update ≤ floor's update + 150 ms | {med['installer-update']:,.0f} − {med['floor-update']:,.0f} ms"
    f" = **{gap:+,.0f} ms** (minimum {min(times['installer-update']) - min(times['floor-update']):+,.0f} ms,"
    f" CPU of the process {cpu['installer-update'] - cpu['floor-update']:+,.0f} ms) | {verdict(gap <= 150)} |")
# Both programs poll a starting service at most once a second: a run whose
# first query found the service still start pending takes about a second
# more. Such runs lie 0.7 s or more above the fastest run.
def fast(case):
    return [t for t in times[case] if t < min(times[case]) + 700]


fast_gap = statistics.median(fast("installer-update")) - statistics.median(fast("floor-update"))
add(f"| the same, only the runs that did not wait for the 1-second start poll"
    f" ({len(fast('installer-update'))} and {len(fast('floor-update'))} of {len(times['installer-update'])})"
    f" | {statistics.median(fast('installer-update')):,.0f} − {statistics.median(fast('floor-update')):,.0f} ms"
    f" = **{fast_gap:+,.0f} ms** | {verdict(fast_gap <= 150)} |")
ratio = med["installer-first"] / med["floor-first"]
add(f"| first installation ≤ 1.1 × floor's | {med['installer-first']:,.0f} / {med['floor-first']:,.0f} ms"
    f" = **{ratio:.2f} ×** (minimum {min(times['installer-first']) / min(times['floor-first']):.2f} ×,"
    f" CPU {cpu['installer-first'] / cpu['floor-first']:.2f} ×) | {verdict(ratio <= 1.1)} |")
ratio = statistics.median(fast("installer-first")) / statistics.median(fast("floor-first"))
add(f"| the same, only the runs that did not wait for the 1-second start poll"
    f" ({len(fast('installer-first'))} and {len(fast('floor-first'))} of {len(times['installer-first'])})"
    f" | {statistics.median(fast('installer-first')):,.0f} / {statistics.median(fast('floor-first')):,.0f} ms"
    f" = **{ratio:.2f} ×** | {verdict(ratio <= 1.1)} |")
for case, label in (("first", "first installation"), ("update", "update")):
    mine, floor = peak_med["installer-" + case], peak_med["floor-" + case]
    add(f"| peak memory of a{'n' if case == 'update' else ''} {label} ≤ floor's + 1 MiB | {mine:,.0f} − {floor:,.0f} KiB"
        f" = **{mine - floor:+,.0f} KiB** (allowed +1,024) | {verdict(mine - floor <= 1024)} |")
if ("discovery", 1000) in scaling and ("discovery", 10000) in scaling:
    large, small = scaling[("discovery", 10000)], scaling[("discovery", 1000)]
    add(f"| discovery among 10,000 services whose images exist (shared fakes): per-item cost flat"
        f" from 1,000 to 10,000 (within 1.5 ×) | {large:,.1f} / {small:,.1f} µs = **{large / small:.2f} ×** |"
        f" {verdict(large / small <= 1.5)} |")
    add(f"| the same: under 1 ms per service | **{large / 1000:,.3f} ms** per service at 10,000"
        f" ({small / 1000:,.3f} ms at 1,000) | {verdict(large < 1000)} |")
add("")
add("Other comparisons of this run (no target):")
add("")
add("| comparison | measured |")
add("|---|---|")
gap = statistics.median(down["installer"]) - statistics.median(down["floor"])
add(f"| downtime of the server in an update, installer against floor | {statistics.median(down['installer']):,.0f}"
    f" − {statistics.median(down['floor']):,.0f} ms = **{gap:+,.0f} ms** |")
ratio = med["version"] / med["bare"]
add(f"| `--version` against the bare program | {med['version']:,.0f} / {med['bare']:,.0f} ms = **{ratio:.2f} ×**"
    f" (CPU {cpu['version'] / cpu['bare']:.2f} ×) |")
if ("process-check", 1000) in scaling and ("process-check", 10000) in scaling:
    large, small = scaling[("process-check", 10000)], scaling[("process-check", 1000)]
    add(f"| process check: per-item cost at 10,000 against 1,000 |"
        f" {large:,.2f} / {small:,.2f} µs = **{large / small:.2f} ×** |")
add("")

# Outputs
add("## What the timed cases did")
add("")
add("Every timed run ended with exit code 0 (hyperfine stops the benchmark at any other): the"
    " installer's runs completed without an error; a retry on a held file would show as a run of"
    " 5 seconds more.")
add("")
add("One untimed run of each installation case before the timings; the installer's output:")
add("")
for case, label in (("installer-first", "first installation"), ("installer-update", "update")):
    with open(path(case + ".out"), encoding="utf-8", errors="replace") as f:
        text = f.read().replace("\r\n", "\n").rstrip("\n")
    add(f"{label}:")
    add("")
    add("```")
    add(text)
    add("```")
    add("")
for case in ("floor-first", "floor-update"):
    with open(path(case + ".out"), encoding="utf-8", errors="replace") as f:
        text = f.read().strip()
    add(f"{case}: {'no output (success)' if not text else text}")
    add("")

# The section "Findings", written by hand, is kept from the results before.
if os.path.exists(target):
    with open(target) as f:
        before = f.read()
    if "\n## Findings" in before:
        add(before[before.index("\n## Findings") + 1:].rstrip("\n"))
        add("")

with open(target, "w") as f:
    f.write("\n".join(lines).rstrip("\n") + "\n")
