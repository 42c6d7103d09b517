#!/usr/bin/env python3
"""The whole-process figures of the launcher, each set against a reference
measured in the same run, printed as one table (scripts/bench runs it after
building; it expects build/bin/).

  big log      the launcher on a queue of one job whose log holds 10^6 events,
               written beforehand by the simulator stand-in; the job script
               only ends, so the launcher's whole process (start-up, launch,
               load, report block, state change) is timed, against
               awk 'END{print NR}' on the log. Peak resident memory (wait4's
               ru_maxrss; the script is a shell that ends at once) against the
               log's size.
  AddEvent     bench_batchlog's AddEvent (load, append, save) on a copy of
               that log (TV_BENCH_LOG), the best of its repetitions, against
               the same awk; its peak memory is the benchmark process's.
               Printed below the table, without a goal: the whole launcher with
               no job script, where the launch fails, its event is appended to
               the big log and the log is read again for the report.
  start-up     from the spawn of the launcher to its first job script, with
               200 users and two catalogues of 20,000 messages, against a cat
               of the files it reads; the script writes to a FIFO that this
               harness watches.
  CPU per job  the launcher's own processor time (its children excluded:
               /proc/<pid>/schedstat read once it has ended, before it is
               reaped) over a queue of 200 trivial jobs run by the stand-in,
               divided by 200.
  chapfile     bench_chapfile's load against its plain read, at 10^6 lines
               set against the same at 10^5.

Times are the best of several runs (REPEAT, 5 by default); every run of the
launcher gets a fresh queue. BATCHJOBPAUSE is 0 in every installation.
"""
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import installation  # noqa: E402

ROOT = installation.ROOT
BIN = os.path.join(ROOT, "build", "bin")
LAUNCHER = os.path.join(BIN, "torvane-batch")
SIM = os.path.join(BIN, "torvane-sim")
REPEAT = int(os.environ.get("REPEAT", "5"))
BIG_EVENTS = 1_000_000
CPU_JOBS = 200
MIB = 1024 * 1024


class Result:
    def __init__(self, launched, wall, cpu, maxrss_kib, status):
        self.launched = launched
        self.wall = wall
        self.cpu = cpu
        self.maxrss = maxrss_kib * 1024
        self.status = status


def run(argv, env=None, stdout=subprocess.DEVNULL, on_start=None):
    """Runs a process to its end: wall seconds, its own processor seconds
    (children excluded), peak resident bytes of it and its waited children."""
    start = time.perf_counter()
    process = subprocess.Popen(argv, env=env, stdout=stdout, stderr=subprocess.PIPE)
    if on_start is not None:
        on_start(process, start)
    os.waitid(os.P_PID, process.pid, os.WEXITED | os.WNOWAIT)
    wall = time.perf_counter() - start
    with open(f"/proc/{process.pid}/schedstat") as f:
        cpu = int(f.read().split()[0]) / 1e9
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    err = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    if process.returncode != 0:
        sys.exit(f"{argv[0]} ended with status {process.returncode}: {err.strip()}")
    return Result(start, wall, cpu, usage.ru_maxrss, process.returncode)


def launcher_env(root):
    env = dict(os.environ)
    env["TORVANE_PREFIX"] = root
    env.pop("TORVANE_SIM_EXTRA_EVENTS", None)
    return env


def best(results, key):
    return min(key(r) for r in results)


def big_log(work):
    root = installation.lay_out(os.path.join(work, "big"), users=2, messages=0, script="done")
    env = launcher_env(root)
    sim_env = dict(env, TORVANE_SIM_EXTRA_EVENTS=str(BIG_EVENTS - 1))
    run([SIM, "-b", "-u", installation.user_name(0), "-j", "big.gam"], env=sim_env)
    log = os.path.join(installation.batch_folder(root), "big.log")
    pristine = log + ".pristine"
    shutil.copy(log, pristine)
    size = os.path.getsize(log)

    awk = [run(["awk", "END{print NR}", log]) for _ in range(REPEAT)]
    step = []
    for _ in range(REPEAT):
        installation.write_queue(root, ["big.gam"])
        step.append(run([LAUNCHER], env=env))
    report = os.path.join(installation.batch_folder(root), "batchreport.txt")
    events_reported = sum(1 for line in open(report, "rb") if line.startswith(b"Event: "))
    if events_reported != BIG_EVENTS:
        sys.exit(f"the report carries {events_reported} events, not {BIG_EVENTS}")

    # No job script: the launch fails and its event is appended to the log.
    os.remove(os.path.join(root, "install", "TorvaneBatch.bat"))
    failed = []
    for _ in range(REPEAT):
        shutil.copy(pristine, log)
        installation.write_queue(root, ["big.gam"])
        failed.append(run([LAUNCHER], env=env))
    with open(log, "rb") as f:
        if b"Event list taille = %d\r\n" % (BIG_EVENTS + 1) not in f.read():
            sys.exit("the failed launch's event did not reach the log")
    return size, awk, step, failed, pristine


def start_up(work):
    root = installation.lay_out(os.path.join(work, "startup"), users=200, messages=20000,
                                script="mark")
    env = launcher_env(root)
    files = installation.files_read_at_start(root)
    fifo = os.path.join(root, "started")
    os.mkfifo(fifo)
    # Settings written long before the night, as on a real machine: the
    # launcher keeps what it read of files that have settled for two seconds.
    time.sleep(2.1)
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    # A FIFO without any writer reads as ended at once: hold one open.
    holder = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
    times = []

    def watch(process, start):
        select.select([reader], [], [], 30)
        times.append(time.perf_counter() - start)
        os.read(reader, 64)

    try:
        installation.write_queue(root, ["first.gam"])
        run([LAUNCHER], env=env)  # the first run creates the users' folders
        os.read(reader, 64)
        for _ in range(REPEAT):
            installation.write_queue(root, ["first.gam"])
            run([LAUNCHER], env=env, on_start=watch)
    finally:
        os.close(holder)
        os.close(reader)
    installation.write_queue(root, ["first.gam"])
    cat = [run(["cat"] + files) for _ in range(REPEAT)]
    total = sum(os.path.getsize(f) for f in files)
    return total, min(times), best(cat, lambda r: r.wall)


def cpu_per_job(work):
    root = installation.lay_out(os.path.join(work, "cpu"), users=200, messages=20000,
                                script="sim", sim=SIM)
    env = launcher_env(root)
    jobs = [f"job{n:03d}.gam" for n in range(CPU_JOBS)]
    results = []
    for _ in range(max(1, REPEAT // 2)):
        installation.write_queue(root, jobs)
        results.append(run([LAUNCHER], env=env))
    return best(results, lambda r: r.cpu) / CPU_JOBS


def add_event(log):
    """AddEvent on `log` (which it grows by one event per iteration): the
    best seconds of bench_batchlog's repetitions, and the process's peak."""
    env = dict(os.environ, TV_BENCH_LOG=log)
    out = subprocess.run(
        [os.path.join(BIN, "bench_batchlog"), "--benchmark_filter=BM_AddEvent",
         "--benchmark_format=json",
         f"--benchmark_repetitions={REPEAT}"],
        env=env, check=True, capture_output=True, text=True).stdout
    times = [b["real_time"] for b in json.loads(out)["benchmarks"]
             if b.get("run_type", "iteration") == "iteration" and "error_occurred" not in b]
    if not times:
        sys.exit("bench_batchlog gave no AddEvent time")
    peak = run([os.path.join(BIN, "bench_batchlog"), "--benchmark_filter=BM_AddEvent",
                "--benchmark_min_time=0"], env=env).maxrss
    return min(times) / 1000, peak


def chapfile():
    """Load against plain read at 10^6 and 10^5 lines, from bench_chapfile's
    own rows (real time, as it reports them; the best of its repetitions)."""
    out = subprocess.run(
        [os.path.join(BIN, "bench_chapfile"),
         "--benchmark_filter=BM_(PlainRead|Load)/(100000|1000000)(/real_time)?$",
         "--benchmark_format=json", f"--benchmark_repetitions={max(1, REPEAT // 2)}"],
        check=True, capture_output=True, text=True).stdout
    rows = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type", "iteration") != "iteration":
            continue
        name = b["run_name"].removesuffix("/real_time")
        rows[name] = min(rows.get(name, float("inf")), b["real_time"])
    small = rows["BM_Load/100000"] / rows["BM_PlainRead/100000"]
    large = rows["BM_Load/1000000"] / rows["BM_PlainRead/1000000"]
    return small, large


def main():
    for program in (LAUNCHER, SIM):
        if not os.access(program, os.X_OK):
            sys.exit(f"missing {program}: build the default preset first")
    work = tempfile.mkdtemp(prefix="torvane-bench-")
    rows = []
    notes = []

    def row(figure, reference, ratio, goal):
        rows.append((figure, reference, f"{ratio:.2f}", f"<= {goal}",
                     "met" if ratio <= goal else "NOT met"))

    try:
        size, awk, step, failed, pristine = big_log(work)
        awk_s = best(awk, lambda r: r.wall)
        step_s = best(step, lambda r: r.wall)
        fail_s = best(failed, lambda r: r.wall)
        row(f"job with a 10^6-event log: {step_s * 1000:.0f} ms",
            f"awk 'END{{print NR}}': {awk_s * 1000:.0f} ms", step_s / awk_s, 2.5)
        rss = max(r.maxrss for r in step)
        row(f"its peak memory: {rss / MIB:.0f} MiB", f"the log: {size / MIB:.0f} MiB",
            rss / size, 2)
        added = os.path.join(work, "added.log")
        shutil.copy(pristine, added)
        add_s, add_rss = add_event(added)
        row(f"AddEvent on that log: {add_s * 1000:.0f} ms",
            f"awk: {awk_s * 1000:.0f} ms", add_s / awk_s, 2.5)
        row(f"its peak memory: {add_rss / MIB:.0f} MiB", f"the log: {size / MIB:.0f} MiB",
            add_rss / size, 2)
        fail_rss = max(r.maxrss for r in failed)
        notes.append(f"failed launch on that log, whole launcher: {fail_s * 1000:.0f} ms, "
                     f"{fail_s / awk_s:.2f} x awk, peak {fail_rss / MIB:.0f} MiB")

        small, large = chapfile()
        row(f"chaptered file load/plain read at 10^6 lines: {large:.2f}",
            f"the same at 10^5: {small:.2f}", large / small, 1.3)

        total, startup_s, cat_s = start_up(work)
        row(f"start-up to first launch: {startup_s * 1000:.1f} ms", "50 ms",
            startup_s / 0.050, 1)
        row(f"start-up to first launch: {startup_s * 1000:.1f} ms",
            f"cat of its {total / 1e6:.1f} MB of files: {cat_s * 1000:.1f} ms",
            startup_s / cat_s, 5)

        per_job = cpu_per_job(work)
        row(f"launcher CPU per job, {CPU_JOBS} jobs: {per_job * 1000:.3f} ms", "0.3 ms",
            per_job / 0.0003, 1)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    header = ("figure", "compared with", "ratio", "goal", "")
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(len(header))]
    line = lambda cells: "| " + " | ".join(c.ljust(w) for c, w in zip(cells, widths)) + " |"
    print(line(header))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print(line(r))
    for note in notes:
        print(note)
    return 0 if all(r[4] == "met" for r in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
