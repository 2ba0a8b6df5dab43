// Builds wad3.html, one page that holds the program, its worker, their libraries and styles, so
// that it works opened from disk, where a browser fetches no file and starts no worker from a
// file: URL, and from any static host.
//   node build.mjs WAD3.wasm VERSION OUT.html
// The worker's script becomes a string in the page's, which starts it from a Blob URL; the
// program is base64 in a block that is no script. Its Content-Security-Policy allows exactly
// that script and style (by their hashes), WebAssembly, the worker from a Blob and pictures
// from Blobs; no connection. The same sources give the same bytes.
import { createHash } from 'node:crypto';
import { readFile, writeFile } from 'node:fs/promises';
import { build } from 'esbuild';

const [wasmPath, version, outPath] = process.argv.slice(2);
const here = new URL('.', import.meta.url);

async function bundle(entry, define = {}) {
  const result = await build({
    entryPoints: [new URL(entry, here).pathname], bundle: true, write: false, format: 'iife',
    minify: true, target: 'es2020', legalComments: 'none', define, absWorkingDir: here.pathname,
  });
  return result.outputFiles[0].text.trim();
}

const hash = (text) => `'sha256-${createHash('sha256').update(text).digest('base64')}'`;

const wasm = await readFile(wasmPath);
const worker = await bundle('worker.js');
const script = await bundle('page.js', { WORKER_SOURCE: JSON.stringify(worker) });
if (/<\/script|<!--/i.test(script)) throw new Error('the script would end its own element');
const template = await readFile(new URL('page.html', here), 'utf8');
const style = template.match(/<style>([^]*?)<\/style>/)[1];
const csp = [
  "default-src 'none'", `script-src ${hash(script)} 'wasm-unsafe-eval'`, 'worker-src blob:',
  `style-src ${hash(style)}`, 'img-src blob:', "connect-src 'none'", "base-uri 'none'", "form-action 'none'",
].join('; ');
const licences = [];
for (const [name, file] of [['@bjorn3/browser_wasi_shim', '@bjorn3/browser_wasi_shim/LICENSE-MIT']]) {
  licences.push(`${name}:\n\n${(await readFile(new URL(`node_modules/${file}`, here), 'utf8')).trim()}`);
}
// stb_image, compiled into the program (Debian's libstb-dev): its licence closes its header.
const stb = await readFile('/usr/include/stb/stb_image.h', 'utf8');
const stbLicence = stb.slice(stb.lastIndexOf('This software is available under 2 licenses'), stb.lastIndexOf('*/')).trim();
if (!stbLicence.includes('MIT License')) throw new Error('stb_image.h carries no licence where it should');
licences.push(`stb_image, compiled into wad3.wasm:\n\n${stbLicence}`);
const licenceText = licences.join('\n\n\n');
if (licenceText.includes('-->')) throw new Error('a licence would end its comment');
// Each placeholder once, by a function, so that no $ in the replacement is read as a pattern.
const page = template
  .replace('@CSP@', () => csp)
  .replace('@VERSION@', () => version)
  .replace('@WASM@', () => wasm.toString('base64'))
  .replace('@SCRIPT@', () => script)
  .replace('@LICENCES@', () => licenceText);
await writeFile(outPath, page);
