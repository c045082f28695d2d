#!/usr/bin/env python3
"""The whole print chain, PDF to printer bytes, for this driver and for two peer
drivers of monochrome laser printers, run side by side through CUPS's own
`cupsfilter` (which runs a PPD's filter chain without a scheduler):

  ours     ppd/zelvar.ppd: pdftopdf, gstoraster, rastertoZelvar
  SpliX    Debian's printer-driver-splix, Samsung ML-2160
  brlaser  Debian's printer-driver-brlaser, Brother HL-L2300D

The peers are black boxes: their PPDs are compiled here with ppdc from the
driver files their packages ship, and their filters run as installed.

Two documents: pages of the real PDF that J2 of the filter benchmark uses, and a
photo-like PDF made here (a generated image, turned into a PDF by Ghostscript).
Every chain runs --runs times per document, the chains alternating in a rotating
order; the figures are medians of the process tree's CPU (user + sys of
cupsfilter and every filter it waited for) and wall time, and the ratios ours /
theirs of those medians, all from this run.  Then a second set of runs times the
stages: every filter runs under a wrapper that records its own CPU (gstoraster's
includes its Ghostscript), and rastertoZelvar's timing lines split its own into
reading, processing and encoding.

Usage: chain.py BUILD_DIR WORK_DIR [--runs N] [--stage-runs N] [--pages N]
(bench/run.sh --chain builds what it needs and runs it in a scratch directory.)
"""

import argparse
import base64
import math
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench import CORES, cpu_model, real_pdf  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DRV_DIR = "/usr/share/cups/drv"

# The filter's processor time per step, from its own log lines (thread CPU).
RE_READ_CPU = re.compile(rb"GetCUPSPageData::cpu ([0-9.]+) sec")
RE_PROCESS_CPU = re.compile(rb"ImageProcThread::page \d+ processed, using [0-9.]+ sec, cpu ([0-9.]+) sec")
RE_ENCODE_CPU = re.compile(rb"BuildPageRecord::page \d+ Finish, using [0-9.]+ sec, cpu ([0-9.]+) sec")

# The targets: (document, ours, peer, figure, bound).
TARGETS = [("text", "ours", "SpliX", "cpu", 1.0), ("text", "ours", "SpliX", "wall", 0.9),
           ("text", "ours", "brlaser", "cpu", 3.5), ("photo", "ours", "SpliX", "wall", 1.0)]


class Chain:
    def __init__(self, name, ppd, options, filters, docs):
        self.name = name
        self.ppd = ppd
        self.options = options  # -o options for cupsfilter
        self.filters = filters  # the filter programs of the chain, in order
        self.docs = docs  # the documents this chain prints


def make_serverbin(work, build, wrapped=None):
    """A ServerBin of the system's filters and ours, and a cups-files.conf naming
    it.  With `wrapped` (a file for the records), every filter runs under a wrapper
    that appends its name, user and system CPU to that file."""
    sysbin = subprocess.run(["cups-config", "--serverbin"], capture_output=True,
                            text=True).stdout.strip() or "/usr/lib/cups"
    datadir = subprocess.run(["cups-config", "--datadir"], capture_output=True,
                             text=True).stdout.strip() or "/usr/share/cups"
    tag = "stages" if wrapped else "plain"
    sb = os.path.join(work, "serverbin-" + tag)
    fdir = os.path.join(sb, "filter")
    os.makedirs(fdir, exist_ok=True)
    programs = {n: os.path.join(sysbin, "filter", n) for n in os.listdir(os.path.join(sysbin, "filter"))}
    programs["rastertoZelvar"] = os.path.join(build, "rastertoZelvar")
    for name, real in programs.items():
        dest = os.path.join(fdir, name)
        if not wrapped:
            os.symlink(real, dest)
            continue
        with open(dest, "w") as f:
            f.write(WRAPPER % {"python": sys.executable, "real": os.path.realpath(real),
                               "name": name, "log": wrapped})
        os.chmod(dest, 0o755)
    conf = os.path.join(work, "cups-files-%s.conf" % tag)
    with open(conf, "w") as f:
        f.write("ServerBin %s\nDataDir %s\n" % (sb, datadir))
    return conf


# Runs the real filter as its child (same arguments and descriptors; argv[0], the
# queue name, is also in PRINTER) and records the filter's CPU, its own and its
# waited-for children's.
WRAPPER = """#!%(python)s
import os, sys
pid = os.fork()
if pid == 0:
    os.execv(%(real)r, [os.environ.get("PRINTER", sys.argv[0])] + sys.argv[1:])
_, status, ru = os.wait4(pid, 0)
with open(%(log)r, "a") as f:
    f.write("%%s %%.6f %%.6f\\n" %% (%(name)r, ru.ru_utime, ru.ru_stime))
sys.exit(os.waitstatus_to_exitcode(status))
"""


def peer_ppds(work):
    """The peers' PPDs, compiled from their packages' driver files; a dict of name
    to PPD path (missing peers are left out, with a note)."""
    out = os.path.join(work, "peer-ppds")
    found = {}
    for name, drv, ppd in (("SpliX", "splix-samsung.drv", "ml2160.ppd"),
                           ("brlaser", "brlaser.drv", "brl2300d.ppd")):
        src = os.path.join(DRV_DIR, drv)
        if not os.path.exists(src):
            print("note: %s is not installed (%s missing; scripts/install-deps.sh installs "
                  "scripts/packages/bench.list)" % (name, src))
            continue
        d = os.path.join(out, name)
        os.makedirs(d, exist_ok=True)
        subprocess.run(["ppdc", "-d", d, src], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        path = os.path.join(d, ppd)
        if os.path.exists(path):
            found[name] = path
        else:
            print("note: ppdc made no %s from %s" % (ppd, src))
    return found


def photo_pdf(work, pages):
    """A photo-like PDF: on every page a generated colour image over the printable
    area (gradients, soft shapes and grain, the picture turned from page to page),
    written as PostScript and made a PDF by Ghostscript (which stores the image
    JPEG-compressed, as photos in PDFs mostly are)."""
    w, h = 850, 1100  # 100 pixels per inch over Letter's 8.5 x 11 inches
    rnd = random.Random(12)
    ps = os.path.join(work, "photo.ps")
    with open(ps, "wb") as f:
        f.write(b"%!PS-Adobe-3.0\n%%Pages: " + str(pages).encode() + b"\n%%EndComments\n")
        for p in range(pages):
            sx = [int(60 * math.sin(x / (70.0 + 9 * p) + p)) for x in range(w)]
            sy = [int(60 * math.cos(y / (90.0 + 7 * p) - p)) for y in range(h)]
            cx, cy, r2 = rnd.randrange(w), rnd.randrange(h), (min(w, h) // 3) ** 2
            data = bytearray()
            for y in range(h):
                noise = rnd.randbytes(w)
                dy2 = (y - cy) * (y - cy)
                base = 110 + sy[y]
                for x in range(w):
                    v = base + sx[x] + (noise[x] & 15)
                    if (x - cx) * (x - cx) + dy2 < r2:
                        v += 50
                    v = 0 if v < 0 else 255 if v > 255 else v
                    data += bytes((v, (v * 3 + y) // 4 & 255, (v + x) // 2 & 255))
            f.write(("%%%%Page: %d %d\n<< /PageSize [612 792] >> setpagedevice\n"
                     "gsave 12 12 translate 588 768 scale /DeviceRGB setcolorspace\n"
                     "<< /ImageType 1 /Width %d /Height %d /BitsPerComponent 8 "
                     "/Decode [0 1 0 1 0 1] /ImageMatrix [%d 0 0 -%d 0 %d] "
                     "/DataSource currentfile /ASCII85Decode filter >> image\n"
                     % (p + 1, p + 1, w, h, w, h, h)).encode())
            f.write(base64.a85encode(bytes(data), wrapcol=76, adobe=True)[2:] + b"\n")
            f.write(b"grestore showpage\n")
        f.write(b"%%EOF\n")
    pdf = os.path.join(work, "photo.pdf")
    subprocess.run(["ps2pdf", "-dAutoRotatePages=/None", ps, pdf], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.remove(ps)
    return pdf


def run_chain(chain, doc, conf, work, inspect):
    """One print of `doc` through the chain; wall time and the process tree's CPU."""
    out = os.path.join(work, "%s-%s.prn" % (chain.name, doc[0]))
    err = os.path.join(work, "%s-%s.log" % (chain.name, doc[0]))
    args = ["cupsfilter", "-c", conf, "-p", chain.ppd, "-m", "printer/foo", "-e"]
    for o in chain.options:
        args += ["-o", o]
    args.append(doc[1])
    with open(out, "wb") as fo, open(err, "wb") as fe:
        start = time.monotonic()
        p = subprocess.Popen(args, stdout=fo, stderr=fe)
        _, status, ru = os.wait4(p.pid, 0)
        wall = time.monotonic() - start
    r = {"wall": wall, "cpu": ru.ru_utime + ru.ru_stime, "user": ru.ru_utime, "sys": ru.ru_stime,
         "rc": os.waitstatus_to_exitcode(status), "bytes": os.path.getsize(out)}
    with open(err, "rb") as f:
        log = f.read()
    r["read"] = sum(float(x) for x in RE_READ_CPU.findall(log))
    r["process"] = sum(float(x) for x in RE_PROCESS_CPU.findall(log))
    r["encode"] = sum(float(x) for x in RE_ENCODE_CPU.findall(log))
    r["pages"] = None
    if chain.name.startswith("ours"):
        # Our job must be whole: the inspector accepts it, one record per page.
        res = subprocess.run([inspect, out], capture_output=True, text=True)
        r["pages"] = sum(1 for line in res.stdout.splitlines()
                         if len(line.split()) == 12 and line.split()[0].isdigit()) \
            if res.returncode == 0 else -1
    return r


def median(runs, key):
    return statistics.median(r[key] for r in runs)


def report_chains(doc, chains, results, npages):
    print("\n%s document (%s), %d pages: medians of %d runs" % (
        doc[0], os.path.basename(doc[1]), npages, len(next(iter(results.values())))))
    print("  %-18s %8s %8s %8s %8s %11s %11s" % ("chain", "CPU", "user", "sys", "wall",
                                                "CPU/page", "output"))
    whole = {}
    for c in chains:
        runs = results[c.name]
        bad = [r["rc"] for r in runs if r["rc"] != 0] + \
            [r["pages"] for r in runs if r["pages"] not in (None, npages)]
        whole[c.name] = not bad
        print("  %-18s %7.3fs %7.3fs %7.3fs %7.3fs %10.3fs %9.0fKB%s" % (
            c.name, median(runs, "cpu"), median(runs, "user"), median(runs, "sys"),
            median(runs, "wall"), median(runs, "cpu") / npages, median(runs, "bytes") / 1024,
            "  FAILED RUNS: %s" % bad if bad else ""))
    ratios = {}
    ours = [c for c in chains if c.name.startswith("ours")]
    peers = [c for c in chains if not c.name.startswith("ours")]
    for o in ours:
        for p in peers:
            cpu = median(results[o.name], "cpu") / median(results[p.name], "cpu")
            wall = median(results[o.name], "wall") / median(results[p.name], "wall")
            ratios[(o.name, p.name)] = {"cpu": cpu, "wall": wall,
                                        "whole": whole[o.name] and whole[p.name]}
            print("  %s / %s: CPU %.2f, wall %.2f" % (o.name, p.name, cpu, wall))
    return ratios


def report_stages(doc, chains, stages, results, npages):
    """CPU per page of each filter of each chain (medians of the stage runs), and
    our filter's share of reading, processing and encoding."""
    print("\n%s document: CPU per page by stage (ms, medians of %d runs with each filter "
          "timed)" % (doc[0], len(next(iter(stages.values())))))
    for c in chains:
        runs = stages[c.name]
        parts = []
        for f in c.filters:
            parts.append("%s %.1f" % (f, 1000 * statistics.median(r.get(f, 0) for r in runs) / npages))
        cupsfilter = statistics.median(r["tree"] - sum(r.get(f, 0) for f in c.filters)
                                       for r in runs)
        parts.append("cupsfilter and wrappers %.1f" % (1000 * cupsfilter / npages))
        print("  %-18s %s" % (c.name, ", ".join(parts)))
        if c.name.startswith("ours"):
            # The filter's steps and the rest of its CPU, from the same runs.
            logs = stages[c.name + "/log"]
            read, proc, enc = (statistics.median(r[k] for r in logs) for k in
                               ("read", "process", "encode"))
            rest = statistics.median(s.get("rastertoZelvar", 0) - r["read"] - r["process"] -
                                     r["encode"] for s, r in zip(runs, logs))
            print("  %-18s rastertoZelvar: read %.1f, processing %.1f, encode %.1f, the rest "
                  "(start, threads, output, end) %.1f" % (
                      "", 1000 * read / npages, 1000 * proc / npages, 1000 * enc / npages,
                      1000 * rest / npages))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("work")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--stage-runs", type=int, default=3)
    ap.add_argument("--pages", type=int, default=10)
    a = ap.parse_args()
    a.build = os.path.abspath(a.build)
    t0 = time.monotonic()
    for tool in ("cupsfilter", "ppdc", "ps2pdf", "cups-config"):
        if not shutil.which(tool):
            sys.exit("chain.py: %s is missing (scripts/install-deps.sh installs it)" % tool)
    print("machine: %d cores, %s; load average at start %s" % (
        CORES, cpu_model(), " ".join("%.2f" % x for x in os.getloadavg())))
    inspect = os.path.join(a.build, "zelvar-inspect")

    text = real_pdf(a.work, a.pages, "text.pdf")
    if text is None:
        sys.exit("chain.py: the real PDF (Debian's libtasn1-doc) or poppler-utils is missing")
    photo = photo_pdf(a.work, a.pages)
    docs = [("text", text), ("photo", photo)]
    ppds = peer_ppds(a.work)
    ours_ppd = os.path.join(ROOT, "ppd", "zelvar.ppd")
    stages_ours = ["pdftopdf", "gstoraster", "rastertoZelvar"]
    chains = [Chain("ours", ours_ppd, ["PageSize=Letter"], stages_ours, ("text", "photo")),
              Chain("ours (Halftone)", ours_ppd, ["PageSize=Letter", "PrintMode=Halftone"],
                    stages_ours, ("photo",))]
    if "SpliX" in ppds:
        chains.append(Chain("SpliX", ppds["SpliX"], ["PageSize=Letter"],
                            ["pdftopdf", "gstoraster", "rastertoqpdl"], ("text", "photo")))
    if "brlaser" in ppds:
        chains.append(Chain("brlaser", ppds["brlaser"], ["PageSize=Letter"],
                            ["pdftopdf", "gstoraster", "rastertobrlaser"], ("text", "photo")))
    plain = make_serverbin(a.work, a.build)
    stage_log = os.path.join(a.work, "stages.txt")
    timed = make_serverbin(a.work, a.build, stage_log)
    print("figures: CPU = user + sys of cupsfilter and every filter it ran; seconds unless "
          "marked")

    all_ratios = {}
    for doc in docs:
        mine = [c for c in chains if doc[0] in c.docs]
        results = {c.name: [] for c in mine}
        for i in range(a.runs):
            # A rotating order: every chain runs first, middle and last in turn.
            for k in range(len(mine)):
                c = mine[(i + k) % len(mine)]
                results[c.name].append(run_chain(c, doc, plain, a.work, inspect))
        ratios = report_chains(doc, mine, results, a.pages)
        all_ratios.update({(doc[0],) + k: v for k, v in ratios.items()})

        stages = {c.name: [] for c in mine}
        stages.update({c.name + "/log": [] for c in mine})
        for i in range(a.stage_runs):
            for k in range(len(mine)):
                c = mine[(i + k) % len(mine)]
                if os.path.exists(stage_log):
                    os.remove(stage_log)
                r = run_chain(c, doc, timed, a.work, inspect)
                rec = {"tree": r["cpu"]}
                with open(stage_log) as f:
                    for line in f:
                        name, user, system = line.split()
                        rec[name] = rec.get(name, 0) + float(user) + float(system)
                stages[c.name].append(rec)
                stages[c.name + "/log"].append(r)
        report_stages(doc, mine, stages, results, a.pages)

    print("\nchecks (ratios of medians, this run; ours in its default LineArt mode):")
    for doc, ours, peer, what, bound in TARGETS:
        r = all_ratios.get((doc, ours, peer))
        if r is None:
            print("  [skipped] %s %s / %s %s: %s not run" % (doc, ours, peer, what, peer))
            continue
        ok = r[what] <= bound and r["whole"]
        print("  [%s] %s chain %s, %s / %s %.2f <= %.1f%s" % (
            "ok" if ok else "MISSED", doc, "CPU" if what == "cpu" else "wall", ours, peer,
            r[what], bound, "" if r["whole"] else " (failed runs)"))
    print("\nload average at end %s; benchmark time %.0f s" % (
        " ".join("%.2f" % x for x in os.getloadavg()), time.monotonic() - t0))


if __name__ == "__main__":
    main()
