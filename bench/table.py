"""Turns the results bench/run.sh leaves in build/bench/results into one
table. With --ratio JSON A B it only prints median(A) / median(B) from a
hyperfine export, for the script's own decisions."""
import json
import os
import statistics
import sys

NATIVE_TARGET = 1.05
LOG_TARGET = 1.10
WINE_TARGET = 1.10
MEMORY_TARGET_KIB = 1024
SIZE_TARGET = 320000
LINEAR_WITHIN = 3.0
ZIPCHECK_TARGET_MS = 10.0
ARCHIVE_TARGETS = {"17": 0.85, "25": 0.70}


def hyperfine(path):
    with open(path) as f:
        return {r["command"]: r for r in json.load(f)["results"]}


def pairs(path):
    """KEY VALUE lines; a key may repeat, one value per run."""
    values = {}
    if not os.path.exists(path):
        return values
    with open(path) as f:
        for line in f:
            parts = line.split(None, 1)
            if len(parts) == 2:
                values.setdefault(parts[0], []).append(parts[1].strip())
    return values


def ms(seconds, digits):
    return "%.*f" % (digits, seconds * 1e3)


def verdict(ok):
    return "**MET**" if ok else "**NOT MET**"


class Table:
    def __init__(self):
        self.rows = []

    def add(self, what, mn="", med="", mx="", note=""):
        self.rows.append((what, mn, med, mx, note))

    def timing(self, what, result, digits, note=""):
        runs = len(result["times"])
        self.add(what, ms(result["min"], digits), ms(result["median"], digits),
                 ms(result["max"], digits), ("ms, %d runs" % runs) + (note and "; " + note))

    def spread(self, what, samples, unit, note=""):
        nums = [int(s) for s in samples]
        runs = "1 run" if len(nums) == 1 else "%d runs" % len(nums)
        self.add(what, str(min(nums)), str(int(statistics.median(nums))), str(max(nums)),
                 unit + ", " + runs + (note and "; " + note))

    def show(self):
        head = ("what", "min", "median", "max", "note")
        print("| " + " | ".join(head) + " |")
        print("|" + "|".join(["---", "--:", "--:", "--:", "---"]) + "|")
        for row in self.rows:
            print("| " + " | ".join(row) + " |")


def native_rows(t, res, targets):
    n = hyperfine(os.path.join(res, "native.json"))
    t.timing("native: trivial child started directly", n["child"], 2)
    t.timing("native: floor, posix_spawn + waitpid", n["floor"], 2)
    t.timing("native: floor, fork + exec + waitpid", n["floor-fork"], 2)
    t.timing("native: launcher, boot.xml runs the child", n["launcher"], 2)
    target_row(t, targets, n, "native: launcher / floor (posix_spawn)", "native start-up", NATIVE_TARGET)
    ratio_row(t, "native: launcher / floor (fork + exec)", n["launcher"], n["floor-fork"],
              "the way the launcher once started its child, for comparison")
    t.timing("native: launcher with log", n["launcher-log"], 2)
    target_row(t, targets, n, "native: launcher with log / floor", "native start-up with log", LOG_TARGET,
               "launcher-log")
    t.timing("native: launcher with userOptions", n["launcher-useroptions"], 2)
    ratio_row(t, "native: launcher with userOptions / launcher", n["launcher-useroptions"], n["launcher"],
              "the user's file read and checked")
    t.timing("native: launcher with singleInstance", n["launcher-single"], 2)
    ratio_row(t, "native: launcher with singleInstance / launcher", n["launcher-single"], n["launcher"],
              "the lock, the socket and its thread, as the first copy")
    h = pairs(os.path.join(res, "handover.txt"))
    for key, what in (("handover_exit_ms", "a second start, to its end"),
                      ("handover_arrival_ms", "a second start, to its request's arrival")):
        nums = [float(v) for v in h.get(key, [])]
        if nums:
            t.add("native: " + what, "%.2f" % min(nums), "%.2f" % statistics.median(nums), "%.2f" % max(nums),
                  "ms, %d runs" % len(nums))
    t.add("native: launcher minus floor (posix_spawn)", "",
          "%.2f" % ((n["launcher"]["median"] - n["floor"]["median"]) * 1e3), "", "ms of medians")
    before_rows(t, n, "native", 2)


def before_rows(t, runs, where, digits):
    """The baseline's launcher (BENCH_BASELINE), run side by side with these."""
    if "launcher-before" not in runs:
        return
    t.timing("%s: baseline launcher" % where, runs["launcher-before"], digits)
    ratio_row(t, "%s: baseline launcher / floor" % where, runs["launcher-before"], runs["floor"],
              "min column: ratio of minima")


def ratio_row(t, what, a, b, note):
    """Run a against run b: the ratio of their minima and of their medians."""
    t.add(what, "%.2f" % (a["min"] / b["min"]), "%.2f" % (a["median"] / b["median"]), "", note)


def target_row(t, targets, runs, what, target_name, target, name="launcher"):
    """A launcher against the floor, with the verdict on the median ratio."""
    ratio = runs[name]["median"] / runs["floor"]["median"]
    ok = ratio <= target
    targets.append("%s, %s/floor median %.3f <= %.2f: %s" % (target_name, name, ratio, target, verdict(ok)))
    ratio_row(t, what, runs[name], runs["floor"],
              "min column: ratio of minima; target <= %.2f: %s" % (target, verdict(ok)))


def investigation_rows(t, res):
    inv = pairs(os.path.join(res, "invest.txt"))
    if not inv:
        return
    one = {k: v[0] for k, v in inv.items()}
    if "perf_missing" in one:
        t.add("perf stat", note="not usable here: skipped")
    else:
        t.add("perf: task-clock floor / fork floor / launcher", "",
              " / ".join("%.2f" % float(one["perf_task_ms_" + k]) for k in ("floor", "floor-fork", "launcher")),
              "", "ms CPU, mean of 100, child included")
        t.add("perf: page faults floor / fork floor / launcher", "",
              " / ".join("%.0f" % float(one["perf_faults_" + k]) for k in ("floor", "floor-fork", "launcher")),
              "", "mean of 100, child included")
    if "valgrind_missing" in one:
        t.add("callgrind", note="valgrind not installed: skipped")
    else:
        t.add("callgrind: instructions floor / launcher", "",
              "%s / %s" % (one["ir_floor"], one["ir_launcher"]), "", "the spawning process only")
        t.add("callgrind: launcher in launcherMain / readBootXml / execute", "",
              "%s / %s / %s" % (one["ir_main"], one["ir_read_boot"], one["ir_execute"]), "",
              "inclusive instructions; the rest is the C and C++ runtime's start and end")


def wine_rows(t, res, targets):
    skip = os.path.join(res, "wine.skip")
    if os.path.exists(skip):
        with open(skip) as f:
            t.add("wine64", note="skipped: " + f.read().strip())
        return
    w = hyperfine(os.path.join(res, "wine.json"))
    t.timing("wine64: floor, CreateProcessA + wait", w["floor"], 1)
    t.timing("wine64: launcher.exe (win64)", w["launcher"], 1)
    target_row(t, targets, w, "wine64: launcher / floor", "start-up under Wine", WINE_TARGET)
    t.timing("wine64: launcher.exe with appId", w["launcher-appid"], 1)
    ratio_row(t, "wine64: launcher with appId / launcher", w["launcher-appid"], w["launcher"],
              "the child's ID, and a thread watching its windows")
    t.timing("wine64: launcher.exe with singleInstance", w["launcher-single"], 1)
    ratio_row(t, "wine64: launcher with singleInstance / launcher", w["launcher-single"], w["launcher"],
              "the mutex, the pipe and its thread, as the first copy")
    before_rows(t, w, "wine64", 1)


def memory_rows(t, res, facts, targets):
    m = pairs(os.path.join(res, "mem.txt"))
    med = lambda key: statistics.median(int(v) for v in m[key])
    hwm_ok = med("launcher_hwm") <= MEMORY_TARGET_KIB
    tv_ok = med("tv_trivial") <= MEMORY_TARGET_KIB
    t.spread("memory: launcher alone while its child runs (VmHWM)", m["launcher_hwm"], "KiB",
             "read from /proc by the child; <= 1 MiB: %s" % verdict(hwm_ok))
    t.spread("memory: time -v max RSS, trivial child", m["tv_trivial"], "KiB",
             "<= 1 MiB: %s" % verdict(tv_ok))
    t.spread("memory: time -v max RSS, child sleeping 0.2 s", m["tv_probe"], "KiB")
    t.spread("memory: time -v max RSS, trivial child alone", m["tv_child_alone"], "KiB")
    lone_tv, lone_hwm = int(m["tv_probe_alone"][0]), int(m["probe_alone_hwm"][0])
    t.add("memory: one process alone, time -v / its own VmHWM", "", "%d / %d" % (lone_tv, lone_hwm), "",
          "KiB, 1 run: time -v minus /proc is %+d KiB with no child at all" % (lone_tv - lone_hwm))

    fat = int(facts["fat_mib"][0])
    tv, child, launcher = med("tv_fat"), med("fat_child_hwm"), med("fat_launcher_hwm")
    if tv < child * 0.9:
        kind = "the launcher only"
    elif abs(tv - max(child, launcher)) <= abs(tv - (child + launcher)):
        kind = "the max over the launcher and its waited-for children, not their sum"
    else:
        kind = "the sum over the launcher and its children"
    t.spread("memory: time -v max RSS, child touching %d MiB" % fat, m["tv_fat"], "KiB",
             "child's own peak %d KiB, launcher's %d KiB: time -v reports %s" % (child, launcher, kind))
    targets.append("peak memory of the launcher <= 1 MiB: VmHWM median %d KiB %s, time -v median %d KiB %s"
                   % (med("launcher_hwm"), verdict(hwm_ok), med("tv_trivial"), verdict(tv_ok)))

    size, stripped = int(facts["win32_size"][0]), int(facts["win32_stripped"][0])
    t.add("size: build/win32/launcher.exe", "", str(size), "", "bytes (%.2f MiB), as built" % (size / 2**20))
    size_ok = stripped <= SIZE_TARGET
    t.add("size: the same, stripped", "", str(stripped), "", "bytes (%.2f MiB), i686-w64-mingw32-strip; "
          "<= %d: %s" % (stripped / 2**20, SIZE_TARGET, verdict(size_ok)))
    if "win32_stripped_before" in facts:
        t.add("size: the baseline's, stripped", "", facts["win32_stripped_before"][0], "", "bytes")
    targets.append("stripped win32 launcher.exe <= %d bytes: %d %s" % (SIZE_TARGET, stripped, verdict(size_ok)))


def scaling_rows(t, res, targets):
    small = hyperfine(os.path.join(res, "scale-small.json"))
    big = hyperfine(os.path.join(res, "scale-big.json"))
    m = pairs(os.path.join(res, "mem.txt"))
    r10, r1k, r100k = small["items-10"], small["items-1000"], big["items-100000"]
    t.timing("boot.xml with 10 items", r10, 2)
    t.timing("boot.xml with 1,000 items", r1k, 2)
    t.timing("boot.xml with 100,000 items", r100k, 1)
    per1k = (r1k["median"] - r10["median"]) / 990
    per100k = (r100k["median"] - r10["median"]) / 99990
    t.add("per item at 1,000 items", "", "%.2f" % (per1k * 1e6), "", "us, medians less the 10-item run")
    t.add("per item at 100,000 items", "", "%.2f" % (per100k * 1e6), "", "us, medians less the 10-item run")
    growth = per100k / per1k if per1k > 0 else float("inf")
    linear = 1 / LINEAR_WITHIN <= growth <= LINEAR_WITHIN
    t.add("per-item cost 100,000 / 1,000", "", "%.2f" % growth, "",
          "about linear (within %gx): %s" % (LINEAR_WITHIN, "yes" if linear else "NO"))
    rss10, rss100k = int(m["scale_rss_10"][0]), int(m["scale_rss_100000"][0])
    t.add("time -v max RSS at 10 / 100,000 items", "", "%d / %d" % (rss10, rss100k), "",
          "KiB, one run each: %.0f bytes per item" % ((rss100k - rss10) * 1024 / 99990))
    targets.append("boot definition growth about linear: per-item cost ratio %.2f, %s"
                   % (growth, "yes" if linear else "NO"))


def zipcheck_rows(t, res, facts, targets):
    z = pairs(os.path.join(res, "zipcheck.txt"))
    median, fastest = float(z["median_us"][0]) / 1e3, float(z["fastest_us"][0]) / 1e3
    ok = median < ZIPCHECK_TARGET_MS
    t.add("check of a staged jar: %.0f MiB, 20,000 entries" % (int(facts["jar_bytes"][0]) / 2**20),
          "%.2f" % fastest, "%.2f" % median, "",
          "ms, 50 runs, in the page cache; < %g: %s" % (ZIPCHECK_TARGET_MS, verdict(ok)))
    targets.append("check of a staged 50 MiB jar < %g ms: %.2f ms %s" % (ZIPCHECK_TARGET_MS, median, verdict(ok)))


def archive_rows(t, res, facts, targets):
    for v, target in sorted(ARCHIVE_TARGETS.items()):
        if "jvm_skip_" + v in facts:
            t.add("Java %s: launcher with classArchive / java -jar" % v, "", "", "", "skipped: " + facts["jvm_skip_" + v][0])
            targets.append("Java %s with classArchive: skipped, %s" % (v, facts["jvm_skip_" + v][0]))
            continue
        first = hyperfine(os.path.join(res, "jvm-first-%s.json" % v))
        t.timing("Java %s: the launcher, classArchive, first start (records)" % v, first["launcher"], 0)
        t.add("Java %s: first start / java -jar, median" % v, "",
              "%.3f" % (first["launcher"]["median"] / first["direct"]["median"]), "", "the archive is made after it")
        r = hyperfine(os.path.join(res, "jvm-%s.json" % v))
        t.timing("Java %s: java -jar, a Swing window" % v, r["direct"], 0)
        t.timing("Java %s: the launcher, classArchive, later starts" % v, r["launcher"], 0)
        ratio = r["launcher"]["median"] / r["direct"]["median"]
        ok = ratio <= target
        t.add("Java %s: launcher with classArchive / java -jar, median" % v, "", "%.3f" % ratio, "",
              "<= %.2f: %s" % (target, verdict(ok)))
        targets.append("Java %s with classArchive / java -jar <= %.2f: %.3f %s" % (v, target, ratio, verdict(ok)))


def main():
    if len(sys.argv) == 5 and sys.argv[1] == "--ratio":
        r = hyperfine(sys.argv[2])
        print("%.4f" % (r[sys.argv[3]]["median"] / r[sys.argv[4]]["median"]))
        return
    res = sys.argv[1]
    facts = pairs(os.path.join(res, "facts.txt"))
    t = Table()
    targets = []
    native_rows(t, res, targets)
    investigation_rows(t, res)
    wine_rows(t, res, targets)
    memory_rows(t, res, facts, targets)
    scaling_rows(t, res, targets)
    zipcheck_rows(t, res, facts, targets)
    archive_rows(t, res, facts, targets)

    print()
    t.show()
    print()
    for line in targets:
        print("target: " + line)
    cpus = int(facts["cpus"][0])
    before = facts["load_before"][0]
    print("machine: %d CPUs, load average %s before, %s after" % (cpus, before, facts["load_after"][0]))
    if float(before.split()[0]) >= cpus / 2:
        # hyperfine runs one command after the other: load that comes and
        # goes lands on some of them only, and the ratios move with it.
        print("WARNING: the machine was busy before the run; the timings and ratios are unreliable,")
        print("         the ratios of minima less so. Rerun on a quiet machine.")
    print()
    print("To rerun everything: make bench   (or: bash bench/run.sh after make build)")
    print("Each measurement as it ran (the application folders stay in build/bench/apps;")
    print("the Wine one wants a persistent wineserver -p with the same WINEPREFIX):")
    with open(os.path.join(res, "commands.txt")) as f:
        for line in f:
            print("  " + line.rstrip())
    print("the runs' own reports: %s/*.txt" % os.path.relpath(res))


if __name__ == "__main__":
    main()
