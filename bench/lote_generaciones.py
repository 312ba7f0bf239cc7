#!/usr/bin/env python3
"""What today's drivers and the TLS versions cost an estate run.

Over 1,000 stand-ins that encrypt the login as a default SQL Server does, with a certificate a test CA
signed for 127.0.0.1 (so that ODBC 18 logs in), tarpelino-lote runs in turn, --repeticiones times each:
  ventana: the default two generations (2005, 2008);
  todas:   --generaciones todas --versiones-tls --ca (four logins and three handshakes per server).
It prints the wall time of each and tarpelino-lote's CPU (median of the runs, with their range) and the
ratios todas / ventana; the wall time's should stay at or under 2.5: no more than the extra logins and
handshakes cost. The stand-ins share the machine's processors and sign each handshake (RSA 2048), so the
wall time counts their share of the extra handshakes too. Every run is
checked: every pass logged in and every server listed TLS 1.0, 1.1 and 1.2. Exit status 1 on any failed
check.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from lote import PASSWORD  # noqa: E402
from lote_frente import spread, start_estate, stop, timed, wait_for_calm  # noqa: E402



def certtool(*args):
    subprocess.run(["certtool", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certificates(folder):
    """A test CA and a certificate it signs for 127.0.0.1; the paths of the CA, the certificate, the key."""
    paths = {n: os.path.join(folder, n) for n in ("ca.key", "ca.pem", "srv.key", "srv.pem", "ca.cfg", "srv.cfg")}
    with open(paths["ca.cfg"], "w") as f:
        f.write('cn = "Banco de pruebas"\nca\ncert_signing_key\nexpiration_days = 30\n')
    with open(paths["srv.cfg"], "w") as f:
        f.write('cn = "127.0.0.1"\nip_address = "127.0.0.1"\ntls_www_server\nencryption_key\n'
                'signing_key\nexpiration_days = 30\n')
    certtool("--generate-privkey", "--bits", "2048", "--outfile", paths["ca.key"])
    certtool("--generate-self-signed", "--load-privkey", paths["ca.key"], "--template", paths["ca.cfg"],
             "--outfile", paths["ca.pem"])
    certtool("--generate-privkey", "--bits", "2048", "--outfile", paths["srv.key"])
    certtool("--generate-certificate", "--load-privkey", paths["srv.key"], "--load-ca-certificate",
             paths["ca.pem"], "--load-ca-privkey", paths["ca.key"], "--template", paths["srv.cfg"],
             "--outfile", paths["srv.pem"])
    return paths["ca.pem"], paths["srv.pem"], paths["srv.key"]


def run(args, servers, extra):
    env = dict(os.environ, TARPELINO_PASSWORD=PASSWORD)
    command = [args.lote, "--usuario", "sa", "--tiempo", str(args.tiempo), "--paralelo", str(args.paralelo),
               "--formato", "json", *extra, "-"]
    wall, cpu, status, out, err = timed(command, "".join(s + "\n" for s in servers), env)
    problems = []
    try:
        rows = json.loads(out)
        if len(rows) != len(servers):
            problems.append(f"{len(rows)} rows for {len(servers)} servers")
        for r in rows:
            for g in ("2005", "2008", "odbc17", "odbc18"):
                if g in r and r[g]["veredicto"] != "Conexión CORRECTA.":
                    problems.append(f"{r['servidor']} {g}: {r[g]['descripcion']}")
            if "tls_aceptadas" in r and r["tls_aceptadas"] != ["1.0", "1.1", "1.2"]:
                problems.append(f"{r['servidor']}: TLS {r['tls_aceptadas']} {r['tls_motivo']}")
    except (ValueError, KeyError) as e:
        problems.append(f"unreadable output ({e}): {err[-300:]}")
    if status != 0:
        problems.append(f"exit status {status}: {err[-300:]}")
    return wall, cpu, problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--servidores", type=int, default=1000)
    parser.add_argument("--paralelo", type=int, default=32)
    parser.add_argument("--repeticiones", type=int, default=3)
    parser.add_argument("--tiempo", type=int, default=5)
    parser.add_argument("--lote", default="build/tarpelino-lote")
    parser.add_argument("--stand-in", default="build/tests/stand_in/tds-stand-in")
    parser.add_argument("--sin-calma", action="store_true")
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="lote-generaciones-", dir=os.environ.get("TMPDIR"))
    stand_ins = []
    failed = False
    try:
        ca, certificate, key = make_certificates(folder)
        stand_ins, servers = start_estate(
            args, args.servidores, 0, folder,
            ["--encryption", "login", "--certificate", certificate, "--private-key", key])
        runs = {"ventana": [], "todas": []}
        cpus = {"ventana": [], "todas": []}
        extras = {"ventana": [], "todas": ["--generaciones", "todas", "--versiones-tls", "--ca", ca]}
        for _ in range(args.repeticiones):
            for name in runs:
                if not args.sin_calma:
                    wait_for_calm()
                wall, cpu, problems = run(args, servers, extras[name])
                runs[name].append(wall)
                cpus[name].append(cpu)
                for problem in problems[:5]:
                    print(f"    {name}: {problem}")
                failed = failed or bool(problems)
        print(f"{args.servidores} servers, --paralelo {args.paralelo}: median [range] of the wall time and of "
              f"tarpelino-lote's CPU (its login processes included, the stand-ins' not)")
        for name, walls in runs.items():
            print(f"  {name:<8} wall s {spread(walls)}   CPU s {spread(cpus[name])}")
        ratio = statistics.median(runs["todas"]) / statistics.median(runs["ventana"])
        ratio_cpu = statistics.median(cpus["todas"]) / statistics.median(cpus["ventana"])
        print(f"  todas / ventana: wall {ratio:.2f} (goal: at most 2.5), CPU {ratio_cpu:.2f}")
        failed = failed or ratio > 2.5
    finally:
        stop(stand_ins)
        shutil.rmtree(folder, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
