#!/usr/bin/node
// The peer's side of `bench.sh lote`: the two logins per server that tarpelino-lote makes (TDS 7.2,
// then TDS 7.3 with the same login, into MASTER), made by tedious in this one Node process with
// asynchronous I/O, at most --paralelo servers at once. Servers come one "host,port" a line on
// standard input; the password from TARPELINO_PASSWORD. Prints one JSON line: how many logins
// of each TDS version went through and the first few errors.
'use strict';

process.noDeprecation = true;

const path = require('path');
const { parseArgs } = require('util');

const { values: args } = parseArgs({
  options: {
    tedious: { type: 'string' }, // the folder whose node_modules holds tedious
    usuario: { type: 'string' },
    paralelo: { type: 'string', default: '8' },
    tiempo: { type: 'string', default: '2' }, // seconds per login, as tarpelino-lote's --tiempo
  },
});

const tedious = require(path.join(args.tedious, 'node_modules', 'tedious'));
const password = process.env.TARPELINO_PASSWORD || '';

function login(host, port, tdsVersion) {
  return new Promise((resolve) => {
    const connection = new tedious.Connection({
      server: host,
      authentication: { type: 'default', options: { userName: args.usuario, password } },
      options: {
        port,
        database: 'MASTER',
        tdsVersion,
        encrypt: false,
        trustServerCertificate: true,
        connectTimeout: Number(args.tiempo) * 1000,
      },
    });
    let done = false;
    const finish = (error) => {
      if (done)
        return;
      done = true;
      resolve(error ? String(error.code || error.message) : null);
    };
    connection.on('error', finish);
    connection.connect((error) => {
      connection.close();
      finish(error);
    });
  });
}

async function main() {
  const input = require('fs').readFileSync(0, 'utf8');
  const servers = input.split('\n').filter((l) => l.trim() !== '').map((l) => {
    const [host, port] = l.trim().split(',');
    return { host, port: Number(port) };
  });
  const versions = ['7_2', '7_3_B'];
  const result = { servidores: servers.length, correctas: { '7_2': 0, '7_3_B': 0 }, errores: [] };
  let next = 0;
  async function worker() {
    while (next < servers.length) {
      const s = servers[next++];
      for (const v of versions) {
        const error = await login(s.host, s.port, v);
        if (error === null)
          result.correctas[v]++;
        else if (result.errores.length < 5)
          result.errores.push(`${s.host},${s.port} ${v}: ${error}`);
      }
    }
  }
  const workers = [];
  for (let i = 0; i < Math.min(Number(args.paralelo), servers.length); i++)
    workers.push(worker());
  await Promise.all(workers);
  process.stdout.write(JSON.stringify(result) + '\n');
}

main();
