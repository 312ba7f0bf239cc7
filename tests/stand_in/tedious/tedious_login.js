#!/usr/bin/node
// Logs in to the stand-in with tedious, an independent TDS client with Node's own TLS, and
// prints one JSON line: {"connected", "tdsVersion" (as acknowledged), "database", "messages",
// "error"}. Server ERROR tokens land in "messages" with the number, state and class tedious read.
// With --check-certificate it checks the server's certificate as a current driver does
// (encrypt: true, trustServerCertificate: false) against --server, and "error" is tedious' text,
// which names what Node's TLS refused; extra CAs come through NODE_EXTRA_CA_CERTS.
'use strict';

// Node warns about TLS ServerName being an IP address; the JSON line must be all the output.
process.noDeprecation = true;

const path = require('path');
const { parseArgs } = require('util');

const { values: args } = parseArgs({
  options: {
    port: { type: 'string' },
    user: { type: 'string' },
    password: { type: 'string' },
    database: { type: 'string', default: '' },
    tds: { type: 'string' }, // tedious' names: 7_2, 7_3_B, ...
    encrypt: { type: 'boolean', default: false },
    strict: { type: 'boolean', default: false }, // TDS 8.0 (encrypt: 'strict'): TLS first, ALPN tds/8.0
    server: { type: 'string', default: '127.0.0.1' },
    'check-certificate': { type: 'boolean', default: false },
  },
});

let tedious;
try {
  tedious = require(path.join(__dirname, 'node_modules', 'tedious'));
} catch (error) {
  console.log(JSON.stringify({ connected: false, error: 'tedious not installed: ' + error.message }));
  process.exit(3);
}

// In strict mode tedious ignores trustServerCertificate and checks the certificate against the server's
// name. The stand-in's, like the one SQL Server makes for itself, names no host: Node's own switch turns
// the check off, as trustServerCertificate does for the other modes. Its warning would break the
// one-line output.
if (args.strict) {
  process.removeAllListeners('warning');
  process.env.NODE_TLS_REJECT_UNAUTHORIZED = '0';
}

const checkCertificate = args['check-certificate'];
const connection = new tedious.Connection({
  server: args.server,
  authentication: { type: 'default', options: { userName: args.user, password: args.password } },
  options: {
    port: Number(args.port),
    database: args.database || undefined,
    tdsVersion: args.tds,
    encrypt: args.strict ? 'strict' : (args.encrypt || checkCertificate),
    // The stand-in's built-in certificate is self-signed.
    trustServerCertificate: !checkCertificate,
    connectTimeout: 5000,
  },
});

const result = { connected: false, tdsVersion: null, database: null, messages: [], error: null };
connection.on('databaseChange', (name) => { result.database = name; });
connection.on('errorMessage', (m) => {
  result.messages.push({ number: m.number, state: m.state, class: m.class, message: m.message });
});

let printed = false;
function report() {
  if (printed)
    return;
  printed = true;
  process.stdout.write(JSON.stringify(result) + '\n');
}

connection.connect((error) => {
  if (error) {
    result.error = checkCertificate ? error.message : (error.code || error.message);
  } else {
    result.connected = true;
    result.tdsVersion = connection.config.options.tdsVersion;
  }
  report();
  connection.close();
});
connection.on('end', report);
