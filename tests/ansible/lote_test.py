#!/usr/bin/env python3
"""ansible/lote.yml over two jump hosts that are this machine (local connection), each with its own
list and its own stand-ins: one given as a host variable, the other as a list file. The password comes
from a vault file. Checks the merged report row by row (each server once, with the host that ran it,
its causes as its stand-in was told), the summary as counted from the table below, and that the
password shows nowhere in Ansible's most verbose output.

  lote_test.py --lote BUILD/tarpelino-lote --stand-in BUILD/tests/stand_in/tds-stand-in
"""
import argparse
import collections
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

PASSWORD = "Secr3t!"
RAIZ = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

# kind: (stand-in arguments, causa of the 2005 pass, causa of the 2008 pass (None logs in),
#        the generations whose pass is not made)
KINDS = {
    "ok": (["--login", f"sa:{PASSWORD}"], None, None, ()),
    "tls12": (["--login", f"sa:{PASSWORD}", "--encryption", "required", "--tls", "1.2"], "tls_version", None, ()),
    "password": (["--login", "sa:otra"], "inicio_sesion", "inicio_sesion", ()),
    # No SQL Server was reached: the 2008 pass is not made.
    "refuse": (["--behaviour", "refuse"], "tcp", "tcp", ("2008",)),
}
# Each host's estate: kind and how many of it.
ESTATES = {
    "salto1": {"ok": 2, "refuse": 1, "tls12": 1},
    "salto2": {"ok": 1, "password": 1, "tls12": 1},
}
SUMMARY_TEXT = ("Resumen de 7 servidores (salto1: 4, salto2: 3):\n"
                "2005  3 correctas; 4 fallidas: 2 tls_version, 1 inicio_sesion, 1 tcp\n"
                "2008  5 correctas; 2 fallidas: 1 inicio_sesion, 1 tcp (1 no intentada)\n")


def start_stand_in(binary, extra, count, folder, name, processes):
    out = open(os.path.join(folder, name + ".out"), "w+")
    p = subprocess.Popen([binary, "--count", str(count)] + extra, stdout=out, stderr=subprocess.STDOUT)
    processes.append(p)
    deadline = time.monotonic() + 60
    while True:
        out.seek(0)
        lines = [l.split() for l in out.read().splitlines() if l.startswith("listening on ")]
        if len(lines) == count:
            return [f"{l[2]},{l[3]}" for l in lines]
        if p.poll() is not None or time.monotonic() > deadline:
            out.seek(0)
            sys.exit(f"stand-in {name} did not start: {out.read()[-2000:]}")
        time.sleep(0.02)


def expected_summary(expected):
    generations = {}
    for version, index in (("2005", 1), ("2008", 2)):
        causes = collections.Counter(KINDS[kind][index] for kind in expected.values())
        ok = causes.pop(None, 0)
        not_made = collections.Counter(KINDS[kind][index] for kind in expected.values() if version in KINDS[kind][3])
        generations[version] = {
            "servidores": len(expected), "correctas": ok,
            "fallos": dict(sorted(causes.items(), key=lambda p: (-p[1], p[0]))),
            "no_intentadas": dict(not_made),
        }
    hosts = collections.Counter(host for host, _server in expected)
    return {"servidores": len(expected), "equipos": dict(hosts), "generaciones": generations}


def check(report_folder, expected, output):
    problems = []
    rows = [json.loads(l) for l in open(os.path.join(report_folder, "informe.jsonl"), encoding="utf-8")]
    seen = collections.Counter((row.get("equipo"), row.get("servidor")) for row in rows)
    for key, n in seen.items():
        if key not in expected:
            problems.append(f"unexpected row {key}")
        elif n != 1:
            problems.append(f"{key} {n} times")
    problems += [f"no row for {key}" for key in expected if key not in seen]
    for row in rows:
        kind = expected.get((row.get("equipo"), row.get("servidor")))
        if kind is None:
            continue
        for version, index in (("2005", 1), ("2008", 2)):
            if row[version]["causa"] != KINDS[kind][index]:
                problems.append(f"{row['equipo']} {row['servidor']} ({kind}) {version}: causa "
                                f"{row[version]['causa']}: {row[version]['descripcion']}")
    summary = json.load(open(os.path.join(report_folder, "resumen.json"), encoding="utf-8"))
    if summary != expected_summary(expected):
        problems.append(f"summary {summary} instead of {expected_summary(expected)}")
    # The same summary in words, as the table ends, for the estate of ESTATES.
    text = open(os.path.join(report_folder, "resumen.txt"), encoding="utf-8").read()
    if text != SUMMARY_TEXT:
        problems.append(f"summary in words:\n{text}instead of\n{SUMMARY_TEXT}")
    if PASSWORD in output:
        problems.append("the password shows in ansible-playbook's output")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--lote", required=True)
    parser.add_argument("--stand-in", required=True)
    args = parser.parse_args()
    lote = os.path.abspath(args.lote)
    folder = tempfile.mkdtemp(prefix="ansible-lote-")
    processes = []
    try:
        expected = {}
        lists = {}
        for host, estate in ESTATES.items():
            lists[host] = []
            for kind, count in estate.items():
                servers = start_stand_in(args.stand_in, KINDS[kind][0], count, folder, f"{host}-{kind}", processes)
                lists[host] += servers
                expected.update({(host, s): kind for s in servers})

        # salto1's list in the inventory, salto2's in a file beside it (with a comment and a blank line).
        with open(os.path.join(folder, "salto2.txt"), "w") as f:
            f.write("# salto2\n\n" + "\n".join(lists["salto2"]) + "\n")
        common = {"ansible_connection": "local", "ansible_python_interpreter": sys.executable,
                  "tarpelino_lote_instalar": False, "tarpelino_lote_programa": lote}
        inventory = {"saltos": {
            "vars": {"tarpelino_lote_usuario": "sa", "tarpelino_lote_opciones": ["--tiempo", "5"]},
            "hosts": {"salto1": dict(common, tarpelino_lote_servidores=lists["salto1"]),
                      "salto2": dict(common, tarpelino_lote_lista="salto2.txt")}}}
        with open(os.path.join(folder, "inventario.json"), "w") as f:
            json.dump(inventory, f)

        # The password in a vault file, as the README tells.
        env = {k: v for k, v in os.environ.items() if not k.startswith("ANSIBLE_") and k != "TARPELINO_PASSWORD"}
        config = os.path.join(folder, "ansible.cfg")
        open(config, "w").close()
        env.update(LC_ALL="C.UTF-8", ANSIBLE_CONFIG=config, ANSIBLE_NOCOLOR="1",
                   ANSIBLE_HOME=os.path.join(folder, "ansible-home"),
                   ANSIBLE_LOCAL_TEMP=os.path.join(folder, "ansible-local"),
                   ANSIBLE_REMOTE_TEMP=os.path.join(folder, "ansible-remote"))
        with open(os.path.join(folder, "vault-pass"), "w") as f:
            f.write("clave-del-almacen\n")
        with open(os.path.join(folder, "secreto.yml"), "w") as f:
            f.write(f"tarpelino_lote_password: '{PASSWORD}'\n")
        subprocess.run(["ansible-vault", "encrypt", "--vault-password-file", os.path.join(folder, "vault-pass"),
                        os.path.join(folder, "secreto.yml")], env=env, check=True, capture_output=True)

        report = os.path.join(folder, "informe")
        start = time.monotonic()
        run = subprocess.run(["ansible-playbook", "-vvv", "-i", os.path.join(folder, "inventario.json"),
                              os.path.join(RAIZ, "ansible", "lote.yml"),
                              "-e", "@" + os.path.join(folder, "secreto.yml"),
                              "--vault-password-file", os.path.join(folder, "vault-pass"),
                              "-e", "tarpelino_lote_informe=" + report],
                             env=env, cwd=folder, capture_output=True, text=True, timeout=150)
        output = run.stdout + run.stderr
        print(f"ansible-playbook: {time.monotonic() - start:.1f} s, exit {run.returncode}")
        if run.returncode != 0:
            print(output)
            return 1
        problems = check(report, expected, output)
        for p in problems:
            print("FAIL:", p)
        if not problems:
            print(f"{len(expected)} rows from 2 hosts and the summary checked")
        return 1 if problems else 0
    finally:
        for p in processes:
            p.terminate()
        for p in processes:
            p.wait()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
