#!/usr/bin/env python3
"""Prints the benchmarks' JSON outputs as one table of ratios to the floor."""
import json
import sys

FILAS = [
    # (benchmark name prefix, figure, floor, goal)
    ("BM_AperturaCierre_SinCifrado", "1 open+close, no TLS", "db-lib dbopen+dbclose", "<= 1.1"),
    ("BM_AperturaCierre_CifradoLogin", "1 open+close, login in TLS", "db-lib dbopen+dbclose", "<= 1.03"),
    ("BM_Clic", "2 click, both passes painted", "2 db-lib logins", "<= 1.25"),
    ("BM_Fallo_PuertoCerrado", "3 refused port, per pass", "db-lib failure", "<= 1.2, < 50 ms"),
    ("BM_Fallo_HostDesconocido", "3 unknown host, per pass", "db-lib failure", "<= 1.2, < 50 ms"),
    ("BM_Arranque", "4 start to window shown", "bare Qt window", "<= 1.2"),
]

resultados = {}
for ruta in sys.argv[1:]:
    with open(ruta) as f:
        for b in json.load(f)["benchmarks"]:
            resultados[b["name"].split("/")[0]] = b

print(f"{'Figure':<32} {'Tarpelino':>11} {'Floor':>11}  {'Ratio':>6}  {'Goal':<16} Floor is")
for nombre, figura, suelo, meta in FILAS:
    b = resultados.get(nombre)
    if not b or "error_message" in b:
        print(f"{figura:<32} {'failed: ' + (b or {}).get('error_message', 'not run')}")
        continue
    print(f"{figura:<32} {b['componente_ms']:>8.2f} ms {b['suelo_ms']:>8.2f} ms  {b['razon']:>5.2f}x  {meta:<16} {suelo}")

m = resultados.get("BM_Memoria")
if not m or "error_message" in m:
    print(f"{'5 memory':<32} failed: {(m or {}).get('error_message', 'not run')}")
else:
    print(f"{'5 RSS after 1000 vs 10 clicks':<32} {m['rss_1000_kB'] / 1024:>8.1f} MB {m['rss_10_kB'] / 1024:>8.1f} MB"
          f"  {m['crecimiento']:>5.2f}x  {'1.00 (no growth)':<16} same window, 10 clicks")
    print(f"{'5 RSS after 1000 clicks vs Qt':<32} {m['rss_1000_kB'] / 1024:>8.1f} MB {m['rss_qt_kB'] / 1024:>8.1f} MB"
          f"  {m['razon']:>5.2f}x  {'<= 1.3':<16} bare Qt window")
print("Times are medians; ratios are medians of per-round ratios, both sides interleaved in one process.")
