#!/usr/bin/env python3
"""Merges the JSON Lines of tarpelino-lote from several jump hosts into one report.

  informe_lote.py --entrada CARPETA --salida CARPETA EQUIPO...

Reads each host's CARPETA/EQUIPO.jsonl (as the playbook fetches them) and writes into the --salida one:
  informe.jsonl  every server's object as the host wrote it, with "equipo" (the host that ran it)
                 first; hosts in the order given, each host's rows in its own order
  resumen.json   the servers counted (in all and per host) and, per generation, how many passes
                 logged in, how many failed for each causa and how many of those were not made
  resumen.txt    the same summary, worded as the end of tarpelino-lote's table

Exit status 0, or 1 with a message in Spanish when an input cannot be read or is not what
tarpelino-lote --formato jsonl writes.
"""
import argparse
import json
import os
import sys

NO_INTENTADA = "No intentada."


class ErrorInforme(Exception):
    pass


def lee_equipo(equipo, ruta):
    """The rows of one host's file, each with "equipo" added first."""
    filas = []
    try:
        with open(ruta, encoding="utf-8") as archivo:
            for numero, linea in enumerate(archivo, 1):
                if not linea.strip():
                    continue
                try:
                    objeto = json.loads(linea)
                except ValueError as error:
                    raise ErrorInforme(f"{ruta}, línea {numero}: no es JSON ({error}).") from None
                if not isinstance(objeto, dict) or not isinstance(objeto.get("servidor"), str):
                    raise ErrorInforme(f"{ruta}, línea {numero}: no es una fila de tarpelino-lote "
                                       "(falta «servidor»).")
                if "equipo" in objeto:
                    raise ErrorInforme(f"{ruta}, línea {numero}: ya tiene «equipo».")
                filas.append({"equipo": equipo, **objeto})
    except OSError as error:
        raise ErrorInforme(f"No se pudo leer el informe de {equipo} ({ruta}): {error.strerror}.") from None
    except UnicodeDecodeError:
        raise ErrorInforme(f"{ruta}: no está en UTF-8.") from None
    return filas


def pasadas(fila):
    """(generation, pass) for each generation of a row: the objects that carry a verdict."""
    return [(clave, valor) for clave, valor in fila.items()
            if isinstance(valor, dict) and isinstance(valor.get("correcta"), bool)]


def resumen(equipos, filas):
    por_equipo = {equipo: 0 for equipo in equipos}
    generaciones = {}
    for fila in filas:
        por_equipo[fila["equipo"]] += 1
        for generacion, pasada in pasadas(fila):
            cuenta = generaciones.setdefault(
                generacion, {"servidores": 0, "correctas": 0, "fallos": {}, "no_intentadas": {}})
            cuenta["servidores"] += 1
            if pasada["correcta"]:
                cuenta["correctas"] += 1
                continue
            causa = pasada.get("causa") or "interno"
            cuenta["fallos"][causa] = cuenta["fallos"].get(causa, 0) + 1
            if pasada.get("veredicto") == NO_INTENTADA:
                cuenta["no_intentadas"][causa] = cuenta["no_intentadas"].get(causa, 0) + 1
    for cuenta in generaciones.values():
        # The commonest cause first, then by name, so that two runs of the same estate read alike.
        cuenta["fallos"] = dict(sorted(cuenta["fallos"].items(), key=lambda par: (-par[1], par[0])))
    return {"servidores": len(filas), "equipos": por_equipo, "generaciones": generaciones}


def plural(n, singular, varios):
    return f"{n} {singular if n == 1 else varios}"


def texto(r):
    equipos = ", ".join(f"{equipo}: {n}" for equipo, n in r["equipos"].items())
    lineas = [f"Resumen de {plural(r['servidores'], 'servidor', 'servidores')} ({equipos}):"]
    ancho = max((len(g) for g in r["generaciones"]), default=0)
    for generacion, cuenta in r["generaciones"].items():
        linea = f"{generacion:<{ancho}}  {plural(cuenta['correctas'], 'correcta', 'correctas')}"
        fallidas = sum(cuenta["fallos"].values())
        if fallidas:
            causas = []
            for causa, n in cuenta["fallos"].items():
                no = cuenta["no_intentadas"].get(causa, 0)
                # Those of an account already refused are all so: saying it adds nothing.
                extra = f" ({plural(no, 'no intentada', 'no intentadas')})" if no and causa != "cuenta_protegida" else ""
                causas.append(f"{n} {causa}{extra}")
            linea += f"; {plural(fallidas, 'fallida', 'fallidas')}: " + ", ".join(causas)
        lineas.append(linea)
    return "\n".join(lineas) + "\n"


def escribe(ruta, contenido):
    # Written beside and renamed, so that a reader never sees half a report.
    temporal = ruta + ".tmp"
    with open(temporal, "w", encoding="utf-8") as archivo:
        archivo.write(contenido)
    os.replace(temporal, ruta)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--entrada", required=True)
    parser.add_argument("--salida", required=True)
    parser.add_argument("equipos", nargs="+", metavar="EQUIPO")
    args = parser.parse_args()
    try:
        if len(set(args.equipos)) != len(args.equipos):
            raise ErrorInforme("Un equipo aparece dos veces.")
        filas = [fila for equipo in args.equipos
                 for fila in lee_equipo(equipo, os.path.join(args.entrada, equipo + ".jsonl"))]
        r = resumen(args.equipos, filas)
        os.makedirs(args.salida, exist_ok=True)
        escribe(os.path.join(args.salida, "informe.jsonl"),
                "".join(json.dumps(fila, ensure_ascii=False) + "\n" for fila in filas))
        escribe(os.path.join(args.salida, "resumen.json"), json.dumps(r, ensure_ascii=False, indent=2) + "\n")
        escribe(os.path.join(args.salida, "resumen.txt"), texto(r))
    except ErrorInforme as error:
        print(f"informe_lote.py: {error}", file=sys.stderr)
        return 1
    except OSError as error:
        print(f"informe_lote.py: no se pudo escribir en {args.salida}: {error.strerror}.", file=sys.stderr)
        return 1
    sys.stdout.write(texto(r))
    return 0


if __name__ == "__main__":
    sys.exit(main())
