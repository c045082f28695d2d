#!/usr/bin/env python3
"""Runs the filter on the benchmark jobs and prints, for each run, wall time, CPU,
peak memory, the time to the first page record and the ratios to the lower bound
taken from the filter's own timing lines of the same run.

With --encoders it compares the filter's own JBIG encoder with libjbig's on the
J2 and J3 pages instead: the whole filter with each encoder (chosen with
ZELVAR_JBIG_ENCODER), runs alternating, by CPU time (user + sys); then the
encoders alone on every page (zelvar-jbig-bench, thread CPU time, alternating),
with the ratio ours / libjbig from the same run; and every page byte-identical.

Usage: bench.py BUILD_DIR WORK_DIR [--runs N] [--jobs J1,J2,...] [--encoders]
"""

import argparse
import os
import re
import resource
import shutil
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CORES = os.cpu_count() or 1

# The filter's timing lines (wall-clock seconds or milliseconds of one step).
RE_READ = re.compile(rb"GetCUPSPageData Out, using ([0-9.]+) sec")
RE_ENCODE = re.compile(rb"BuildPageRecord::page (\d+) Finish, using ([0-9.]+) sec")
RE_PROCESS = re.compile(rb"ImageProcThread::page (\d+) processed, using ([0-9.]+) sec")
RE_RING = re.compile(rb"gMAX_THREAD = (\d+)")
RE_PAGESIZE = re.compile(rb"GetCUPSPageData::pagesize = (\d+) bytes")


class Job:
    def __init__(self, name, title, make_args, piped=True, pages_per_run=None, render_pdf=False,
                 extra_runs=0):
        self.name = name
        self.title = title
        self.make_args = make_args
        self.piped = piped
        self.render_pdf = render_pdf
        self.pages = pages_per_run
        self.extra_runs = extra_runs  # short jobs: more runs for a steadier figure
        self.raster = None
        self.source = ""


def make_jobs():
    return [
        Job("J1", "one 8-bit A4 page, 600 dpi (latency)",
            ["--pages", "1", "--size", "a4", "--depth", "8", "--content", "text"], piped=False),
        Job("J2", "20 Letter pages, 600 dpi, 24-bit text, piped",
            ["--pages", "20", "--size", "letter", "--depth", "24", "--content", "text"],
            render_pdf=True),
        Job("J2g", "20 Letter pages, 600 dpi, 24-bit generated text, piped",
            ["--pages", "20", "--size", "letter", "--depth", "24", "--content", "text"]),
        Job("J3", "20 Letter pages, 600 dpi, 24-bit photo, piped",
            ["--pages", "20", "--size", "letter", "--depth", "24", "--content", "photo"]),
        Job("J4-30", "30 A6 pages, 300 dpi, two-sided, 3 collated copies",
            ["--pages", "30", "--size", "a6", "--dpi", "300", "--depth", "24", "--content", "text",
             "--duplex", "--copies", "3", "--collate"], extra_runs=4),
        Job("J4", "300 A6 pages, 300 dpi, two-sided, 3 collated copies",
            ["--pages", "300", "--size", "a6", "--dpi", "300", "--depth", "24", "--content", "text",
             "--duplex", "--copies", "3", "--collate"]),
    ]


REAL_PDF = "/usr/share/doc/libtasn1-doc/libtasn1.pdf"  # Debian's libtasn1-doc


def real_pdf(work, pages, name):
    """Pages 1 to `pages` of the real PDF as WORK/NAME; None when the document or
    the tools to cut it are missing."""
    if not (os.path.exists(REAL_PDF) and shutil.which("pdfseparate") and shutil.which("pdfunite")):
        return None
    parts = os.path.join(work, "pdfparts")
    os.makedirs(parts, exist_ok=True)
    subprocess.run(["pdfseparate", "-f", "1", "-l", str(pages), REAL_PDF,
                    os.path.join(parts, "p%03d.pdf")], check=True, stderr=subprocess.DEVNULL)
    names = sorted(os.path.join(parts, n) for n in os.listdir(parts))
    doc = os.path.join(work, name)
    subprocess.run(["pdfunite"] + names + [doc], check=True, stderr=subprocess.DEVNULL)
    shutil.rmtree(parts)
    return doc


def render_pdf_job(job, work, pages):
    """J2 from a real multi-page PDF through the cups-filters renderer, as CUPS
    would deliver it; None when the renderer or the document is missing."""
    gstoraster = "/usr/lib/cups/filter/gstoraster"
    if not os.access(gstoraster, os.X_OK):
        return None
    doc = real_pdf(work, pages, "j2.pdf")
    if doc is None:
        return None
    out = os.path.join(work, job.name + ".ras")
    env = dict(os.environ, PPD=os.path.join(HERE, "bench.ppd"),
               CONTENT_TYPE="application/pdf",
               FINAL_CONTENT_TYPE="application/vnd.cups-raster")
    with open(out, "wb") as f:
        r = subprocess.run([gstoraster, "1", "bench", "j2", "1", "", doc], stdout=f,
                           stderr=subprocess.DEVNULL, env=env)
    if r.returncode != 0 or os.path.getsize(out) == 0:
        return None
    return out, "libtasn1.pdf pages 1-%d rendered by cups-filters' gstoraster" % pages


def generate(job, build, work):
    if job.render_pdf:
        rendered = render_pdf_job(job, work, 20)
        if rendered:
            job.raster, job.source = rendered
            return
        job.source = "generated text (no PDF renderer here)"
    out = os.path.join(work, job.name + ".ras")
    subprocess.run([os.path.join(build, "zelvar-make-raster"), "--out", out] + job.make_args,
                   check=True)
    job.raster = out
    if not job.source:
        job.source = "zelvar-make-raster " + " ".join(job.make_args)


def reader(fd, chunks):
    """Collects the filter's standard output with the arrival time of each piece."""
    while True:
        data = os.read(fd, 1 << 20)
        if not data:
            break
        chunks.append((time.monotonic(), data))


def first_record_end(inspect, prn):
    """Byte offset just past the first page record, from the job inspector."""
    out = subprocess.run([inspect, prn], capture_output=True, text=True).stdout
    for line in out.splitlines():
        f = line.split()
        # page offset width height datasize compsize ...
        if len(f) >= 6 and f[0] == "1" and f[1].isdigit():
            return int(f[1]) + 34 + int(f[5])
    return None


def sample_schedstat(pid, stats, done):
    """Keeps the latest /proc schedstat of every thread of the filter: time on a
    processor and time spent runnable but waiting for one (behind other processes
    or the filter's own threads)."""
    base = "/proc/%d/task" % pid
    while not done.is_set():
        try:
            for tid in os.listdir(base):
                try:
                    with open("%s/%s/schedstat" % (base, tid)) as f:
                        run_ns, wait_ns, _ = f.read().split()
                    stats[tid] = (int(run_ns), int(wait_ns))
                except (OSError, ValueError):
                    pass
        except OSError:
            pass
        done.wait(0.002)


def run_filter(job, build, work, env=None, tag=""):
    filt = os.path.join(build, "rastertoZelvar")
    prn = os.path.join(work, job.name + tag + ".prn")
    log = os.path.join(work, job.name + tag + ".log")
    args = ["queue", "1", "bench", job.name, "1", ""]
    cat = None
    feeder = 0.0  # CPU of the `cat` that feeds the pipe
    with open(log, "wb") as err:
        start = time.monotonic()
        if job.piped:
            cat = subprocess.Popen(["cat", job.raster], stdout=subprocess.PIPE)
            stdin = cat.stdout
        else:
            args.append(job.raster)
            stdin = subprocess.DEVNULL
        p = subprocess.Popen(args, executable=filt, stdin=stdin, stdout=subprocess.PIPE,
                             stderr=err, env=env)
        if cat:
            cat.stdout.close()
        chunks = []
        t = threading.Thread(target=reader, args=(p.stdout.fileno(), chunks))
        t.start()
        sched, done = {}, threading.Event()
        s = threading.Thread(target=sample_schedstat, args=(p.pid, sched, done))
        s.start()
        _, status, ru = os.wait4(p.pid, 0)
        end = time.monotonic()
        done.set()
        s.join()
        p.returncode = os.waitstatus_to_exitcode(status)
        t.join()
        p.stdout.close()
        if cat:
            _, _, cat_ru = os.wait4(cat.pid, 0)
            feeder = cat_ru.ru_utime + cat_ru.ru_stime
    with open(prn, "wb") as f:
        for _, d in chunks:
            f.write(d)
    r = {"wall": end - start, "user": ru.ru_utime, "sys": ru.ru_stime,
         "rss_mb": ru.ru_maxrss / 1024.0, "rc": p.returncode,
         "runq": sum(w for _, w in sched.values()) / 1e9, "feeder": feeder}
    # Time to the first page record: when the byte that ends it arrived.
    r["first"] = None
    stop = first_record_end(os.path.join(build, "zelvar-inspect"), prn)
    if stop is not None:
        got = 0
        for when, d in chunks:
            got += len(d)
            if got >= stop:
                r["first"] = when - start
                break
    with open(log, "rb") as f:
        text = f.read()
    reads = [float(x) for x in RE_READ.findall(text)]
    encodes = {int(p): float(s) for p, s in RE_ENCODE.findall(text)}
    procs = {int(p): float(s) for p, s in RE_PROCESS.findall(text)}
    r["pages"] = len(reads)
    r["read"] = sum(reads)
    r["encode"] = sum(encodes.values())
    r["process"] = sum(procs.values())
    r["work"] = r["read"] + r["process"] + r["encode"]
    # Pages are processed and compressed on several threads at once; reading is
    # the one step done a page at a time.
    r["bound"] = max(r["read"], r["work"] / CORES)
    r["cpu_bound"] = max(r["read"], (r["user"] + r["sys"]) / CORES)
    r["page0"] = (reads[0] if reads else 0) + procs.get(0, 0) + encodes.get(0, 0)
    r["log_lines"] = text.count(b"\n")
    # Memory the issue allows: the pages in flight as 8-bit pages, one page's
    # working copies per core, and 64 MB.
    ring = RE_RING.findall(text)
    sizes = [int(x) for x in RE_PAGESIZE.findall(text)]
    page = max(sizes) if sizes else 0
    in_flight = min(int(ring[-1]) if ring else 1, len(reads))
    r["rss_bound_mb"] = (in_flight * page + CORES * page) / 2**20 + 64
    r["spooled"] = b"gSaveToFile = 1" in text
    return r


def fmt(v, digits=3):
    return "-" if v is None else ("%.*f" % (digits, v))


def report(job, runs):
    print("\n%s: %s" % (job.name, job.title))
    print("  source: %s" % job.source)
    print("  %-4s %7s %7s %7s %7s %8s %7s %7s %7s %7s %7s %7s %7s %7s" % (
        "run", "wall", "user", "sys", "runq", "peakRSS", "first", "pages", "read", "proc",
        "encode", "bound", "wall/bd", "pg/s"))
    for i, r in enumerate(runs):
        print("  %-4d %7s %7s %7s %7s %7.0fM %7s %7d %7s %7s %7s %7s %7s %7s" % (
            i + 1, fmt(r["wall"]), fmt(r["user"]), fmt(r["sys"]), fmt(r["runq"]), r["rss_mb"],
            fmt(r["first"]),
            r["pages"], fmt(r["read"]), fmt(r["process"]), fmt(r["encode"]), fmt(r["bound"]),
            fmt(r["wall"] / r["bound"] if r["bound"] else None, 2),
            fmt(r["pages"] / r["wall"], 1)))
        if r["rc"] != 0:
            print("       exit status %d" % r["rc"])
    med = lambda k: statistics.median([r[k] for r in runs if r[k] is not None]) \
        if any(r[k] is not None for r in runs) else None
    m = {k: med(k) for k in runs[0]}
    m["ratio"] = statistics.median([r["wall"] / r["bound"] for r in runs if r["bound"]]) \
        if any(r["bound"] for r in runs) else None
    m["cpu_ratio"] = statistics.median([r["wall"] / r["cpu_bound"] for r in runs])
    m["cpu_share"] = statistics.median([r["wall"] * CORES / (r["user"] + r["sys"]) for r in runs])
    # The same with the CPU of the `cat` feeding the pipe, which shares the cores.
    m["cpu_share_fed"] = statistics.median(
        [r["wall"] * CORES / (r["user"] + r["sys"] + r["feeder"]) for r in runs])
    m["first_ratio"] = statistics.median([r["first"] / r["page0"] for r in runs
                                          if r["first"] and r["page0"]]) \
        if any(r["first"] and r["page0"] for r in runs) else None
    m["best_per_page"] = min(r["wall"] / r["pages"] for r in runs if r["pages"])
    m["idle"] = statistics.median([r["wall"] - r["user"] - r["sys"] for r in runs])
    m["idle_own"] = statistics.median([r["wall"] - r["user"] - r["sys"] - r["runq"] for r in runs])
    print("  median: wall %s s, CPU %s s (user+sys), %s pages/s, peak RSS %.0f MB (allowed %.0f MB)" % (
        fmt(m["wall"]), fmt(m["user"] + m["sys"]), fmt(m["pages"] / m["wall"], 2), m["rss_mb"],
        m["rss_bound_mb"]))
    print("          wall / bound(log) %s, wall / bound(CPU) %s, first record %s s = %s x page 1's "
          "work (%s s)," % (fmt(m["ratio"], 2), fmt(m["cpu_ratio"], 2), fmt(m["first"]),
                            fmt(m["first_ratio"], 2), fmt(m["page0"])))
    print("          idle (wall - CPU) %s ms, of which waiting for a processor (run queue) %s ms, "
          "other idle %s ms; %d log lines" % (
              fmt(m["idle"] * 1000, 1), fmt(m["runq"] * 1000, 1), fmt(m["idle_own"] * 1000, 1),
              m["log_lines"]))
    print("          wall / ((user + sys) / %d cores) %s; the feeding cat's CPU %s s, with it %s" % (
        CORES, fmt(m["cpu_share"], 2), fmt(m["feeder"]), fmt(m["cpu_share_fed"], 2)))
    return m


def page_records(inspect, prn):
    """The bytes of the job from its first page record to its end (the header block
    before it carries the date and time of the run)."""
    out = subprocess.run([inspect, prn], capture_output=True, text=True).stdout
    for line in out.splitlines():
        f = line.split()
        if len(f) >= 6 and f[0] == "1" and f[1].isdigit():
            with open(prn, "rb") as fp:
                return fp.read()[int(f[1]):]
    return None


ENCODER_TARGETS = {"J2": 0.25, "J3": 0.5}  # encode time per page, ours / libjbig
FILTER_TARGET = ("J2", 0.7)  # whole-filter CPU, ours / libjbig


def compare_encoders(jobs, build, work, runs):
    inspect = os.path.join(build, "zelvar-inspect")
    own_env = dict(os.environ)
    own_env.pop("ZELVAR_JBIG_ENCODER", None)
    lib_env = dict(own_env, ZELVAR_JBIG_ENCODER="libjbig")
    results = {}
    for job in jobs:
        generate(job, build, work)
        print("\n%s: %s\n  source: %s" % (job.name, job.title, job.source))
        cpu = {"own": [], "libjbig": []}
        identical = True
        for i in range(runs):
            for name, env in (("own", own_env), ("libjbig", lib_env)):
                r = run_filter(job, build, work, env, "-" + name)
                if r["rc"] != 0:
                    print("  run %d %s: exit status %d" % (i + 1, name, r["rc"]))
                cpu[name].append(r["user"] + r["sys"])
                print("  run %d %-8s whole filter CPU %6.3f s (user %.3f, sys %.3f), wall %.3f s, "
                      "runq %.3f s" % (i + 1, name, r["user"] + r["sys"], r["user"], r["sys"],
                                       r["wall"], r["runq"]))
            own = page_records(inspect, os.path.join(work, job.name + "-own.prn"))
            lib = page_records(inspect, os.path.join(work, job.name + "-libjbig.prn"))
            identical = identical and own is not None and own == lib
        m_own, m_lib = statistics.median(cpu["own"]), statistics.median(cpu["libjbig"])
        print("  median whole filter CPU: own %.3f s, libjbig %.3f s, ratio %.3f; page records "
              "of the two %s" % (m_own, m_lib, m_own / m_lib,
                                 "identical" if identical else "DIFFERENT"))
        # The encoders alone on the pages the filter printed.
        out = subprocess.run([os.path.join(build, "zelvar-jbig-bench"), "--runs", str(2 * runs + 1),
                              os.path.join(work, job.name + "-own.prn")],
                             capture_output=True, text=True)
        print("\n".join("  " + line for line in out.stdout.splitlines()))
        ratio = None
        for line in out.stdout.splitlines():
            m = re.search(r"median ratio ([0-9.]+)", line)
            if m:
                ratio = float(m.group(1))
        results[job.name] = {"filter": m_own / m_lib, "encode": ratio,
                             "identical": identical and out.returncode == 0}
        for tag in ("-own", "-libjbig"):
            for ext in (".prn", ".log"):
                os.remove(os.path.join(work, job.name + tag + ext))
        os.remove(job.raster)
    print("\nchecks (medians):")
    check = lambda ok, text: print("  [%s] %s" % ("ok" if ok else "MISSED", text))
    for name, r in results.items():
        if name in ENCODER_TARGETS:
            check(r["encode"] is not None and r["encode"] <= ENCODER_TARGETS[name],
                  "%s encode time per page, ours / libjbig %s <= %.2f" % (
                      name, fmt(r["encode"]), ENCODER_TARGETS[name]))
        if name == FILTER_TARGET[0]:
            check(r["filter"] <= FILTER_TARGET[1], "%s whole filter CPU, ours / libjbig %.3f <= %.2f"
                  % (name, r["filter"], FILTER_TARGET[1]))
        check(r["identical"], "%s every page byte-identical between the encoders" % name)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("work")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--jobs", default="J1,J2,J2g,J3,J4-30,J4")
    ap.add_argument("--encoders", action="store_true",
                    help="compare the own JBIG encoder with libjbig on J2 and J3")
    a = ap.parse_args()
    if a.encoders:
        t0 = time.monotonic()
        print("machine: %d cores, %s" % (CORES, cpu_model()))
        print("CPU times are user + sys of the process (whole filter) or of the encoding thread "
              "(encoders alone); figures in seconds unless marked")
        wanted = a.jobs.split(",") if a.jobs != ap.get_default("jobs") else ["J2", "J3"]
        compare_encoders([j for j in make_jobs() if j.name in wanted], a.build, a.work, a.runs)
        print("\nbenchmark time %.0f s" % (time.monotonic() - t0))
        return
    wanted = a.jobs.split(",")
    jobs = [j for j in make_jobs() if j.name in wanted]
    t0 = time.monotonic()
    print("machine: %d cores, %s" % (CORES, cpu_model()))
    print("bound(log) = max(sum of read, (sum of read + processing + encode) / %d cores), "
          "from the filter's timing lines of the same run;" % CORES)
    print("bound(CPU) = max(sum of read, (user + sys) / %d cores); figures in seconds" % CORES)
    results = {}
    for job in jobs:
        if job.name == "J2g" and "J2" in results and results["J2"]["generated"]:
            continue  # J2 itself was generated
        generate(job, a.build, a.work)
        runs = [run_filter(job, a.build, a.work) for _ in range(a.runs + job.extra_runs)]
        results[job.name] = report(job, runs)
        results[job.name]["generated"] = not job.source.startswith("libtasn1")
        os.remove(job.raster)
    print("\nchecks (medians):")
    check = lambda ok, text: print("  [%s] %s" % ("ok" if ok else "MISSED", text))
    if "J1" in results:
        j1 = results["J1"]
        check(j1["idle"] < 0.020, "J1 idle (wall - CPU) %.1f ms < 20 ms" % (j1["idle"] * 1000))
        check(j1["idle_own"] < 0.020, "J1 idle not spent waiting for a processor %.1f ms < 20 ms"
              % (j1["idle_own"] * 1000))
    for name in ("J2", "J2g"):
        if name in results:
            j = results[name]
            check(j["ratio"] is not None and j["ratio"] <= 1.3,
                  "%s wall / bound %s <= 1.3" % (name, fmt(j["ratio"], 2)))
            check(j["pages"] / j["wall"] >= 6, "%s %.2f pages/s >= 6" % (name, j["pages"] / j["wall"]))
            check(j["first_ratio"] is not None and j["first_ratio"] <= 1.5,
                  "%s first record %s x one page's work <= 1.5" % (name, fmt(j["first_ratio"], 2)))
    for name in ("J2", "J2g"):
        if name in results:
            j = results[name]
            check(j["rss_mb"] <= j["rss_bound_mb"], "%s peak RSS %.0f MB <= %.0f MB" % (
                name, j["rss_mb"], j["rss_bound_mb"]))
    if "J3" in results:
        # Pages are compressed on every processor: the wall time follows the
        # work spread over the cores, no longer the sum of encode times.
        j = results["J3"]
        check(j["cpu_share"] <= 1.2, "J3 wall / ((user + sys) / %d cores) %.2f <= 1.2" % (
            CORES, j["cpu_share"]))
    if "J4" in results and "J4-30" in results:
        a4, b4 = results["J4"], results["J4-30"]
        # The fastest run of each: the one least disturbed by other processes.
        per300 = a4["best_per_page"]
        per30 = b4["best_per_page"]
        how = "spooled" if a4["spooled"] else "NOT spooled (this build has no spool file)"
        check(per300 / per30 <= 1.2, "J4 time per page 300 pages / 30 pages %.2f <= 1.2 "
              "(%.2f / %.2f ms, fastest runs; %s)" % (per300 / per30, per300 * 1000, per30 * 1000,
                                                       how))
    print("\nbenchmark time %.0f s" % (time.monotonic() - t0))


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown CPU"


if __name__ == "__main__":
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    main()
