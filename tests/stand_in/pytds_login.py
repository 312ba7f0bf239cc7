#!/usr/bin/python3
"""Logs in to the stand-in with pytds, an independent TDS client, and prints one result line:
OK <LOGINACK version in hex> <database>   or   ERROR <message number> <message text>
"""
import argparse
import sys

import pytds
import pytds.tds_base

VERSIONS = {"7.2": pytds.tds_base.TDS72, "7.3": pytds.tds_base.TDS73B, "7.4": pytds.tds_base.TDS74}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--database", default="")
    parser.add_argument("--tds", choices=VERSIONS, required=True)
    parser.add_argument("--cafile", help="trust this certificate and ask for encryption")
    parser.add_argument("--login-only", action="store_true", help="with --cafile: encrypt the login only")
    args = parser.parse_args()

    options = dict(server="127.0.0.1", port=args.port, user=args.user, password=args.password,
                   database=args.database or None, tds_version=VERSIONS[args.tds], login_timeout=5,
                   autocommit=True, disable_connect_retry=True)
    if args.cafile:
        options.update(cafile=args.cafile, validate_host=False, enc_login_only=args.login_only)
    try:
        with pytds.connect(**options) as conn:
            print("OK %08x %s" % (conn.tds_version, conn._conn.env.database))
    except pytds.Error as error:
        print("ERROR %s %s" % (getattr(error, "number", 0), " ".join(str(error).split())))
    sys.stdout.flush()


if __name__ == "__main__":
    main()
