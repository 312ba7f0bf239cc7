#!/usr/bin/env python3
"""tarpelino-lote side by side with tedious over the same stand-ins.

Both make the same two logins per server (TDS 7.2, then TDS 7.3, with the same SQL login, into
MASTER, no TLS: the stand-ins offer none) at the same parallelism: tarpelino-lote with
--paralelo N, tedious (bench/tedious_lote.js) as one Node process with N logins under way at once.
For each case the two run in turn, --repeticiones times, and the table gives for each the wall time
and the CPU (user + system of the process and every process it reaped: tarpelino-lote's login
processes and login server) as the median of the runs with their range, and the ratios
tarpelino-lote / tedious of the medians. Every run is checked: every login of both went through.
Exit status 1 on any failed check.

tarpelino-lote runs fewer logins at once than asked on a machine that is already busy (it says so on
standard error), and a run leaves the load average high for a minute or two: so each run waits first
until the 1-minute load is down to the processor count (--sin-calma runs at once). Where it still
runs fewer, tedious runs at the parallelism tarpelino-lote used in the run just before it, so that
both are always compared at the same one, and the `par` column gives what each used.

Cases (name: servers, reply delay of the stand-ins, parallelism):
  retraso: 1,000 servers that hold each reply 20 ms, 128 at once (a network with that round trip)
  local:   1,000 servers on loopback with no delay, 32 at once
  diezmil: 10,000 servers on loopback with no delay, 32 at once
"""
import argparse
import json
import os
import re
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from lote import PASSWORD  # noqa: E402

CASES = {"retraso": (1000, 20, 128), "local": (1000, 0, 32), "diezmil": (10000, 0, 32)}
# The stand-in plays at most this many servers per process.
POR_PROCESO = 5000


def cpu_children():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def timed(command, stdin_text, env):
    """Wall time, CPU of the process and all it reaped, exit status, output."""
    cpu0 = cpu_children()
    start = time.monotonic()
    p = subprocess.run(command, input=stdin_text.encode(), stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    wall = time.monotonic() - start
    return wall, cpu_children() - cpu0, p.returncode, p.stdout.decode(), p.stderr.decode()


def run_lote(args, servers, parallel, lote=None):
    env = dict(os.environ, TARPELINO_PASSWORD=PASSWORD)
    command = [lote or args.lote, "--usuario", "sa", "--tiempo", str(args.tiempo), "--paralelo", str(parallel),
               "--formato", "json", "-"]
    wall, cpu, status, out, err = timed(command, "".join(s + "\n" for s in servers), env)
    problems = []
    try:
        rows = json.loads(out)
        bad = [f"{r['servidor']} {v}: {r[v]['descripcion']}" for r in rows for v in ("2005", "2008")
               if r[v]["veredicto"] != "Conexión CORRECTA."]
        if len(rows) != len(servers):
            problems.append(f"{len(rows)} rows for {len(servers)} servers")
        problems += bad[:5]
    except (ValueError, KeyError) as e:
        problems.append(f"unreadable output ({e}): {err[-300:]}")
    if status != 0:
        problems.append(f"exit status {status}: {err[-300:]}")
    used = re.search(r"se comprueban (\d+) servidores a la vez", err)
    return wall, cpu, problems, int(used.group(1)) if used else parallel


def run_tedious(args, servers, parallel):
    env = dict(os.environ, TARPELINO_PASSWORD=PASSWORD)
    command = ["node", os.path.join(os.path.dirname(os.path.abspath(__file__)), "tedious_lote.js"),
               "--tedious", os.path.abspath(args.tedious), "--usuario", "sa", "--paralelo", str(parallel),
               "--tiempo", str(args.tiempo)]
    wall, cpu, status, out, err = timed(command, "".join(s + "\n" for s in servers), env)
    problems = []
    try:
        r = json.loads(out)
        for v, n in r["correctas"].items():
            if n != len(servers):
                problems.append(f"tedious TDS {v}: {n} of {len(servers)} logged in: {r['errores']}")
    except (ValueError, KeyError) as e:
        problems.append(f"unreadable output ({e}): {err[-300:]}")
    if status != 0:
        problems.append(f"tedious exit status {status}: {err[-300:]}")
    return wall, cpu, problems, parallel


def wait_for_calm(seconds=300):
    """Waits, at most `seconds`, until the 1-minute load average is at most the processor count."""
    cpus = len(os.sched_getaffinity(0))
    deadline = time.monotonic() + seconds
    while os.getloadavg()[0] > cpus and time.monotonic() < deadline:
        time.sleep(2)


def start_estate(args, count, delay_ms, folder, more=()):
    """Stand-ins playing `count` servers that log sa in, started side by side; their addresses.
    `more`: further options of the stand-ins'."""
    extra = ["--login", f"sa:{PASSWORD}"] + (["--reply-delay", str(delay_ms)] if delay_ms else []) + list(more)
    started = []
    for n in range(0, count, POR_PROCESO):
        k = min(POR_PROCESO, count - n)
        out = open(os.path.join(folder, f"ok{n}.out"), "w+")
        started.append((subprocess.Popen([args.stand_in, "--count", str(k)] + extra, stdout=out,
                                         stderr=subprocess.STDOUT), out, k))
    stand_ins = [p for p, _, _ in started]
    servers = []
    # Thousands of servers take a while to start on a busy machine.
    deadline = time.monotonic() + 600
    for p, out, k in started:
        while True:
            out.seek(0)
            lines = [l.split() for l in out.read().splitlines() if l.startswith("listening on ")]
            if len(lines) == k:
                servers += [f"{l[2]},{l[3]}" for l in lines]
                break
            if p.poll() is not None or time.monotonic() > deadline:
                stop(stand_ins)
                out.seek(0)
                sys.exit(f"a stand-in did not start: {out.read()[-500:]}")
            time.sleep(0.2)
    return stand_ins, servers


def stop(stand_ins):
    for p in stand_ins:
        p.send_signal(signal.SIGTERM)
    for p in stand_ins:
        try:
            p.wait(30)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()


def spread(values):
    return f"{statistics.median(values):6.2f} [{min(values):.2f}-{max(values):.2f}]"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--casos", default="retraso,local,diezmil")
    parser.add_argument("--repeticiones", type=int, default=3)
    parser.add_argument("--tiempo", type=int, default=5, help="seconds per login, both clients")
    parser.add_argument("--lote", default="build/tarpelino-lote")
    parser.add_argument("--stand-in", default="build/tests/stand_in/tds-stand-in")
    parser.add_argument("--tedious", default="tests/stand_in/tedious")
    parser.add_argument("--sin-tedious", action="store_true", help="tarpelino-lote only")
    parser.add_argument("--sin-calma", action="store_true",
                        help="do not wait for the load average to come down before each run")
    parser.add_argument("--lote-anterior", help="another build of tarpelino-lote, run in turn too "
                        "(the one before a change, installed with its login process beside it)")
    args = parser.parse_args()
    if not args.sin_tedious and not os.path.isdir(os.path.join(args.tedious, "node_modules", "tedious")):
        sys.exit(f"tedious is not installed in {args.tedious} (scripts/install-deps.sh test installs it)")

    failed = False
    print(f"load before: {' '.join(open('/proc/loadavg').read().split()[:3])}")
    print(f"{'case':<8} {'servers':>7} {'delay':>5} {'par':>7}  {'client':<14} {'wall s':>20} {'CPU s':>20}")
    for case in args.casos.split(","):
        count, delay, parallel = CASES[case]
        folder = tempfile.mkdtemp(prefix="lote-frente-", dir=os.environ.get("TMPDIR"))
        stand_ins = []
        try:
            stand_ins, servers = start_estate(args, count, delay, folder)
            clients = [("tarpelino-lote", run_lote)] + ([] if args.sin_tedious else [("tedious", run_tedious)])
            if args.lote_anterior:
                clients.append(("lote anterior", lambda a, s, p: run_lote(a, s, p, args.lote_anterior)))
            figures = {name: ([], [], []) for name, _ in clients}
            for _ in range(args.repeticiones):
                used = parallel
                for name, fn in clients:
                    if not args.sin_calma:
                        wait_for_calm()
                    # tedious at what tarpelino-lote used just before; another build at what was asked.
                    wall, cpu, problems, par = fn(args, servers, used if name == "tedious" else parallel)
                    if name == "tarpelino-lote":
                        used = par
                    figures[name][0].append(wall)
                    figures[name][1].append(cpu)
                    figures[name][2].append(par)
                    for problem in problems[:5]:
                        print(f"    {name}: {problem}")
                    failed = failed or bool(problems)
            for name, (walls, cpus, pars) in figures.items():
                par = str(min(pars)) if min(pars) == max(pars) else f"{min(pars)}-{max(pars)}"
                print(f"{case:<8} {count:>7} {delay:>3}ms {par:>7}  {name:<14} {spread(walls):>20} "
                      f"{spread(cpus):>20}", flush=True)
            if not args.sin_tedious:
                lw, lc = (statistics.median(x) for x in figures["tarpelino-lote"][:2])
                tw, tc = (statistics.median(x) for x in figures["tedious"][:2])
                print(f"{case:<8} {'':>7} {'':>5} {'':>7}  {'ratio':<14} {lw / tw:>20.2f} {lc / tc:>20.2f}",
                      flush=True)
        finally:
            stop(stand_ins)
            shutil.rmtree(folder, ignore_errors=True)
    print(f"load after: {' '.join(open('/proc/loadavg').read().split()[:3])}")
    print("wall and CPU: median of the runs [range]; ratio = tarpelino-lote / tedious of the medians; "
          "CPU counts the client's processes only, not the stand-ins'")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
