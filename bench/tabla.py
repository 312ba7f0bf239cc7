#!/usr/bin/env python3
"""Prints the benchmarks' JSON outputs as one table of ratios to the floor.

Each figure is the median of its repetitions (runs) with their range, min-max, in brackets."""
import json
import statistics
import sys

FILAS = [
    # (benchmark name prefix, figure, floor, goal)
    ("BM_AperturaCierre_SinCifrado", "1 open+close, no TLS", "db-lib dbopen+dbclose", "<= 1.1"),
    ("BM_AperturaCierre_CifradoLogin", "1 open+close, login in TLS", "db-lib dbopen+dbclose", "<= 1.03"),
    ("BM_Clic", "2 click, both passes painted", "2 db-lib logins", "<= 1.25"),
    ("BM_ClicLatencia", "2 click, 20 ms per reply", "2 db-lib logins", "<= 1.02"),
    ("BM_PrimerClic", "2 first click of a new window", "warm click", "<= 1.05"),
    ("BM_PrimerClicTrasPausa", "2 same, 300 ms after its frame", "warm click", "<= 1.05"),
    ("BM_Fallo_PuertoCerrado", "3 refused port, per pass", "db-lib failure", "<= 1.2, < 50 ms"),
    ("BM_Fallo_HostDesconocido", "3 unknown host, per pass", "db-lib failure", "<= 1.2, < 50 ms"),
    ("BM_Arranque", "4 start to window shown", "bare Qt window", "<= 1.2"),
    ("BM_CpuClic", "6 CPU per click (2 opens)", "2 db-lib logins, CPU", "-"),
]

# Every repetition of each benchmark, aggregates left out (the table makes its own).
resultados = {}
for ruta in sys.argv[1:]:
    with open(ruta) as f:
        for b in json.load(f)["benchmarks"]:
            if b.get("run_type", "iteration") == "iteration":
                resultados.setdefault(b["name"].split("/")[0], []).append(b)


def cifra(corridas, clave, escala=1.0, formato="{:.2f}"):
    """Median [min-max] of one counter over the runs."""
    v = [c[clave] * escala for c in corridas]
    m = formato.format(statistics.median(v))
    if len(v) == 1:
        return m
    return f"{m} [{formato.format(min(v))}-{formato.format(max(v))}]"


def fallidas(corridas):
    return not corridas or any("error_message" in c for c in corridas)


def motivo(corridas):
    return next((c["error_message"] for c in corridas or [] if "error_message" in c), "not run")


print(f"{'Figure':<32} {'Tarpelino ms':>22} {'Floor ms':>22} {'Ratio':>18}  {'Goal':<16} Floor is")
for nombre, figura, suelo, meta in FILAS:
    c = resultados.get(nombre)
    if fallidas(c):
        print(f"{figura:<32} failed: {motivo(c)}")
        continue
    print(f"{figura:<32} {cifra(c, 'componente_ms'):>22} {cifra(c, 'suelo_ms'):>22} {cifra(c, 'razon'):>18}  "
          f"{meta:<16} {suelo}")

m = resultados.get("BM_Memoria")
if fallidas(m):
    print(f"{'5 memory':<32} failed: {motivo(m)}")
else:
    mb = dict(escala=1 / 1024, formato="{:.1f}")
    # Distinct resident pages of the tree where the kernel shows page frames, the sum of PSS otherwise.
    medida = "pages" if all(c["paginas_unicas"] for c in m) else "PSS"
    print(f"{'5 tree after 1000 vs 10 clicks':<32} {cifra(m, 'arbol_1000_kB', **mb):>22} "
          f"{cifra(m, 'arbol_10_kB', **mb):>22} {cifra(m, 'crecimiento'):>18}  {'1.00 (no growth)':<16} "
          f"same window, 10 clicks ({medida}, MB)")
    print(f"{'5 tree after 1000 clicks vs Qt':<32} {cifra(m, 'arbol_1000_kB', **mb):>22} "
          f"{cifra(m, 'arbol_qt_kB', **mb):>22} {cifra(m, 'razon'):>18}  {'<= 1.2':<16} "
          f"bare Qt window ({medida}, MB; window + {int(m[0]['procesos']) - 1} processes)")
    print(f"{'5 same, sum of PSS':<32} {cifra(m, 'pss_1000_kB', **mb):>22} {cifra(m, 'pss_qt_kB', **mb):>22} "
          f"{cifra(m, 'razon_pss'):>18}  {'<= 1.2':<16} bare Qt window (MB)")
print("Times are medians over a run, ratios medians of per-round ratios, both sides interleaved; each")
print("figure is the median of the runs, [min-max] over them.")
