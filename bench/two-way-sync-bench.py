#!/usr/bin/env python3
"""Two-way sync benchmark: kelto-run-job against unison and rclone bisync.

For generated trees of each size (default 10,000 and 100,000 files), every
tool runs three steps on its own copy of the same two folders:

  initial    the first two-way sync (half the files on both sides, the rest
             only on A or only on B)
  no-change  a re-run with nothing changed
  changed    a re-run after edits, additions and deletions on both sides and
             one file changed on both (the conflict; the newer side wins)

Each sequence is repeated (--repeat, default 3) on fresh copies, the tools
taking turns within each repetition; it prints every step's wall time and
the tool's peak memory, then the medians, kelto's phases (plan, the listings
before the transfer, transfer, archive, baseline, record), its rsync children
and its own time, and the ratios of kelto's median times and peaks to the
others' with the goals. With --before a second kelto-run-job (an older build)
runs as the tool "before", and the ratios are printed for it too. unison and
rclone (--tools) are installed with apt-get when missing.

  two-way-sync-bench.py --runner BUILD/tools/kelto-run-job/kelto-run-job [--before OLD/kelto-run-job]
                        [--sizes 10000,100000] [--repeat 3] [--work DIR] [--tools kelto,unison]
                        [--archive on|off]
"""

import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import time

BASE_TIME = 1_600_000_000

# kelto's time over unison's, at most, by step and number of files.
TIME_GOALS = {"no-change": lambda files: 1.0 if files < 100_000 else 0.8, "changed": lambda files: 0.7}
MEMORY_GOAL = 0.6
PHASES = ("plan", "freshLook", "transfer", "archive", "baseline", "record")


def ensure_installed(programs):
    missing = [p for p, package in programs if shutil.which(p) is None]
    if not missing:
        return
    packages = [package for p, package in programs if p in missing]
    print("installing " + " ".join(packages) + " with apt-get", flush=True)
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    if subprocess.run(["apt-get", "install", "-y", "-q"] + packages, env=env).returncode != 0:
        subprocess.run(["apt-get", "update", "-q"], env=env, check=True)
        subprocess.run(["apt-get", "install", "-y", "-q"] + packages, env=env, check=True)


def write(path, content, mtime):
    with open(path, "w") as f:
        f.write(content)
    os.utime(path, (mtime, mtime))


def file_path(root, i):
    return os.path.join(root, "folder %04d" % (i // 100), "file-%06d.txt" % i)


def generate(template, files):
    """Half of the files on both sides, 30 % only on A, 20 % only on B."""
    marker = os.path.join(template, ".complete")
    if os.path.exists(marker):
        return
    shutil.rmtree(template, ignore_errors=True)
    for side in ("a", "b"):
        for folder in range((files + 99) // 100):
            os.makedirs(os.path.join(template, side, "folder %04d" % folder))
    for i in range(files):
        content = "file %d " % i + "x" * (i % 200)
        where = i % 10
        sides = ("a", "b") if where < 5 else ("a",) if where < 8 else ("b",)
        for side in sides:
            write(file_path(os.path.join(template, side), i), content, BASE_TIME + i % 1000)
    open(marker, "w").close()


def change(root, files, seed=7):
    """1 % edited on each side, 0.2 % deleted on each, 0.5 % new on each, one conflict."""
    rng = random.Random(seed)
    a, b = os.path.join(root, "a"), os.path.join(root, "b")
    common = [i for i in range(files) if i % 10 < 5]
    picked = rng.sample(common, len(common) * 24 // 500 + 2)
    n_edit, n_delete = files // 100, files // 500
    edits_a, edits_b = picked[:n_edit // 2], picked[n_edit // 2:n_edit]
    deletes_a = picked[n_edit:n_edit + n_delete // 2]
    deletes_b = picked[n_edit + n_delete // 2:n_edit + n_delete]
    conflict = picked[-1]
    later = BASE_TIME + 10_000
    for i in edits_a:
        write(file_path(a, i), "edited on A %d" % i, later)
    for i in edits_b:
        write(file_path(b, i), "edited on B, longer %d" % i, later)
    for i in deletes_a:
        os.remove(file_path(a, i))
    for i in deletes_b:
        os.remove(file_path(b, i))
    for k in range(files // 200):
        write(os.path.join(a, "folder %04d" % (k % 100), "new-on-a-%d.txt" % k), "new", later)
        write(os.path.join(b, "folder %04d" % (k % 100), "new-on-b-%d.txt" % k), "new", later)
    write(file_path(a, conflict), "conflict: A's older version", later + 10)
    write(file_path(b, conflict), "conflict: B's newer", later + 20)


def snapshot(side):
    out = {}
    for folder, dirs, names in os.walk(side):
        dirs[:] = [d for d in dirs if d not in (".KeltoSync", ".unison")]
        for name in names:
            path = os.path.join(folder, name)
            st = os.lstat(path)
            out[os.path.relpath(path, side)] = (st.st_size, int(st.st_mtime))
    return out


def measured(command, env=None):
    """Runs the command; wall seconds, peak resident MiB and its standard output.

    The peak is GNU time's (the largest process of the tree), which starts
    from a small process; without /usr/bin/time it is wait4's, which for a
    process started from this one can include this one's peak.
    """
    report = os.path.join(os.environ.get("TMPDIR", "/tmp"), "two-way-bench-time-%d" % os.getpid())
    timer = shutil.which("time", path="/usr/bin")
    wrapped = [timer, "-f", "%M", "-o", report] + command if timer else command
    start = time.monotonic()
    process = subprocess.Popen(wrapped, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.monotonic() - start
    out, err = process.stdout.read().decode(errors="replace"), process.stderr.read().decode(errors="replace")
    process.stdout.close()
    process.stderr.close()
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit("%s failed (%d):\n%s\n%s" % (command[0], code, out[-2000:], err[-3000:]))
    peak = usage.ru_maxrss / 1024
    if timer:
        with open(report) as f:
            peak = int(f.read().split()[-1]) / 1024
        os.remove(report)
    return seconds, peak, out


ARCHIVE = "on"  # the jobs' archive setting, from --archive


def run_kelto(runner, root, _step):
    # Not --confirm: a confirmed run previews first, outside its phases but
    # within the wall time, and no step here deletes enough to be reviewed.
    command = [runner, "--mode", "twoWay", "--archive", ARCHIVE,
               os.path.join(root, "a"), os.path.join(root, "b"),
               os.path.join(root, "support"), os.path.join(root, "logs")]
    seconds, _, out = measured(command)
    result = json.loads(out)
    if result.get("outcome") != "success":
        sys.exit("kelto-run-job: " + out[-2000:])
    # The engine's own peak; its rsync children are separate processes.
    return seconds, result["memory"]["peakKiB"] / 1024, result


def run_unison(_runner, root, _step):
    env = dict(os.environ, HOME=os.path.join(root, "home"), UNISON=os.path.join(root, "home", ".unison"))
    os.makedirs(env["UNISON"], exist_ok=True)
    command = ["unison", os.path.join(root, "a"), os.path.join(root, "b"),
               "-batch", "-prefer", "newer", "-auto", "-times", "-silent"]
    return measured(command, env)


def run_rclone(_runner, root, step):
    env = dict(os.environ, HOME=os.path.join(root, "home"))
    os.makedirs(env["HOME"], exist_ok=True)
    command = ["rclone", "bisync", os.path.join(root, "a"), os.path.join(root, "b"),
               "--workdir", os.path.join(root, "home", "bisync")]
    if step == "initial":
        command.append("--resync")
    return measured(command, env)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runner", required=True, help="kelto-run-job of a Release build")
    parser.add_argument("--sizes", default="10000,100000")
    parser.add_argument("--work", default="/tmp/kelto-two-way-bench")
    parser.add_argument("--tools", default="kelto,unison", help="of kelto, unison, rclone")
    parser.add_argument("--before", help="an older kelto-run-job, run as the tool \"before\"")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--archive", choices=("on", "off"), default="on",
                        help="the kelto jobs' archive (off: what a run replaces waits in the holding folder)")
    args = parser.parse_args()

    tools = args.tools.split(",")
    if args.before:
        tools.append("before")
    ensure_installed([(t, t) for t in tools if t in ("unison", "rclone")])
    global ARCHIVE
    ARCHIVE = args.archive
    runners = {"kelto": run_kelto, "unison": run_unison, "rclone": run_rclone,
               "before": lambda _runner, root, step: run_kelto(args.before, root, step)}
    steps = ("initial", "no-change", "changed")
    results = {}
    reports = {}
    for files in (int(s) for s in args.sizes.split(",")):
        template = os.path.join(args.work, "template-%d" % files)
        generate(template, files)
        for repeat in range(args.repeat):
            for tool in tools[repeat % len(tools):] + tools[:repeat % len(tools)]:
                root = os.path.join(args.work, "%s-%d" % (tool, files))
                shutil.rmtree(root, ignore_errors=True)
                os.makedirs(root)
                for side in ("a", "b"):
                    subprocess.run(["cp", "-a", os.path.join(template, side), root], check=True)
                subprocess.run(["sync"])
                for step in steps:
                    if step == "changed":
                        change(root, files)
                    seconds, peak, report = runners[tool](args.runner, root, step)
                    if isinstance(report, dict):
                        reports.setdefault((files, tool, step), []).append(report.get("timing", {}))
                    a, b = snapshot(os.path.join(root, "a")), snapshot(os.path.join(root, "b"))
                    results.setdefault((files, tool, step), []).append((seconds, peak))
                    print("%7d files  %-7s %-10s %7.2f s  %7.1f MiB peak  %s" %
                          (files, tool, step, seconds, peak, "sides equal" if a == b else
                           "SIDES DIFFER (%d paths)" % len(set(a.items()) ^ set(b.items()))), flush=True)
                shutil.rmtree(root, ignore_errors=True)

    def median(values):
        values = sorted(values)
        return values[len(values) // 2]

    print("\nmedians of %d runs" % args.repeat)
    for (files, tool, step), runs in sorted(results.items()):
        print("%7d files  %-7s %-10s %7.2f s  %7.1f MiB peak (largest)" %
              (files, tool, step, median([r[0] for r in runs]), max(r[1] for r in runs)))
    print("\nkelto's phases, medians in seconds (own: outside every rsync child)")
    for (files, tool, step), timings in sorted(reports.items()):
        if not all("phaseSeconds" in t for t in timings):
            continue
        phases = " ".join("%s %.3f" % (p, median([t["phaseSeconds"][p] for t in timings])) for p in PHASES)
        passes = timings[0].get("rsyncPasses", [])
        children = " ".join("%s %.3f" % (c["kind"], median([t["rsyncPasses"][i]["seconds"] for t in timings
                                                              if len(t["rsyncPasses"]) > i]))
                            for i, c in enumerate(passes))
        own = median([t["engineOwnSeconds"] for t in timings])
        total = median([t["totalSeconds"] for t in timings])
        print("%7d files  %-7s %-10s %s | run %.3f own %.3f | rsync x%d %s" %
              (files, tool, step, phases, total, own, len(passes), children))

    print("\nkelto median time / other median time (below 1: kelto faster); peak: largest / largest")
    for mine_tool in ("kelto", "before"):
        for (files, tool, step), runs in sorted(results.items()):
            mine = results.get((files, mine_tool, step))
            if tool in ("kelto", "before") or not mine:
                continue
            ratio = median([r[0] for r in mine]) / median([r[0] for r in runs])
            peak = max(r[1] for r in mine) / max(r[1] for r in runs)
            line = "%7d files  %-6s vs %-7s %-10s time %6.2f  peak %6.2f" % (files, mine_tool, tool, step, ratio, peak)
            if tool == "unison" and mine_tool == "kelto":
                if step in TIME_GOALS:
                    goal = TIME_GOALS[step](files)
                    line += "  (time goal <= %.2f %s)" % (goal, "PASS" if ratio <= goal else "MISS")
                line += "  (peak goal <= %.2f %s)" % (MEMORY_GOAL, "PASS" if peak <= MEMORY_GOAL else "MISS")
            print(line)
    if "before" in tools:
        print("\nkelto median time / before median time")
        for (files, tool, step), runs in sorted(results.items()):
            if tool == "kelto" and (files, "before", step) in results:
                old = results[(files, "before", step)]
                print("%7d files  %-10s %6.2f" % (files, step, median([r[0] for r in runs]) /
                                                   median([r[0] for r in old])))


if __name__ == "__main__":
    main()
