#!/usr/bin/env python3
"""tarpelino-lote over a whole estate of loopback stand-ins.

Starts tds-stand-in processes playing many servers each (--count), of mixed behaviour:
logins that work, servers that take TLS 1.2 only or TDS 7.3 and later (the 2005 client
fails, the 2008 one logs in), a wrong password, refused ports, ports that drop packets
(blackhole) and slow servers that answer LOGIN7 late. Runs tarpelino-lote on the list
once per --paralelo value and, for each run, prints the time, the bound
ceil(servers / parallelism) x the slowest server (the longest two passes of any one row),
and the peak memory of tarpelino-lote and its login processes together (their RSS summed,
sampled every 20 ms). Every row's verdicts are checked against what its stand-in was told
to do; any mismatch, or a run over its bound, makes the exit status 1.

Sizing: a dropping server costs one full --tiempo (its 2008 pass is not made), so with --paralelo 1 the
dropping share (1 %) and --tiempo (2 s) set much of the run: 10 such servers out of 1,000
take 20 s; the slow ones (8 %, answering after 300 ms) add about 50 s, the rest about
30 s. That keeps --paralelo 1 over 1,000 servers within a few minutes on a 2-core machine.

  bench/lote.py --servidores 1000 --paralelo 1,8,32      # the benchmark (scripts/bench.sh lote)
  bench/lote.py --servidores 40 --paralelo 8 --tiempo 5  # the ctest lote.ExtremoAExtremo
  bench/lote.py --servidores 1000 --memoria 100000       # each format's time and peak memory

--memoria N: a list of N lines naming the --servidores stand-ins in turn (those that answer at once:
no dropping nor slow ones), so that an estate larger than the ports of one machine is played by
a thousand; one run per format at --paralelo 32, its output to a file. Prints each run's time and
the peak RSS of tarpelino-lote (wait4's, which is the largest of it and of the processes it reaped,
the login server's workers among them), against the bound MEMORIA_MAXIMA_MB, and its own (VmHWM,
sampled every 50 ms).
"""
import argparse
import json
import math
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

PASSWORD = "Secr3t!"

# kind: (share of the estate, stand-in arguments, expected 2005 verdict, 2008 verdict,
#        a piece of each failed pass's description)
CORRECTA = "Conexión CORRECTA."
INCORRECTA = "Conexión INCORRECTA."
# A server the 2005 pass did not reach gets no 2008 pass.
NO_INTENTADA = "No intentada."


def kinds(args):
    return {
        "ok": (None, ["--login", f"sa:{PASSWORD}"], CORRECTA, CORRECTA, None),
        "tls12": (0.10, ["--login", f"sa:{PASSWORD}", "--encryption", "required", "--tls", "1.2"],
                  INCORRECTA, CORRECTA, "TLS"),
        "tds73": (0.05, ["--login", f"sa:{PASSWORD}", "--min-tds", "7.3"], INCORRECTA, CORRECTA, None),
        "password": (0.05, ["--login", "sa:otra"], INCORRECTA, INCORRECTA, "18456"),
        "refuse": (0.10, ["--behaviour", "refuse"], INCORRECTA, NO_INTENTADA, "rechazada"),
        "blackhole": (0.01, ["--behaviour", "blackhole"], INCORRECTA, NO_INTENTADA, "Tiempo de espera agotado"),
        "slow": (0.08, ["--login", f"sa:{PASSWORD}", "--fault", "delay-login", "--fault-delay",
                        str(args.retraso_ms)], CORRECTA, CORRECTA, None),
    }


def counts(total, table):
    n = {k: max(1, round(total * share)) for k, (share, *_rest) in table.items() if share is not None}
    n["ok"] = total - sum(n.values())
    if n["ok"] < 1:
        sys.exit("too few servers for every behaviour")
    return n


def start_stand_in(binary, extra, count, folder, name):
    out = open(os.path.join(folder, name + ".out"), "w+")
    p = subprocess.Popen([binary, "--count", str(count)] + extra, stdout=out, stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 120
    while True:
        out.seek(0)
        lines = [l.split() for l in out.read().splitlines() if l.startswith("listening on ")]
        if len(lines) == count:
            return p, [f"{l[2]},{l[3]}" for l in lines]
        if p.poll() is not None or time.monotonic() > deadline:
            out.seek(0)
            sys.exit(f"stand-in {name} did not start: {out.read()[-2000:]}")
        time.sleep(0.05)


def tree_rss_kb(root):
    """RSS of `root` and all its descendants, in kB."""
    parents = {}
    rss = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
            with open(f"/proc/{entry}/statm") as f:
                resident = int(f.read().split()[1])
        except OSError:
            continue
        parents[int(entry)] = int(stat[stat.rindex(")") + 2:].split()[1])
        rss[int(entry)] = resident * os.sysconf("SC_PAGE_SIZE") // 1024
    total, todo = 0, [root]
    while todo:
        pid = todo.pop()
        total += rss.get(pid, 0)
        todo.extend(c for c, p in parents.items() if p == pid)
    return total


def run(args, servers, parallel):
    env = dict(os.environ, TARPELINO_PASSWORD=PASSWORD)
    command = [args.lote, "--usuario", "sa", "--tiempo", str(args.tiempo), "--paralelo", str(parallel),
               "--formato", "json", "-"]
    start = time.monotonic()
    p = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    peak = [0]
    done = threading.Event()

    def sample():
        while not done.wait(0.02):
            peak[0] = max(peak[0], tree_rss_kb(p.pid))

    sampler = threading.Thread(target=sample)
    sampler.start()
    out, err = p.communicate("".join(s + "\n" for s in servers).encode())
    elapsed = time.monotonic() - start
    done.set()
    sampler.join()
    return p.returncode, json.loads(out), err.decode(), elapsed, peak[0]


def check(rows, expected, table):
    problems = []
    for row in rows:
        kind = expected.get(row["servidor"])
        if kind is None:
            problems.append(f"unexpected row {row['servidor']}")
            continue
        _share, _args, v2005, v2008, piece = table[kind]
        for version, verdict in (("2005", v2005), ("2008", v2008)):
            got = row[version]
            if got["veredicto"] != verdict:
                problems.append(f"{row['servidor']} ({kind}) {version}: {got['veredicto']} "
                                f"instead of {verdict}: {got['descripcion']}")
            elif verdict == CORRECTA:
                tds = "7.2" if version == "2005" else "7.3"
                if got["tds"] != tds or got["puerto"] != int(row["servidor"].split(",")[1]):
                    problems.append(f"{row['servidor']} ({kind}) {version}: TDS {got['tds']} port {got['puerto']}")
            elif piece and (version == "2005" or v2008 == INCORRECTA) and piece not in (got["descripcion"] or ""):
                problems.append(f"{row['servidor']} ({kind}) {version}: no «{piece}» in {got['descripcion']}")
    if len(rows) != len(expected):
        problems.append(f"{len(rows)} rows for {len(expected)} servers")
    return problems


MEMORIA_MAXIMA_MB = 64
FORMATOS = ("tabla", "csv", "json", "jsonl")


def rows_written(formato, path):
    """Rows in an output file, counted without holding it."""
    n = 0
    with open(path, "rb") as f:
        if formato == "tabla":
            for line in f:
                if line.startswith(b"Resumen de "):
                    return int(line.split()[2])
            return 0
        for line in f:
            n += formato == "jsonl" or (formato == "csv" and line.endswith(b"\r\n")) or \
                (formato == "json" and line.startswith(b'    "servidor": '))
    return n - (formato == "csv")


def own_peak_kb(pid, peak, done):
    """tarpelino-lote's own VmHWM, read until it ends: wait4's counts its reaped children too."""
    while not done.wait(0.05):
        try:
            with open(f"/proc/{pid}/status") as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        peak[0] = max(peak[0], int(line.split()[1]))
        except OSError:
            return


def memoria(args, servers, folder):
    lista = [servers[i % len(servers)] for i in range(args.memoria)]
    entrada = "".join(s + "\n" for s in lista).encode()
    env = dict(os.environ, TARPELINO_PASSWORD=PASSWORD)
    print(f"{args.memoria} servers named over {len(servers)} stand-ins, --paralelo 32, --tiempo {args.tiempo}")
    print(f"{'formato':>8} {'time':>9} {'peak RSS':>10} {'own':>9} {'rows':>7}  check")
    failed = False
    for formato in args.formatos.split(","):
        out_path = os.path.join(folder, "salida." + formato)
        with open(out_path, "wb") as out, open(os.path.join(folder, "errores"), "wb") as err:
            start = time.monotonic()
            p = subprocess.Popen([args.lote, "--usuario", "sa", "--tiempo", str(args.tiempo), "--paralelo", "32",
                                  "--formato", formato, "-"], stdin=subprocess.PIPE, stdout=out, stderr=err, env=env)
            own, done = [0], threading.Event()
            sampler = threading.Thread(target=own_peak_kb, args=(p.pid, own, done))
            sampler.start()
            p.stdin.write(entrada)
            p.stdin.close()
            _pid, status, uso = os.wait4(p.pid, 0)
            done.set()
            sampler.join()
            p.returncode = os.waitstatus_to_exitcode(status)
            elapsed = time.monotonic() - start
        peak_mb = uso.ru_maxrss / 1024
        rows = rows_written(formato, out_path)
        problems = []
        if p.returncode != 1:
            problems.append(f"exit status {p.returncode}, expected 1")
        if rows != args.memoria:
            problems.append(f"{rows} rows for {args.memoria} servers")
        if peak_mb > MEMORIA_MAXIMA_MB:
            problems.append(f"{peak_mb:.1f} MB is over {MEMORIA_MAXIMA_MB} MB")
        print(f"{formato:>8} {elapsed:>7.1f} s {peak_mb:>7.1f} MB {own[0] / 1024:>6.1f} MB {rows:>7}  "
              f"{'ok' if not problems else 'FAILED'}",
              flush=True)
        for problem in problems:
            print("    " + problem)
        failed = failed or bool(problems)
        os.unlink(out_path)
    return failed


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--servidores", type=int, default=1000)
    parser.add_argument("--paralelo", default="1,8,32")
    parser.add_argument("--tiempo", type=int, default=2, help="tarpelino-lote --tiempo, seconds per pass")
    parser.add_argument("--retraso-ms", type=int, default=300, help="how late the slow servers answer LOGIN7")
    parser.add_argument("--lote", default="build/tarpelino-lote")
    parser.add_argument("--stand-in", default="build/tests/stand_in/tds-stand-in")
    parser.add_argument("--memoria", type=int, default=0,
                        help="instead, one run per format over a list of this many lines (see above)")
    parser.add_argument("--formatos", default=",".join(FORMATOS), help="with --memoria: the formats run")
    args = parser.parse_args()

    table = kinds(args)
    if args.memoria:
        del table["blackhole"], table["slow"]
    n = counts(args.servidores, table)
    folder = tempfile.mkdtemp(prefix="lote-bench-", dir=os.environ.get("TMPDIR"))
    stand_ins = []
    expected = {}
    failed = False
    try:
        for kind, count in n.items():
            p, addresses = start_stand_in(args.stand_in, table[kind][1], count, folder, kind)
            stand_ins.append(p)
            expected.update((a, kind) for a in addresses)
        servers = list(expected)
        # Shuffled the same way every run, so the slow and dropping ones are spread out.
        servers.sort(key=lambda s: (int(s.split(",")[1]) * 7919) % 10007)
        if args.memoria:
            return 1 if memoria(args, servers, folder) else 0
        print(f"{len(servers)} servers: " + ", ".join(f"{c} {k}" for k, c in n.items()) +
              f"; --tiempo {args.tiempo} s, slow servers answer after {args.retraso_ms} ms")
        print(f"{'paralelo':>8} {'time':>9} {'slowest':>9} {'bound':>9} {'peak RSS':>10}  {'rows':>5}  check")
        for parallel in [int(p) for p in args.paralelo.split(",")]:
            status, rows, err, elapsed, peak_kb = run(args, servers, parallel)
            problems = check(rows, expected, table)
            if status != 1:
                problems.append(f"exit status {status}, expected 1 (some passes fail): {err[-500:]}")
            slowest = max((r["2005"]["tiempo_ms"] or 0) + (r["2008"]["tiempo_ms"] or 0) for r in rows) / 1000
            bound = math.ceil(len(servers) / parallel) * slowest
            if elapsed > bound:
                problems.append(f"{elapsed:.1f} s is over the bound {bound:.1f} s")
            print(f"{parallel:>8} {elapsed:>7.1f} s {slowest:>7.2f} s {bound:>7.1f} s {peak_kb / 1024:>7.1f} MB"
                  f"  {len(rows):>5}  {'ok' if not problems else 'FAILED'}", flush=True)
            for problem in problems[:20]:
                print("    " + problem)
            failed = failed or bool(problems)
    finally:
        for p in stand_ins:
            p.send_signal(signal.SIGTERM)
        for p in stand_ins:
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(folder, ignore_errors=True)
    print("bound = ceil(servers / paralelo) x slowest row (its two passes); every row's verdicts checked")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
