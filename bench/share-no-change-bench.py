#!/usr/bin/env python3
"""Runs with nothing to do where B is an sshfs share of this machine.

As root: starts an sshd of its own on 127.0.0.1, mounts a local folder through
sshfs, fills A with FOLDERS folders (three small files in each leaf), makes B
a copy with a first run, then runs the same job ROUNDS times with nothing
changed. With --before a second kelto-run-job (an older build) runs beside
the current one on a B of its own, taking turns in every round. Prints each
run's plan phase and rsync passes, then the medians of every phase.

A side on a share of this machine is placed by the markers: the lookups at
each of its folders are part of every run, which is what this measures.

  share-no-change-bench.py --runner BUILD/tools/kelto-run-job/kelto-run-job [--before OLD/kelto-run-job]
                           [--mode mirror|copy|twoWay] [--rounds 8] [--folders 3060] [--work /dev/shm/...]
"""

import argparse
import json
import os
import random
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

PHASES = ("plan", "freshLook", "transfer", "archive", "baseline", "record")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_sshd(folder):
    os.makedirs(folder, exist_ok=True)
    os.makedirs("/run/sshd", exist_ok=True)
    for key in ("host", "user"):
        subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", f"{folder}/{key}"], check=True)
    shutil.copy(f"{folder}/user.pub", f"{folder}/authorized_keys")
    with open(f"{folder}/sshd_config", "w") as config:
        config.write(f"ListenAddress 127.0.0.1\nHostKey {folder}/host\nAuthorizedKeysFile {folder}/authorized_keys\n"
                     "PermitRootLogin prohibit-password\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n"
                     "KbdInteractiveAuthentication no\nPidFile none\nSubsystem sftp internal-sftp\n")
    port = free_port()
    with open(f"{folder}/log", "w") as log:
        server = subprocess.Popen(["/usr/sbin/sshd", "-D", "-e", "-f", f"{folder}/sshd_config", "-p", str(port)],
                                  stderr=log)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and server.poll() is None:
        with open(f"{folder}/log") as log:
            if "listening" in log.read():
                return server, port
        time.sleep(0.05)
    server.kill()
    raise SystemExit("sshd did not start")


def fill(root, folders):
    # Folders in two levels: tops of 50 folders each.
    tops = max(1, folders // 51)
    for i in range(tops):
        for j in range(50):
            leaf = os.path.join(root, f"d{i:03}", f"e{j:02}")
            os.makedirs(leaf)
            for k in range(3):
                with open(os.path.join(leaf, f"f{k}.txt"), "w") as f:
                    f.write(f"{i} {j} {k}\n" * 10)


def run(runner, mode, a, b, work, name):
    command = [runner, "--rsync", shutil.which("rsync"), "--mode", mode, a, b,
               f"{work}/support-{name}", f"{work}/logs-{name}"]
    out = subprocess.run(command, capture_output=True, text=True)
    try:
        return json.loads(out.stdout)
    except json.JSONDecodeError:
        raise SystemExit(f"{name}: no report: {out.stderr}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runner", required=True)
    parser.add_argument("--before")
    parser.add_argument("--mode", default="mirror", choices=("mirror", "copy", "twoWay"))
    parser.add_argument("--rounds", type=int, default=8)
    parser.add_argument("--folders", type=int, default=3060)
    parser.add_argument("--work", default="/dev/shm")
    args = parser.parse_args()
    if os.geteuid() != 0:
        raise SystemExit("needs root to mount")
    for program in ("sshfs", "/usr/sbin/sshd", "fusermount3"):
        if shutil.which(program) is None:
            raise SystemExit(f"{program} missing (openssh-server, sshfs)")

    runners = {"current": args.runner}
    if args.before:
        runners["before"] = args.before
    work = tempfile.mkdtemp(prefix="kelto-share-bench-", dir=args.work)
    server, port = start_sshd(f"{work}/ssh")
    mounted = f"{work}/mnt"
    try:
        fill(f"{work}/a", args.folders)
        os.makedirs(f"{work}/real")
        os.makedirs(mounted)
        subprocess.run(["sshfs", "-p", str(port), "-o",
                        f"IdentityFile={work}/ssh/user,StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,"
                        "BatchMode=yes", f"root@127.0.0.1:{work}/real", mounted], check=True)
        for name, runner in runners.items():
            os.makedirs(f"{mounted}/{name}")
            first = run(runner, args.mode, f"{work}/a", f"{mounted}/{name}", work, name)
            if first.get("outcome") != "success":
                raise SystemExit(f"{name}: the first run did not succeed: {first}")
        times = {name: {phase: [] for phase in PHASES} for name in runners}
        for _ in range(args.rounds):
            for name, runner in runners.items():
                # A run first waits for the next tick of the share's time
                # stamps (up to a second on sshfs): started back to back, the
                # builds would meet that tick at the same point each round.
                time.sleep(random.random())
                report = run(runner, args.mode, f"{work}/a", f"{mounted}/{name}", work, name)
                timing = report.get("timing", {})
                phases = timing.get("phaseSeconds", {})
                for phase in PHASES:
                    times[name][phase].append(phases.get(phase, 0.0))
                passes = " ".join(f'{p["kind"]}@{p["start"]:.2f}+{p["seconds"]:.2f}'
                                  for p in timing.get("rsyncPasses", []))
                print(f'{name:8} {report.get("outcome")} plan={phases.get("plan", 0):.2f} '
                      f'total={timing.get("totalSeconds", 0):.2f} | {passes}', flush=True)
        print(f"\nmedians over {args.rounds} rounds, {args.mode}, seconds:")
        print("          " + " ".join(f"{phase:>9}" for phase in PHASES))
        for name in runners:
            print(f"{name:9} " + " ".join(f"{statistics.median(times[name][phase]):9.2f}" for phase in PHASES))
    finally:
        subprocess.run(["fusermount3", "-u", mounted], stderr=subprocess.DEVNULL)
        server.terminate()
        server.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
