// The rows of the PNG files of a zip, filtered and deflated by wad3.wasm's own code (PngRows,
// src/pngrows.cpp), some four times as fast as deflating them in JavaScript; what the page draws
// and the picture saved alone are made in JavaScript (png.js).
import { wasi as defs } from '@bjorn3/browser_wasi_shim';

// Called without a run: an instance whose calls out of it all fail (EBADF), which its C
// library's start-up takes as no folder given.
let deflater = null;

// The zlib streams of the rows of the PCX files at `pictures` ({ at, length }) in `pcx`, made by
// the compiled `program`, each { zlib, crc } (crc its CRC-32) or undefined where it made none; or
// null where it cannot.
export function pngRows(program, pcx, pictures) {
  if (!deflater) {
    const calls = WebAssembly.Module.imports(program).filter((one) => one.kind === 'function');
    const refused = Object.fromEntries(calls.map(({ name }) => [name, () => defs.ERRNO_BADF]));
    deflater = new WebAssembly.Instance(program, { wasi_snapshot_preview1: refused }).exports;
  }
  const at = deflater.png_input(pcx.length + 8 * pictures.length);
  if (at === 0) return null;
  new Uint8Array(deflater.memory.buffer, at, pcx.length).set(pcx);
  const table = new DataView(deflater.memory.buffer, at + pcx.length, 8 * pictures.length);
  pictures.forEach(({ at: from, length }, k) => {
    table.setUint32(8 * k, from, true);
    table.setUint32(8 * k + 4, length, true);
  });
  const total = deflater.png_batch(pcx.length, pictures.length);
  if (total === 0) return null;
  const made = new Uint8Array(deflater.memory.buffer, deflater.png_output(), total).slice(), view = new DataView(made.buffer);
  const streams = [];
  for (let from = 0; streams.length < pictures.length; ) {
    const length = view.getUint32(from, true), crc = view.getUint32(from + 4, true);
    streams.push(length > 0 ? { zlib: made.subarray(from + 8, from + 8 + length), crc } : undefined);
    from += 8 + length;
  }
  return streams;
}
