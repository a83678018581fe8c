#!/usr/bin/env python3
"""Writes bench/results.md from the files that bench/run measured; the section
"Findings", written by hand, is kept from the results.md before.

    report.py RESULTS_DIR OUTPUT_MD
"""
import glob
import json
import os
import sys
from statistics import median

out_dir, target = sys.argv[1], sys.argv[2]
md = []  # paragraphs and table rows, one string each


def read(name):
    with open(os.path.join(out_dir, name), encoding="utf-8", errors="replace") as f:
        return f.read().replace("\r\n", "\n")


def spread(values, fmt="{:,.0f}"):
    return f"{fmt.format(min(values))} | **{fmt.format(median(values))}** | {fmt.format(max(values))}"


def section(title, *paragraphs, header, left=1):
    """A heading, its paragraphs and a table's head: `left` columns aligned left, the others right."""
    columns = header.count("|") - 1
    md.extend([f"## {title}", "", *(text for p in paragraphs for text in (p, "")), header,
               "|" + "---|" * left + "---:|" * (columns - left)])


def verdict(ok):
    return "met" if ok else "**missed**"


machine = dict(line.split(" ", 1) for line in read("machine.txt").splitlines())
sizes = {k: int(v) for k, v in (line.split() for line in read("sizes.txt").splitlines())}
load = [read(f"load-{at}.txt").split("load average:")[-1].strip() for at in ("start", "end")]
runs, changed = int(machine["runs"]), int(machine["uncommitted"])
md += ["# Benchmark results", "",
       "Written by `bash bench/run` (see the README's Benchmarks section): the tables give the figures of one run;"
       " the section Findings is written by hand, and every run keeps it.", "", "## Machine", "",
       f"- {machine['cpu']}, {machine['cores']} cores, {int(machine['memory']) // 1024:,} MiB; Linux {machine['kernel']}",
       f"- {machine['wine']}; hyperfine {machine['hyperfine'].split()[-1]}; mingw-w64 g++ {machine['compiler']};"
       f" zlib (mingw) {machine['zlib']}",
       f"- commit {machine['commit']}, {machine['date']}; "
       + (f"built with {changed} files outside bench/ changed beyond it (uncommitted)" if changed
          else "no file outside bench/ changed beyond it"),
       f"- **A shared machine**: other developers' work may run beside the benchmark on its 2 cores (load average"
       f" {load[0]} at the start, {load[1]} at the end; the benchmark's own processes count in both). Absolute times"
       " are inflated and noisy; compare medians, and read ratios rather than milliseconds.",
       f"- Repetitions: {runs} timed runs of each installation case, in two rounds that alternate with the cases they"
       f" are compared with; {4 * runs} of the bare programs and of `--version`, in four alternating rounds"
       f" (hyperfine, warm-up runs before each round); {machine['memory_runs']} runs of each memory case;"
       f" {read('duration.txt').strip()}.", ""]

LABELS = {  # the cases of bench/run, in the order of the tables
    "bare": "bare program (only returns)",
    "bare-with-payloads": "bare program carrying the three streams",
    "version": "installer `--version`",
    "installer-first": "installer, first installation",
    "floor-first": "floor, first installation",
    "installer-update": "installer, update",
    "floor-update": "floor, update",
}

times, cpu = {}, {}  # all rounds' times (ms); the process's own user + system time, mean (ms)
for case in LABELS:
    results = [json.load(open(name))["results"][0]
               for name in sorted(glob.glob(os.path.join(out_dir, f"{case}.[0-9].json")))]
    times[case] = [t * 1000 for result in results for t in result["times"]]
    cpu[case] = sum((r["user"] + r["system"]) * 1000 * len(r["times"]) for r in results) / len(times[case])
med = {case: median(values) for case, values in times.items()}
section("Timings: whole processes under Wine (ms)",
        "Each case is `wine X.exe` started by hyperfine (no shell) against a persistent wineserver of a prefix of"
        " the bench's own. A first installation is preceded, untimed, by a reset (service stopped and deleted, files"
        " and folders removed); an update runs over an installation by the same program, with the service running.",
        "The last column is the process's own CPU time (user + system, mean of the runs): on a shared machine it is"
        " steadier than the elapsed time, but it leaves out the work done for the process by the wineserver and the"
        " service manager.", header="| case | min | median | max | CPU of the process |")
md += [f"| {LABELS[case]} | {spread(times[case])} | {cpu[case]:,.0f} |" for case in LABELS] + [""]

down = {program: [float(v) for v in read(f"downtime-{program}.txt").split()] for program in ("installer", "floor")}
section("The server's downtime in an update (ms)",
        "From the stop request to the service reporting running again, in stamped update runs: for the installer,"
        " from the arrival of its stop line for `QZVOPCUA.BRQ` after \"Will stop services...\" (printed just before"
        " the stop request) to the \"ok\" of its start line after \"Will start services...\" (printed once the"
        " service runs); for the floor, run with `--stamps`, from its \"stopping\" line (printed just before"
        " `ControlService`) to its \"running\" line. In between, the installer also checks the processes, writes"
        " each new file to a staging file, flushes it and moves it in place keeping the old one as a backup, and"
        " rewrites its flushed record file; the floor writes the files in place and flushes nothing. A run whose"
        " first query after the start found the service still start pending waits the poll's second.",
        header="| program | runs | min | median | max |")
md += [f"| {program} | {len(values)} | {spread(values)} |" for program, values in down.items()] + [""]

peak = {case: [int(line) for line in read(f"{case}.peak").splitlines() if line.isdigit()]
        for case in LABELS if os.path.exists(os.path.join(out_dir, f"{case}.peak"))}
section("Peak memory (KiB)",
        "GNU time's maximum resident set size of `wine X.exe` (under Wine, the process's PeakWorkingSetSize).",
        header="| case | min | median | max |")
md += [f"| {LABELS[case]} | {spread(values)} |" for case, values in peak.items()] + [""]

per_item = {}  # (pass, items): median per item (µs)
section("Scaling: cost per item, in-process",
        "Discovery (`win::find_image_services`) and the process check (`win::find_image_processes`), each one pass"
        " for the three installed programs as the installer runs them, among 1,000 and 10,000 services and"
        " processes served through the platform table by the tests' fake service manager and process table"
        " (`tests/support/`), every 500th of which runs one of the three programs (in turn). Every image that a"
        " service or process names is a real, empty file, so that each item costs the file system's real calls"
        " under Wine (its attributes, and an open for its identity)."
        f" {machine['scaling_samples']} samples of one pass each; the two sizes are sampled in turn, so that a"
        " slow spell of the shared machine weighs on both (`bench/scaling_bench.cpp`).",
        header="| pass | items | min | median | max | per item (median) |")
for line in read("scaling.txt").splitlines():
    name, items, low, mid, high = line.split()
    items, low, mid, high = int(items), float(low), float(mid), float(high)
    per_item[(name, items)] = mid * 1000 / items
    md.append(f"| {name} | {items:,} | {low:.2f} ms | **{mid:.2f} ms** | {high:.2f} ms | {mid * 1000 / items:,.2f} µs |")
md.append("")

streams = sum(sizes[f"stream-{s}"] for s in (101, 102, 103))
section("Sizes (bytes)", header="| what | size |")
md += [f"| installer image as built | {sizes['installer']:,} |",
       f"| installer image stripped | {sizes['installer-stripped']:,} |"]
md += [f"| {name}: payload / level-1 stream {s} | {sizes['payload-' + name]:,} / {sizes[f'stream-{s}']:,} |"
       for s, name in ((101, "qzv.ua.brq.exe"), (102, "qzv.ua.brq.ctrl.exe"), (103, "qzv.ua.brq.dev.exe"))]
md += [f"| the three streams together | {streams:,} |",
       f"| stripped image less the streams | {sizes['installer-stripped'] - streams:,} |", ""]


def fast(case):
    """Both programs poll a starting service once a second: a run whose first
    query found it still start pending lies 0.7 s or more above the fastest."""
    return [t for t in times[case] if t < min(times[case]) + 700]


section("Targets (medians of this run)", header="| target | measured | verdict |", left=3)
inst, floor = "installer-update", "floor-update"
gap = med[inst] - med[floor]
md.append(f"| update ≤ floor's update + 150 ms | {med[inst]:,.0f} − {med[floor]:,.0f} ms = **{gap:+,.0f} ms** (minimum"
          f" {min(times[inst]) - min(times[floor]):+,.0f} ms, CPU of the process {cpu[inst] - cpu[floor]:+,.0f} ms) |"
          f" {verdict(gap <= 150)} |")
gap = median(fast(inst)) - median(fast(floor))
md.append(f"| the same, only the runs that did not wait for the 1-second start poll ({len(fast(inst))} and"
          f" {len(fast(floor))} of {len(times[inst])}) | {median(fast(inst)):,.0f} − {median(fast(floor)):,.0f} ms"
          f" = **{gap:+,.0f} ms** | {verdict(gap <= 150)} |")
inst, floor = "installer-first", "floor-first"
ratio = med[inst] / med[floor]
md.append(f"| first installation ≤ 1.1 × floor's | {med[inst]:,.0f} / {med[floor]:,.0f} ms = **{ratio:.2f} ×**"
          f" (minimum {min(times[inst]) / min(times[floor]):.2f} ×, CPU {cpu[inst] / cpu[floor]:.2f} ×) |"
          f" {verdict(ratio <= 1.1)} |")
ratio = median(fast(inst)) / median(fast(floor))
md.append(f"| the same, only the runs that did not wait for the 1-second start poll ({len(fast(inst))} and"
          f" {len(fast(floor))} of {len(times[inst])}) | {median(fast(inst)):,.0f} / {median(fast(floor)):,.0f} ms"
          f" = **{ratio:.2f} ×** | {verdict(ratio <= 1.1)} |")
for case, label in (("first", "a first installation"), ("update", "an update")):
    mine, floor = median(peak["installer-" + case]), median(peak["floor-" + case])
    md.append(f"| peak memory of {label} ≤ floor's + 1 MiB | {mine:,.0f} − {floor:,.0f} KiB ="
              f" **{mine - floor:+,.0f} KiB** (allowed +1,024) | {verdict(mine - floor <= 1024)} |")
large, small = per_item[("discovery", 10000)], per_item[("discovery", 1000)]
md += [f"| discovery among 10,000 services whose images exist (shared fakes): per-item cost flat from 1,000 to"
       f" 10,000 (within 1.5 ×) | {large:,.1f} / {small:,.1f} µs = **{large / small:.2f} ×** |"
       f" {verdict(large / small <= 1.5)} |",
       f"| the same: under 1 ms per service | **{large / 1000:,.3f} ms** per service at 10,000"
       f" ({small / 1000:,.3f} ms at 1,000) | {verdict(large < 1000)} |", ""]
md += ["Other comparisons of this run (no target):", "", "| comparison | measured |", "|---|---|"]
installer, floor = median(down["installer"]), median(down["floor"])
large, small = per_item[("process-check", 10000)], per_item[("process-check", 1000)]
md += [f"| downtime of the server in an update, installer against floor | {installer:,.0f} − {floor:,.0f} ms ="
       f" **{installer - floor:+,.0f} ms** |",
       f"| `--version` against the bare program | {med['version']:,.0f} / {med['bare']:,.0f} ms ="
       f" **{med['version'] / med['bare']:.2f} ×** (CPU {cpu['version'] / cpu['bare']:.2f} ×) |",
       f"| process check: per-item cost at 10,000 against 1,000 | {large:,.2f} / {small:,.2f} µs ="
       f" **{large / small:.2f} ×** |", ""]

# One untimed run of each installation case came before the timings: the
# installer's must end with its service started, the floor's print nothing.
done = '  service "QZVOPCUA.BRQ"... ok'
outputs = {case: read(f"{case}.out").rstrip() for case in ("installer-first", "installer-update", "floor-first",
                                                            "floor-update")}
md += ["## What the timed cases did", "",
       "Every timed run ended with exit code 0 (hyperfine stops the benchmark at any other); a retry on a held file"
       " would show as a run of 5 seconds more. One untimed run of each installation case came before the"
       " timings: the installer's first installation and update printed "
       f"{len(outputs['installer-first'].splitlines())} and {len(outputs['installer-update'].splitlines())} lines"
       f" (`bench/build/results/installer-*.out`), each ending with its service started (`{done.strip()}`); the"
       " floor's printed nothing, as on success.", ""]
for case, text in outputs.items():
    if not (text.endswith(done) if case.startswith("installer") else text == ""):
        md += [f"**{case} did not end as it should**; its output:", "", "```", text, "```", ""]

if os.path.exists(target):
    with open(target, encoding="utf-8") as f:
        before = f.read()
    if "\n## Findings" in before:
        md.append(before[before.index("\n## Findings") + 1:])
with open(target, "w", encoding="utf-8") as f:
    f.write("\n".join(md).rstrip("\n") + "\n")
