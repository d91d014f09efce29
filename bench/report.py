#!/usr/bin/env python3
"""Turns the benchmark CSV tables into docs/benchmarks.md and its plot."""
import argparse
import csv
import os
import subprocess
import sys
import tempfile

CASE_TITLES = {
    "clean-115200": "Clean line, 115200 8N1",
    "clean-38400": "Clean line, 38400 8N1",
    "clean-9600": "Clean line, 9600 8N1",
    "batch-512B-115200": "Batch of 512-byte files, 115200 8N1",
    "ber1e-5-115200": "Bit-error rate 1e-5, 115200 8N1",
    "ber1e-4-115200": "Bit-error rate 1e-4, 115200 8N1",
    "7E1-115200": "7-bit line (7E1), binary data, 115200",
    "latency10ms-115200": "10 ms latency each way, 115200 8N1",
    "csv-115200": "Sales CSV, 115200 8N1",
    "csv-9600": "Sales CSV, 9600 8N1",
    "text-115200": "English text, 115200 8N1",
    "box-4KiB-115200": "A box with 4 KiB of buffers, 115200 8N1",
}
# The data each case carries (the others: random bytes).
CASE_DATA = {"csv-115200": "sales CSV", "csv-9600": "sales CSV", "text-115200": "English text"}
OURS = "quendril"


# Ratios a coder needs on the line for 400 % on the sales CSV and 250 % on text.
CODEC_RATIO_NEEDED = {"csv": 4.1, "text": 2.6}


def read_rows(paths):
    """Transfer, polling, disk, whole-fleet and codec rows, told apart by their columns."""
    rows, polling, disk, fleet, codecs = [], [], [], [], []
    for path in paths:
        with open(path, newline="") as f:
            for row in csv.DictReader(f):
                if "metric" in row:
                    polling.append(row)
                elif "step" in row:
                    disk.append(row)
                elif "codec" in row:
                    codecs.append(row)
                elif "category" in row:
                    fleet.append(row)
                else:
                    rows.append(row)
    return rows, polling, disk, fleet, codecs


FLEET_PAYLOAD = "payload at the line rate"
FLEET_MEANINGS = [
    ("framing of the data frames", "frame headers, CRC, stuffing and chunk headers around the file bytes "
     "(the line time of the data frames, from their lengths and lineemu's count of characters, less the payload)"),
    ("window acknowledgements", "the rest of each transfer: RR/ACK frames and the turnarounds between windows"),
    ("job start", "START to READY, or to the first data frame's start on the line"),
    ("PC stores received files (sync)", "last data frame received to the final RR: the files synced and renamed"),
    ("terminal stores files (htsim)", "last data frame off the line to htsim's final ACK"),
    ("polling", "poll cycles, from the first POLL to the last answer"),
    ("release", "DISC/UA to every box after each pass"),
    ("program: job set-up and wind-up", "the run log's job time beyond the job's frames: listing, checks, "
     "opening the files, the library's return"),
    ("program: run log and display", "the rest of the time between line calls: the run log line and its "
     "sync, the window's updates, reading the records"),
    ("start-up and exit", "the program's life outside its first and last frame: Qt, settings, the line "
     "opened and closed"),
]


def fleet_passes(fleet):
    """The pass row of each case, in table order."""
    return [r for r in fleet if r["category"] == "pass"]


def fleet_efficiency(fleet, case):
    """The payload's share of the pass (the efficiency); None when the pass did not end ok."""
    for r in fleet:
        if r["case"] == case and r["category"] == FLEET_PAYLOAD and r["status"] == "ok":
            return float(r["share"])
    return None


def fleet_table(fleet):
    passes = fleet_passes(fleet)
    lines = ["## Whole fleet through the program", "",
             "`quendril AUTO` (`bench/fleetbench`) against `htsim` with 16 terminals on one 8N1 line: each "
             "terminal sends one file of random bytes (a receive job), then receives one (a transmit job), then "
             "reports the end of its work, so the run is three passes. Efficiency = file bytes moved, both ways / "
             "(the program's whole life, start-up and exit included, x the character rate). At 9600 bit/s the "
             "files are a quarter of the size: 16 x 64 KiB each way would keep that line busy for 36 minutes.", "",
             "| line | file each way | payload bytes | pass s | efficiency | status | note |",
             "| --- | --- | --- | --- | --- | --- | --- |"]
    for p in passes:
        eff = fleet_efficiency(fleet, p["case"])
        lines.append(f"| {p['baud']} 8N1 | {int(p['file_bytes']) // 1024} KiB | {p['payload_bytes']} | "
                     f"{float(p['seconds']):.1f} | {pct(eff) if eff is not None else '-'} | {p['status']} | "
                     f"{p['note'].strip().rstrip(';')} |")
    lines += ["", "Where the time went, from the library's frame log (`TVK_DEBUG=1`) and the job times of the "
              "program's run log:", "",
              "| category | " + " | ".join(f"{p['baud']}: s | share" for p in passes) + " |",
              "| --- |" + " --- | --- |" * len(passes)]
    categories = []
    for r in fleet:
        if r["category"] != "pass" and r["category"] not in categories:
            categories.append(r["category"])
    for c in categories:
        cells = []
        for p in passes:
            row = next((r for r in fleet if r["case"] == p["case"] and r["category"] == c), None)
            cells.append(f"{float(row['seconds']):.3f} | {100 * float(row['share']):.2f} %" if row else "- | -")
        lines.append(f"| {c} | " + " | ".join(cells) + " |")
    lines += [""] + [f"- {name}: {meaning}." for name, meaning in FLEET_MEANINGS]
    return lines + [""]


def codec_table(codecs):
    """One line per coder setting: ratio on each payload, speeds, and the heap of each side."""
    kinds, settings = [], {}
    for r in codecs:
        if r["data"] not in kinds:
            kinds.append(r["data"])
        settings.setdefault(r["config"], {})[r["data"]] = r
    timed = [k for k in ("csv", "text") if k in kinds]

    def ratio(r):
        return f"{float(r['ratio']):.2f}" if r["status"] == "ok" else f"**{r['status']}**"

    def speeds(by_kind, column):
        return " / ".join(f"{float(by_kind[k][column]):.0f}" for k in timed if k in by_kind)

    def meets(by_kind):
        if any(k not in by_kind for k in CODEC_RATIO_NEEDED):
            return "not measured"
        ok = all(by_kind[k]["status"] == "ok" and float(by_kind[k]["ratio"]) >= need
                 for k, need in CODEC_RATIO_NEEDED.items())
        return "yes" if ok else "no"

    needed = " and ".join(f"{k} {v}x" for k, v in CODEC_RATIO_NEEDED.items())
    lines = ["## Compression libraries", "",
             "Written by `codecbench`, the only figures here not taken on the line. Payloads of 1 MiB from "
             "`bench/gendata` (seed 1): `csv` a shop terminal's sales, `text` English prose, `random` bytes no "
             "coder shrinks; any further column a file of its own (`codecbench --file`): scripts/bench adds "
             "`GPL-3`, the 35 KiB licence text every Debian system has, as real English to set the prose against. "
             "Each is compressed as one stream in blocks of 16 KiB with a flush "
             "after each block (after every fourth where the setting says flush 64K), the way the line would send "
             "it, then decoded flush by flush: after each flush's bytes all input up to it must have come out, and "
             "the whole must equal the input.", "",
             "- ratio: input / compressed bytes, frame headers and flush marks included. Speeds: MB (10^6 bytes) of "
             f"input per second on this PC ({' / '.join(timed)}), the fastest of 7 rounds, coder set-up included; "
             "a terminal's processor is slower, the line slower still.",
             "- memory: the most heap the library held for one coder, counted through its allocator hooks "
             "(`ZSTD_customMem`, `LZ4F_CustomMem`); for zstd it equals `ZSTD_estimateCStreamSize_usingCCtxParams` and "
             "`ZSTD_estimateDStreamSize` of the same parameters. The caller's own 16 KiB blocks come on top.",
             "- LZ4 frames: 64 KiB linked blocks, each flushed block compressed as it comes (autoFlush). Compressor: "
             "the match state (16 KiB fast, 256 KiB HC) and 64 KiB of history; decompressor: a 64 KiB block buffer "
             "and 192 KiB of output and history, whatever the data.",
             "- zstd: `wN` a window of 2^N bytes, which the decoder is held to (`ZSTD_d_windowLogMax`). Its blocks "
             "are at most the window, and a block may only refer back as far as the window reaches from the block's "
             "end: with 16 KiB flushes a 16 KiB window (w14) keeps no history at all, and flushing every 64 KiB in a "
             "64 KiB window compresses each 64 KiB on its own. Tables: `level` the level's own hash and chain "
             "tables (sized for inputs of any length), `window` the ones zstd picks for an input as small as the "
             "window, `2^N` both set to 2^N entries.",
             f"- line targets: a ratio of at least {needed}, for 400 % and 250 % line efficiency.", "",
             "| setting | window KiB | flush every KiB | tables | " + " | ".join(f"ratio {k}" for k in kinds)
             + " | compress MB/s | decompress MB/s | compressor KiB | decompressor KiB | line targets |",
             "| --- " * (len(kinds) + 9) + "|"]
    for name, by_kind in settings.items():
        first = next(iter(by_kind.values()))
        heap_c = max(float(r["compressor_kib"]) for r in by_kind.values())
        heap_d = max(float(r["decompressor_kib"]) for r in by_kind.values())
        lines.append(f"| {name} | {first['window_kib']} | {first['flush_kib']} | {first['tables']} | "
                     + " | ".join(ratio(by_kind[k]) if k in by_kind else "" for k in kinds)
                     + f" | {speeds(by_kind, 'compress_mb_s')} | {speeds(by_kind, 'decompress_mb_s')} | "
                     f"{heap_c:.0f} | {heap_d:.0f} | {meets(by_kind)} |")
    return lines + [""]


def disk_table(disk):
    lines = ["## Disk side: append step and LOD/OTR staging", "",
             "Peak resident memory of the process doing the step, and its growth during the step. "
             "The plain-copy rows copy and delete the same LOD files with nothing else around them: "
             "the rate this disk allows. Disk rates on a shared machine vary by a third from run to run.", "",
             "| step | MiB/s | peak RSS KiB | growth KiB | status |", "| --- | --- | --- | --- | --- |"]
    for r in disk:
        lines.append(f"| {r['step']} | {float(r['mib_per_s']):.0f} | {r['peak_rss_kib']} | "
                     f"{r['rss_growth_kib']} | {r['status']} |")
    return lines + [""]


def our_worst(rows, case):
    """Our lower efficiency of the two directions; None when a direction failed or is missing."""
    ours = [r for r in rows if r["case"] == case and r["protocol"] == OURS]
    if len(ours) < 2 or any(r["status"] != "ok" for r in ours):
        return None
    return min(float(r["efficiency"]) for r in ours)


def ahead_of(rows, case, peer):
    """Whether both our directions beat the peer; a peer that did not finish is beaten by finishing."""
    mine = our_worst(rows, case)
    theirs = [r for r in rows if r["case"] == case and r["protocol"] == peer]
    if mine is None or not theirs:
        return None, ""
    if theirs[0]["status"] != "ok":
        return True, f"{peer}: {describe(theirs[0])}"
    return mine > float(theirs[0]["efficiency"]), f"{peer} {pct(theirs[0]['efficiency'])}"


def flat_memory(disk, kind):
    """Peak memory of the one-big-file case against the many-files case of the same step."""
    many = [r for r in disk if r["step"].startswith(kind) and " 1 x " not in r["step"]]
    big = [r for r in disk if r["step"].startswith(kind) and " 1 x " in r["step"]]
    if not many or not big:
        return None, ""
    grew = int(big[0]["peak_rss_kib"]) - int(many[0]["peak_rss_kib"])
    return grew <= 1024, f"peak {many[0]['peak_rss_kib']} KiB (many files), {big[0]['peak_rss_kib']} KiB (one big file)"


def idle_polling(polling, boxes, ceiling):
    """The idle CPU share at that many boxes against its ceiling; a failed measurement fails."""
    idle = [r for r in polling if r["metric"] == "idle CPU" and r["boxes"] == str(boxes)]
    if not idle:
        return None, ""
    share = float(idle[0]["value"])
    return 0 < share <= ceiling, f"{share:.2f} % of one core" if share > 0 else idle[0]["note"]


def record_read(polling, ceiling_ms):
    """The slowest record read, from the start of the cycle in which its terminal answered."""
    reads = [r for r in polling if r["metric"] == "record read" and "ready just after" not in r["note"]]
    if not reads:
        return None, ""
    failed = [r["note"] for r in reads if float(r["value"]) <= 0]
    if failed:
        return False, "; ".join(failed)
    slowest = max(reads, key=lambda r: float(r["value"]))
    return float(slowest["value"]) <= ceiling_ms, f"{float(slowest['value']):.1f} ms ({slowest['note']})"


def targets_table(rows, polling, disk, fleet):
    """Each target of the line, disk and fleet work, the figure measured in this run and whether it is met."""
    def at_least(case, floor):
        mine = our_worst(rows, case)
        return (None, "") if mine is None else (mine >= floor, f"{pct(mine)} (lower direction)")

    def fleet_at_least(case, floor, file_bytes):
        eff = fleet_efficiency(fleet, case)
        if eff is None:
            return None, ""
        size = next(int(p["file_bytes"]) for p in fleet_passes(fleet) if p["case"] == case)
        if size != file_bytes:
            return None, f"{pct(eff)} with {size // 1024} KiB files"
        return eff >= floor, pct(eff)

    checks = [
        ("Clean 1 MiB of random data at 115200: at least 99 %", at_least("clean-115200", 0.99)),
        ("Sales CSV, 1 MiB at 115200: at least 400 %", at_least("csv-115200", 4.0)),
        ("Sales CSV, 1 MiB at 9600: at least 400 %", at_least("csv-9600", 4.0)),
        ("English text, 1 MiB at 115200: at least 250 %", at_least("text-115200", 2.5)),
        ("Clean 1 MiB at 115200: ahead of ZMODEM", ahead_of(rows, "clean-115200", "zmodem")),
        ("10 ms latency each way: at least 95 %", at_least("latency10ms-115200", 0.95)),
        ("200 x 512 B at 115200: at least 90 %", at_least("batch-512B-115200", 0.90)),
        ("200 x 512 B: ahead of ZMODEM", ahead_of(rows, "batch-512B-115200", "zmodem")),
        ("200 x 512 B: ahead of YMODEM", ahead_of(rows, "batch-512B-115200", "ymodem")),
        ("Bit-error rate 1e-5: at least 96 %, file intact", at_least("ber1e-5-115200", 0.96)),
        ("Bit-error rate 1e-4: at least 88 %, file intact", at_least("ber1e-4-115200", 0.88)),
        ("7-bit line, binary data: at least 84 %", at_least("7E1-115200", 0.84)),
        ("A box with 4 KiB of buffers, 1 MiB at 115200: at least 90 %", at_least("box-4KiB-115200", 0.90)),
        ("Idle polling: 0.5 % or less of one core (16 boxes)", idle_polling(polling, 16, 0.5)),
        ("Record read within 60 ms of its box's cycle start", record_read(polling, 60)),
        ("Append: memory flat with file size", flat_memory(disk, "append")),
        ("LOD staging: memory flat with file size", flat_memory(disk, "LOD staging")),
        ("Whole fleet, 16 terminals x 64 KiB each way, 115200: at least 95 %",
         fleet_at_least("fleet-115200", 0.95, 64 * 1024)),
    ]
    lines = ["## Targets", "", "| target | measured | met |", "| --- | --- | --- |"]
    for name, (met, measured) in checks:
        verdict = "not measured" if met is None else ("yes" if met else "**no**")
        lines.append(f"| {name} | {measured} | {verdict} |")
    return lines + [""]


def durability_table(rows, before_path):
    """Our figures against a run made before received files were synced."""
    with open(before_path, newline="") as f:
        before = {(r["case"], r["direction"]): r for r in csv.DictReader(f) if r["protocol"] == OURS}
    lines = ["## Cost of durable storage", "",
             "Every received file is on disk before its sender hears that it arrived: the file is synced, "
             "renamed to its name and its directory synced, on the PC and in htsim alike; finished files are "
             "synced in the background while the next ones stream, and the last ones before the final "
             f"acknowledgement. Before: `{os.path.basename(before_path)}`, a run in which nothing was synced.", "",
             "| case | direction | before | this run | target |", "| --- | --- | --- | --- | --- |"]
    for case, target in (("clean-115200", "98 %"), ("batch-512B-115200", "90 %")):
        for r in rows:
            if r["case"] != case or r["protocol"] != OURS:
                continue
            old = before.get((case, r["direction"]))
            lines.append(f"| {CASE_TITLES.get(case, case)} | {r['direction']} | "
                         f"{pct(old['efficiency']) if old else '-'} | {describe(r)} | {target} |")
    return lines + [""]


def ours_by_way(path):
    with open(path, newline="") as f:
        return {(r["case"], r["direction"]): r for r in csv.DictReader(f) if r["protocol"] == OURS}


def compression_table(rows):
    """Our efficiency on terminal data, where compression counts, beside ZMODEM on the same files."""
    lines = ["## Compression on the line", "",
             "The stream is compressed with zstd (level 6, 32 KiB window, tables of 2^14 entries, a flush "
             "every 16 KiB; see \"Compression libraries\" below for the choice), negotiated in START; random "
             "data goes through zstd's stored blocks. Efficiency counts the file's own bytes, so compression "
             "takes it above 100 %. ZMODEM (`sz -b`) sends the same files as they are.", "",
             "| case | data | direction | ours | ZMODEM | ours / ZMODEM |", "| --- | --- | --- | --- | --- | --- |"]
    for case in ("csv-115200", "csv-9600", "text-115200", "clean-115200"):
        zm = zmodem_efficiency(rows, case)
        for r in rows:
            if r["case"] != case or r["protocol"] != OURS:
                continue
            ratio = f"{float(r['efficiency']) / zm:.2f}" if zm and r["status"] == "ok" else ""
            lines.append(f"| {CASE_TITLES.get(case, case)} | {CASE_DATA.get(case, 'random bytes')} | "
                         f"{r['direction']} | {describe(r)} | {pct(zm) if zm else '-'} | {ratio} |")
    return lines + [""]


def correction_table(rows, before_path):
    """Our efficiency on noisy lines with error correction against retransmission alone."""
    before = ours_by_way(before_path)
    lines = ["## Error correction on noisy lines", "",
             "Window frames carry Reed-Solomon parity over interleaved codewords once the measured error "
             "rate calls for it, with the strength and frame size of the best expected yield, and go plain "
             "again on a clean line (docs/line-protocol.md 2.4, 6.5). Before: "
             f"`{os.path.basename(before_path)}`, retransmission alone.", "",
             "| case | direction | before | this run | target | frames resent |",
             "| --- | --- | --- | --- | --- | --- |"]
    for case, target in (("ber1e-5-115200", "96 %"), ("ber1e-4-115200", "88 %"), ("clean-115200", "99 %")):
        for r in rows:
            if r["case"] != case or r["protocol"] != OURS:
                continue
            old = before.get((case, r["direction"]))
            resent = r["note"].split(" frames resent")[0].split("; ")[-1] if "frames resent" in r["note"] else ""
            lines.append(f"| {CASE_TITLES.get(case, case)} | {r['direction']} | "
                         f"{pct(old['efficiency']) if old else '-'} | {describe(r)} | {target} | {resent} |")
    return lines + [""]


def polling_table(polling):
    lines = ["## Polling (115200 8N1)", "",
             "| measure | boxes | value | note |", "| --- | --- | --- | --- |"]
    for r in polling:
        lines.append(f"| {r['metric']} | {r['boxes']} | {float(r['value']):.2f} {r['unit']} | {r['note']} |")
    return lines + [""]


def pct(value):
    return f"{100 * float(value):.1f} %"


def describe(row):
    if row["status"] == "ok":
        return pct(row["efficiency"])
    return {"dnf": "did not finish", "n/a": "cannot", "corrupt": "corrupt file",
            "failed": "failed"}.get(row["status"], row["status"])


def zmodem_efficiency(rows, case):
    for r in rows:
        if r["case"] == case and r["protocol"] == "zmodem" and r["status"] == "ok":
            return float(r["efficiency"])
    return None


def case_table(rows, case):
    lines = ["| protocol | direction | efficiency | ours / ZMODEM | elapsed s | bits flipped | note |",
             "| --- | --- | --- | --- | --- | --- | --- |"]
    zm = zmodem_efficiency(rows, case)
    for r in rows:
        if r["case"] != case:
            continue
        ratio = ""
        if r["protocol"] == OURS and r["status"] == "ok" and zm:
            ratio = f"{float(r['efficiency']) / zm:.3f}"
        elapsed = r["elapsed_s"] if r["status"] != "n/a" else ""
        lines.append(f"| {r['protocol']} | {r['direction']} | {describe(r)} | {ratio} | {elapsed} | "
                     f"{r['bits_flipped']} | {r['note'].strip().rstrip(';')} |")
    return lines


def plot(rows, png):
    """Efficiency against line speed on the clean line, one curve per protocol."""
    clean = [r for r in rows if r["case"].startswith("clean-") and r["status"] == "ok"]
    series = {}
    for r in clean:
        key = series_name(r)
        series.setdefault(key, []).append((int(r["baud"]), 100 * float(r["efficiency"])))
    if not series:
        return False
    with tempfile.TemporaryDirectory() as tmp:
        plots = []
        for i, (name, points) in enumerate(sorted(series.items())):
            data = os.path.join(tmp, f"s{i}.dat")
            with open(data, "w") as f:
                for baud, eff in sorted(points):
                    f.write(f"{baud} {eff}\n")
            plots.append(f"'{data}' using 1:2 with linespoints title '{name}'")
        script = "\n".join([
            "set terminal pngcairo size 900,560",
            f"set output '{png}'",
            "set title 'Line efficiency on a clean line (payload / raw character rate)'",
            "set logscale x", "set xrange [7000:160000]", "set xtics (9600, 38400, 115200)",
            "set xlabel 'line speed, bit/s'", "set ylabel 'efficiency, %'",
            "set yrange [0:105]", "set key bottom right", "set grid",
            "plot " + ", ".join(plots),
        ])
        subprocess.run(["gnuplot"], input=script, text=True, check=True)
    return True


def series_name(row):
    return f"{row['protocol']} {row['direction']}" if row["protocol"] == OURS else row["protocol"]


def cases_plot(rows, png):
    """Efficiency of every protocol in every case, as grouped bars (0: failed or cannot)."""
    cases, names = [], []
    eff = {}
    for r in rows:
        if r["case"] not in cases:
            cases.append(r["case"])
        name = series_name(r)
        if name not in names:
            names.append(name)
        eff[(r["case"], name)] = 100 * float(r["efficiency"]) if r["status"] == "ok" else 0.0
    if not cases:
        return False
    with tempfile.TemporaryDirectory() as tmp:
        data = os.path.join(tmp, "cases.dat")
        with open(data, "w") as f:
            f.write("case " + " ".join(f'"{n}"' for n in names) + "\n")
            for c in cases:
                f.write(f'"{c}" ' + " ".join(f"{eff.get((c, n), 0.0):.2f}" for n in names) + "\n")
        columns = ", ".join(f"'' using {i + 2}:xtic(1) title columnheader" for i in range(len(names)))
        script = "\n".join([
            "set terminal pngcairo size 1100,560",
            f"set output '{png}'",
            "set title 'Line efficiency by case (0: failed, did not finish or cannot)'",
            "set style data histograms", "set style histogram clustered gap 1",
            "set style fill solid 0.8 border -1", "set boxwidth 0.9",
            "set ylabel 'efficiency, %'", "set yrange [0:*]", "set grid ytics",
            "set xtics rotate by -25", "set key outside right top",
            f"plot '{data}' " + columns.lstrip("''"),
        ])
        subprocess.run(["gnuplot"], input=script, text=True, check=True)
    return True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", required=True)
    ap.add_argument("--plot", required=True)
    ap.add_argument("--cases-plot")
    ap.add_argument("--note", default="")
    ap.add_argument("--before", help="our table of a run before received files were synced")
    ap.add_argument("--before-correction", help="our table of a run with retransmission alone")
    ap.add_argument("csv", nargs="+")
    args = ap.parse_args()
    rows, polling, disk, fleet, codecs = read_rows(args.csv)
    md = ["# Benchmarks", "",
          "Written by `scripts/bench`. Every figure comes from one run on the same emulated line "
          "(`lineemu`): efficiency = payload bytes / (elapsed seconds x raw character rate), the raw "
          "character rate being baud / bits per character. Elapsed times are for information only.",
          "", "Each transfer is timed from the sender's start (the receiver is already waiting) until "
          "the first side ends successfully; the received files are then compared with the originals.",
          "",
          "- Run: `scripts/bench` (about an hour: our series and three peer series run side by side, each on "
          "its own emulated line, then polling, disk, the whole fleet through the program and the compression "
          "libraries alone), or `scripts/bench --quick` for a smoke check that writes into the build tree. It "
          "installs lrzsz, ckermit and gnuplot from Debian; the test suite never runs it.",
          "- quendril: the library (tvk_ C API, program defaults lineParamA 50 ms, lineParamB 3000 ms, "
          "lineParamC 3) on side a, `htsim` with one terminal on side b; ht->pc is a receive job, pc->ht a transmit.",
          "- Peers, sender on side a and receiver on side b over stdin/stdout: ZMODEM `sz -b` / `rz -b -y`, "
          "YMODEM `sb -k` / `rb -b -y`, XMODEM-1K `sx -k` / `rx -b -c`, C-Kermit with a 30-packet window and "
          "4000-byte packets; control characters go unprefixed on the clean 8-bit lines and stay quoted where "
          "the line flips bits (unprefixed, Kermit delivered a corrupt file at 1e-5) and on the 7-bit line, "
          "where even parity turns on 8th-bit prefixing.",
          "- On a pseudo-terminal a message written just before a program exits is often flushed away; when one "
          "side has ended successfully and the other still waits for such a closing message 1.5 s later, the "
          "transfer counts as ended when the first side ended (noted in the table).",
          "- bits flipped: lineemu's count of data bits it flipped, both ways.",
          ""]
    if args.note:
        md += [args.note, ""]
    md += targets_table(rows, polling, disk, fleet)
    if args.before and os.path.exists(args.before):
        md += durability_table(rows, args.before)
    if any(r["case"] in CASE_DATA for r in rows):
        md += compression_table(rows)
    if args.before_correction and os.path.exists(args.before_correction):
        md += correction_table(rows, args.before_correction)
    have_plot = plot(rows, args.plot)
    if have_plot:
        md += [f"![Efficiency against line speed]({os.path.basename(args.plot)})", ""]
    if args.cases_plot and cases_plot(rows, args.cases_plot):
        md += [f"![Efficiency by case]({os.path.basename(args.cases_plot)})", ""]
    seen = []
    for r in rows:
        if r["case"] not in seen:
            seen.append(r["case"])
    for case in seen:
        first = next(r for r in rows if r["case"] == case)
        md += [f"## {CASE_TITLES.get(case, case)}", "",
               f"{first['files']} file(s), {first['payload_bytes']} payload bytes, "
               f"line {first['baud']} {first['format']}.", ""]
        md += case_table(rows, case) + [""]
    if fleet:
        md += fleet_table(fleet)
    if polling:
        md += polling_table(polling)
    if disk:
        md += disk_table(disk)
    if codecs:
        md += codec_table(codecs)
    with open(args.out, "w") as f:
        f.write("\n".join(md))
    return 0


if __name__ == "__main__":
    sys.exit(main())
