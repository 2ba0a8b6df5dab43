// Runs any WASI command as wad3.mjs runs wad3.wasm, for the tests built for wasm32:
//   node wasi-run.mjs PROGRAM.wasm ARGS...
import { runWasi } from './wad3.mjs';

process.exitCode = await runWasi(process.argv[2], process.argv.slice(3));
