#!/usr/bin/env node
// wad3 for anyone with Node 18 or later: runs wad3.wasm, beside this file, under Node's WASI.
//   node wad3.mjs package.wad
// The program sees the current folder, where it writes the images, and the folder of each
// argument that names a path, by the name the argument gives it; nothing else. (This WASI
// drops a leading "/" or "./" from the names of those folders and of the paths it opens, so
// the root folder would pass for the current one: a package right in it is not found.)
import { realpathSync } from 'node:fs';
import { readFile, stat } from 'node:fs/promises';
import { dirname, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

// Runs the WASI command in file `wasm` with `args`; resolves to its exit status.
export async function runWasi(wasm, args) {
  // Node says that its WASI is experimental on standard error, where the program writes nothing.
  process.removeAllListeners('warning');
  const { WASI } = await import('node:wasi');
  const preopens = { '.': process.cwd() };
  for (const arg of args) {
    const folder = dirname(arg);
    const root = folder.replace(/^(\.?\/)+/, '') === '';
    if (!(folder in preopens) && !root && (await isFolder(folder))) preopens[folder] = resolve(folder);
  }
  const wasi = new WASI({ version: 'preview1', args: ['wad3', ...args], env: {}, preopens, returnOnExit: true });
  const module = await WebAssembly.compile(await readFile(wasm));
  const instance = await WebAssembly.instantiate(module, { wasi_snapshot_preview1: wasi.wasiImport });
  return wasi.start(instance);
}

// Run as a command, also through a link to this file (npm's bin/wad3), not when imported.
function isCommand() {
  try {
    return realpathSync(process.argv[1]) === fileURLToPath(import.meta.url);
  } catch {
    return false;  // no script named (node -e), or one that is gone
  }
}

async function isFolder(path) {
  try {
    return (await stat(path)).isDirectory();
  } catch {
    return false;
  }
}

if (isCommand()) {
  const here = dirname(fileURLToPath(import.meta.url));
  try {
    process.exitCode = await runWasi(resolve(here, 'wad3.wasm'), process.argv.slice(2));
  } catch (error) {  // a program that traps ends as one that aborts
    console.error(`wad3.wasm stopped: ${error.message}`);
    process.exitCode = 134;
  }
}
