#!/usr/bin/env python3
"""Lays out a Linux installation of the launcher for the whole-process
benchmarks of scripts/bench: settings (machine.reg, user.reg), a system
catalogue and an English user catalogue padded to a number of messages, a
users list of a number of users (the first one current), each user's batch
folder, an existing queue of jobs for the current user and the job script.

The job script is the simulator stand-in ("sim", as scripts/demo installs
it), a script that only ends ("done": the job's log is written beforehand),
or one that ends after writing a line to the FIFO "<root>/started" when there
is one ("mark": the shell's own echo, no extra process), so that whoever
reads the FIFO learns when the launcher started a job.

Used as a module by bench/run_bench.py; run alone it writes one
installation:  bench/installation.py ROOT [--users N] [--messages N] ...
"""
import argparse
import os
import shutil

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEMO = os.path.join(ROOT, "demo")
REGISTRY_KEY = "SOFTWARE\\Quarrow Labs\\Torvane8"


def crlf(lines):
    return "".join(line + "\r\n" for line in lines).encode("cp1252")


def reg_value(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def catalogue(demo_file, messages, four_numbers, what):
    """The demo catalogue's lines followed by padding messages up to
    `messages` lines, about 57 bytes each, under keys the demo does not use
    and packed densely (the tables are dense)."""
    with open(demo_file, encoding="cp1252") as f:
        lines = [line.rstrip("\r\n") for line in f if line.strip()]
    for i in range(max(0, messages - len(lines))):
        k1, k2 = 100 + i // 200, i % 200
        # The user catalogue's keys vary in their last number, as its own do.
        key = f"[{k1},0,0,{k2}]" if four_numbers else f"[{k1},{k2}]"
        lines.append(f"{key} {what} text number {i:05d}, shown to nobody yet")
    return crlf(lines)


def users_list(root, users):
    lines = ["[[Liste utilisateurs]]", "", "[Version]", "Version ft = 0.2", "Version = 0.2",
             "", "[Societe]", "Nom societe = Benchmark workshop", ""]
    for n in range(users):
        lines += ["[element utilisateur]", f"User name = {user_name(n)}",
                  f"Current user = {1 if n == 0 else 0}", "Base folder mode = 0",
                  f"Base folder = {root}/users/{user_name(n)}/", "RT REP BATCH = 1", ""]
    return crlf(lines)


def user_name(n):
    return f"user{n:03d}"


def batch_folder(root):
    return os.path.join(root, "users", user_name(0), "Batch")


def queue(jobs, job_name):
    lines = [f"nb = {len(jobs)}"]
    for job in jobs:
        lines += [f"user = {user_name(0)}", f"name = {job}", "state = 0", "status = 0", "wait = 0"]
    return crlf(lines)


def write_queue(root, jobs):
    """A fresh queue of `jobs` (names) for the current user; the report of an
    earlier run goes."""
    folder = batch_folder(root)
    write(os.path.join(folder, "batchexec.txt"), queue(jobs, None))
    report = os.path.join(folder, "batchreport.txt")
    if os.path.exists(report):
        os.remove(report)


def lay_out(root, users=2, messages=0, script="sim", sim=None, pause_ms=0):
    """Writes the installation under `root` (removed first). `sim`: the
    stand-in's executable, copied into the installation for script "sim"."""
    shutil.rmtree(root, ignore_errors=True)
    install = os.path.join(root, "install")
    messages_folder = os.path.join(root, "messages")
    os.makedirs(install)
    write(os.path.join(messages_folder, "system.txt"),
          catalogue(os.path.join(DEMO, "messages", "system.txt"), messages, False, "System"))
    write(os.path.join(messages_folder, "english.txt"),
          catalogue(os.path.join(DEMO, "messages", "english.txt"), messages, True, "User"))
    write(os.path.join(messages_folder, "languages.txt"), crlf(["EN=english.txt"]))
    write(os.path.join(root, "users.tvu"), users_list(root, users))
    for n in range(users):
        os.makedirs(os.path.join(root, "users", user_name(n), "Batch"), exist_ok=True)
    machine = [
        "REGEDIT4", "", f"[HKEY_LOCAL_MACHINE\\{REGISTRY_KEY}]",
        f'"FILEMSGSYS"={reg_value(os.path.join(messages_folder, "system.txt"))}',
        f'"FILEMSGU_TORVANE"={reg_value(os.path.join(messages_folder, "languages.txt"))}',
        f'"FILEUSERS"={reg_value(os.path.join(root, "users.tvu"))}',
        f'"REPSOFTWARE"={reg_value(install + "/")}',
        f'"BATCHJOBPAUSE"="{pause_ms}"',
    ]
    write(os.path.join(root, "machine.reg"), crlf(machine))
    write(os.path.join(root, "user.reg"),
          crlf(["REGEDIT4", "", f"[HKEY_CURRENT_USER\\{REGISTRY_KEY}]", '"LANGUAGE"="EN"']))
    bat = os.path.join(install, "TorvaneBatch.bat")
    if script == "sim":
        shutil.copy(sim, os.path.join(install, "torvane-sim"))
        body = '#!/bin/sh\nexec "$(dirname "$0")/torvane-sim" "$@"\n'
    elif script == "mark":
        started = os.path.join(root, "started")
        body = f'#!/bin/sh\n[ -p "{started}" ] && echo started > "{started}"\nexit 0\n'
    else:
        body = "#!/bin/sh\nexit 0\n"
    write(bat, body.encode())
    os.chmod(bat, 0o755)
    return root


def files_read_at_start(root):
    """The files the launcher reads before its first launch."""
    return [os.path.join(root, name) for name in
            ("machine.reg", "user.reg", "messages/system.txt", "messages/languages.txt",
             "messages/english.txt", "users.tvu", "users/user000/Batch/batchexec.txt")]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("root")
    parser.add_argument("--users", type=int, default=200)
    parser.add_argument("--messages", type=int, default=20000)
    parser.add_argument("--jobs", type=int, default=1)
    parser.add_argument("--script", choices=("sim", "mark", "done"), default="mark")
    parser.add_argument("--sim", default=os.path.join(ROOT, "build", "bin", "torvane-sim"))
    parser.add_argument("--pause-ms", type=int, default=0)
    args = parser.parse_args()
    root = os.path.abspath(args.root)
    lay_out(root, args.users, args.messages, args.script, args.sim, args.pause_ms)
    write_queue(root, [f"job{n:03d}.gam" for n in range(args.jobs)])
    print(f"TORVANE_PREFIX={root} build/bin/torvane-batch")


if __name__ == "__main__":
    main()
