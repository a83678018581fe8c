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
add("Written by `bash bench/run` (see the README's Benchmarks section); the figures of one run.")
add("")
add("## Machine")
add("")
add(f"- {machine['cpu']}, {machine['cores']} cores, {int(machine['memory']) // 1024:,} MiB;"
    f" Linux {machine['kernel']}")
add(f"- {machine['wine']}; hyperfine {machine['hyperfine'].split()[-1]};"
    f" mingw-w64 g++ {machine['compiler']}; zlib (mingw) {machine['zlib']}")
add(f"- commit {machine['commit']}, {machine['date']}")
with open(path("load-start.txt")) as f:
    load_start = f.read().split("load average:")[-1].strip()
with open(path("load-end.txt")) as f:
    load_end = f.read().split("load average:")[-1].strip()
add(f"- **A shared machine**: other developers' builds ran beside the benchmark on its 2 cores"
    f" (load average {load_start} at the start, {load_end} at the end). Absolute times are"
    " inflated and noisy; compare medians, and read ratios rather than milliseconds.")
with open(path("duration.txt")) as f:
    add(f"- Repetitions: {machine['runs']} timed runs of each installation case,"
        f" in two rounds that alternate with the cases they are compared with;"
        f" {4 * int(machine['runs'])} of the bare programs and of `--version`, in four alternating"
        f" rounds (hyperfine, warm-up runs before each round); {machine['memory_runs']} runs of"
        f" each memory case;"
        f" {machine['inflate_runs']} in-process repetitions of each inflate; {f.read().strip()}.")
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
    "page-aligned-version": "installer linked with page-sized file alignment, `--version`",
    "page-aligned-first": "installer linked with page-sized file alignment, first installation",
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

# Phases
add("Where the installer's time goes: each line of its output stamped as it arrived (the"
    " installer flushes every piece it prints, so a line arrives once its work is done); 5 runs"
    " of each, milliseconds since the line before (the first line: since the process started).")
add("")
for case, label in (("phases-first", "first installation"), ("phases-update", "update")):
    with open(path(case + ".json")) as f:
        phases = json.load(f)
    add(f"{label}:")
    add("")
    add("| line | min | median | max |")
    add("|---|---:|---:|---:|")
    for k, line in enumerate(phases["lines"]):
        low, mid, high = spread([run[k] for run in phases["runs"]])
        text = line.strip().replace("|", "\\|")
        add(f"| `{text}` | {low:,.0f} | **{mid:,.0f}** | {high:,.0f} |")
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
add("Where it goes, measured in-process by `memory_probe` (the installer's own pieces one"
    " after another; working set and its peak after each, KiB):")
add("")
add("| after | working set | peak |")
add("|---|---:|---:|")
with open(path("memory-probe.txt")) as f:
    for line in f:
        parts = line.split()
        if parts and parts[0] == "memory":
            add(f"| {parts[1]} | {int(parts[2]):,} | {int(parts[3]):,} |")
add("")

# Inflate
add("## Inflate throughput (in-process, ms per stream)")
add("")
add("On the same embedded streams: the product's `inflate_zlib` as the installer calls it"
    " (pieces handed to a sink, here one that only counts them; `inflate_zlib_to_vector`: its"
    " overload that appends to a vector), zlib's `uncompress` into a fresh buffer of the known"
    " size, and zlib's `inflate` through one 64 KiB buffer.")
add("")
add("| stream | in | out | inflater | min | median | max | MB/s (median) |")
add("|---|---:|---:|---|---:|---:|---:|---:|")
inflate = {}
with open(path("inflate.txt")) as f:
    for line in f:
        _, stream, name, size_in, size_out, low, mid, high = line.split()
        inflate[(stream, name)] = float(mid)
        rate = int(size_out) / float(mid) / 1000
        add(f"| {stream} | {int(size_in):,} | {int(size_out):,} | {name} | {float(low):.2f} |"
            f" **{float(mid):.2f}** | {float(high):.2f} | {rate:,.0f} |")
add("")

# Scaling
scaling = {}
if os.path.exists(path("scaling.txt")):
    add("## Scaling: cost per item, in-process")
    add("")
    with open(path("scaling-source.txt")) as f:
        add(f.read().strip())
    add("")
    add("| search | items | min | median | max | per item (median) |")
    add("|---|---:|---:|---:|---:|---:|")
    with open(path("scaling.txt")) as f:
        for line in f:
            kind, name, count, low, mid, high = line.split()
            per_item = float(mid) * 1000 / max(int(count), 1)
            label = {"real": f"{name}, the prefix's real one, one program",
                     "real-first": f"{name}, the prefix's real one, first search of the process",
                     "real-three-programs": f"{name}, the prefix's real one, the three installed programs"
                                            " one search each (as the installer runs it)",
                     "real-one-pass": f"{name}, the prefix's real one, the three installed programs in"
                                      " one pass (proposal)",
                     "real-one-pass-one-query": f"{name}, the same one pass, each configuration read in one"
                                                " query of 8 KiB (proposal)"}.get(kind, f"{name}, {kind}")
            if kind in ("shared", "minimal"):
                scaling[(kind, name, int(count))] = per_item
            per_item_text = f"{per_item:,.2f} µs" if int(count) > 0 else "–"
            add(f"| {label} | {f'{int(count):,}' if int(count) else '–'} | {float(low):.2f} ms | **{float(mid):.2f} ms** |"
                f" {float(high):.2f} ms | {per_item_text} |")
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
ratio = med["installer-first"] / med["floor-first"]
add(f"| first installation ≤ 1.2 × floor's | {med['installer-first']:,.0f} / {med['floor-first']:,.0f} ms"
    f" = **{ratio:.2f} ×** (minimum {min(times['installer-first']) / min(times['floor-first']):.2f} ×,"
    f" CPU {cpu['installer-first'] / cpu['floor-first']:.2f} ×) | {verdict(ratio <= 1.2)} |")
# Both programs poll a starting service at most once a second: a run whose
# first query found the service still start pending takes about a second
# more. Such runs lie 0.7 s or more above the fastest run.
fast = {case: [t for t in times[case] if t < min(times[case]) + 700] for case in ("installer-first", "floor-first")}
ratio = statistics.median(fast["installer-first"]) / statistics.median(fast["floor-first"])
add(f"| the same, only the runs that did not wait for the 1-second start poll"
    f" ({len(fast['installer-first'])} and {len(fast['floor-first'])} of {len(times['installer-first'])})"
    f" | {statistics.median(fast['installer-first']):,.0f} / {statistics.median(fast['floor-first']):,.0f} ms"
    f" = **{ratio:.2f} ×** | {verdict(ratio <= 1.2)} |")
gap = med["installer-update"] - med["floor-update"]
add(f"| update ≤ floor's update + 100 ms | {med['installer-update']:,.0f} − {med['floor-update']:,.0f} ms"
    f" = **{gap:+,.0f} ms** (minimum {min(times['installer-update']) - min(times['floor-update']):+,.0f} ms,"
    f" CPU {cpu['installer-update'] - cpu['floor-update']:+,.0f} ms) | {verdict(gap <= 100)} |")
ratio = med["version"] / med["bare"]
add(f"| `--version` ≤ 1.2 × bare program | {med['version']:,.0f} / {med['bare']:,.0f} ms"
    f" = **{ratio:.2f} ×** (minimum {min(times['version']) / min(times['bare']):.2f} ×, CPU"
    f" {cpu['version'] / cpu['bare']:.2f} ×) | {verdict(ratio <= 1.2)} |")
limit = peak_med["version"] + (1.25 * LARGEST_PAYLOAD + MIB) / 1024
add(f"| peak of a first installation ≤ `--version` + 1.25 × largest payload + 1 MiB"
    f" | {peak_med['installer-first']:,.0f} KiB against {peak_med['version']:,.0f} + 3,697 + 1,024"
    f" = {limit:,.0f} KiB: **{peak_med['installer-first'] - peak_med['version']:+,.0f} KiB** over"
    f" `--version` | {verdict(peak_med['installer-first'] <= limit)} |")
for stream in ("101", "102", "103"):
    if (stream, "inflate_zlib") in inflate:
        ratio = inflate[(stream, "uncompress")] / inflate[(stream, "inflate_zlib")]
        add(f"| inflate ≥ 0.9 × `uncompress` (stream {stream}) | throughput ratio **{ratio:.2f}** |"
            f" {verdict(ratio >= 0.9)} |")
for kind, name in sorted({(kind, name) for kind, name, _ in scaling}):
    if (kind, name, 1000) in scaling and (kind, name, 10000) in scaling:
        large, small = scaling[(kind, name, 10000)], scaling[(kind, name, 1000)]
        add(f"| {name} ({kind} fakes): per-item cost at 10,000 within 1.5 × of 1,000 |"
            f" {large:,.2f} / {small:,.2f} µs = **{large / small:.2f} ×** | {verdict(large / small <= 1.5)} |")
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

notes = os.path.join(os.path.dirname(os.path.abspath(__file__)), "notes.md")
if os.path.exists(notes):
    with open(notes) as f:
        add(f.read().rstrip("\n"))
        add("")

with open(target, "w") as f:
    f.write("\n".join(lines).rstrip("\n") + "\n")
