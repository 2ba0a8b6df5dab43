// The PNG files the page saves, made by wad3.wasm's own PNG writer (src/png.cpp, the one `wad3
// --png` writes with), so that a picture saved from the page is the same bytes as the program's
// file; the quick picture drawn on the screen is made in JavaScript (png.js).
import { wasi as defs } from '@bjorn3/browser_wasi_shim';

// The looks as the program numbers them (LOOK in src/png.h).
const kLooks = { opaque: 0, masked: 1, decal: 2, indexalpha: 3 };

// Called without a run: an instance whose calls out of it all fail (EBADF), which its C
// library's start-up takes as no folder given.
let writer = null;

// The PNG files of the PCX files at `pictures` ({ at, length, look }) in `pcx`, made by the
// compiled `program`, each { png, crc } (crc its CRC-32) or undefined where it made none (no PCX
// file the program writes, or one without pixels); or null where it cannot.
export function pngFiles(program, pcx, pictures) {
  if (!writer) {
    const calls = WebAssembly.Module.imports(program).filter((one) => one.kind === 'function');
    const refused = Object.fromEntries(calls.map(({ name }) => [name, () => defs.ERRNO_BADF]));
    writer = new WebAssembly.Instance(program, { wasi_snapshot_preview1: refused }).exports;
  }
  const at = writer.png_input(pcx.length + 12 * pictures.length);
  if (at === 0) return null;
  new Uint8Array(writer.memory.buffer, at, pcx.length).set(pcx);
  const table = new DataView(writer.memory.buffer, at + pcx.length, 12 * pictures.length);
  pictures.forEach(({ at: from, length, look }, k) => {
    table.setUint32(12 * k, from, true);
    table.setUint32(12 * k + 4, length, true);
    table.setUint32(12 * k + 8, kLooks[look] ?? kLooks.opaque, true);
  });
  const total = writer.png_batch(pcx.length, pictures.length);
  if (total === 0) return null;
  const made = new Uint8Array(writer.memory.buffer, writer.png_output(), total).slice(), view = new DataView(made.buffer);
  const files = [];
  for (let from = 0; files.length < pictures.length; ) {
    const length = view.getUint32(from, true), crc = view.getUint32(from + 4, true);
    files.push(length > 0 ? { png: made.subarray(from + 8, from + 8 + length), crc } : undefined);
    from += 8 + length;
  }
  return files;
}
