// `wad3 --make` through wad3.wasm, in memory, in the worker: the inputs lie in "." at their
// paths (a folder's files below its name), and the package is written there beside them, as
// `wad3 --make NAME.wad INPUT...` run in a folder holding them does. The package made is then
// walked by the program itself, to hand back each of its textures as a PCX file for the page to
// draw.
import { Directory, Fd, File, OpenFile, PreopenDirectory, WASI, wasi as defs } from '@bjorn3/browser_wasi_shim';

import { convert, memorySource } from './convert.js';

// Standard output gathered as text; the program's lines are ASCII but for the paths it echoes.
class Lines extends Fd {
  constructor() {
    super();
    this.parts = [];
  }
  fd_write(data) {
    this.parts.push(data.slice());
    return { ret: defs.ERRNO_SUCCESS, nwritten: data.byteLength };
  }
  fd_fdstat_get() {
    return { ret: defs.ERRNO_SUCCESS, fdstat: new defs.Fdstat(defs.FILETYPE_CHARACTER_DEVICE, 0) };
  }
  text() {
    return new TextDecoder().decode(concat(this.parts));
  }
}

function concat(parts) {
  const whole = new Uint8Array(parts.reduce((sum, part) => sum + part.length, 0));
  parts.reduce((at, part) => (whole.set(part, at), at + part.length), 0);
  return whole;
}

// The folder "." holding each input ({ path, bytes }) at its path.
function tree(inputs) {
  const root = new Map();
  for (const { path, bytes } of inputs) {
    const parts = path.split('/');
    let folder = root;
    for (const part of parts.slice(0, -1)) {
      if (!folder.has(part)) folder.set(part, new Directory(new Map()));
      folder = folder.get(part).contents;
    }
    folder.set(parts.at(-1), new File(bytes, { readonly: true }));
  }
  return new PreopenDirectory('.', root);
}

// The package being written (NAME.part, renamed over NAME once whole). The shim's files copy
// themselves whole at every write that makes them longer, quadratic in a package's size; this one
// grows by doubling, and its data is always the bytes written.
class Part extends File {
  path_open(oflags, rights, fdflags) {
    const opened = super.path_open(oflags, rights, fdflags);
    if (opened.fd_obj) opened.fd_obj = new PartWriter(this);
    return opened;
  }
}

class PartWriter extends OpenFile {
  fd_write(bytes) {
    const at = Number(this.file_pos), end = Math.max(at + bytes.length, this.file.data.length);
    if (end > this.file.data.buffer.byteLength) {
      const grown = new Uint8Array(Math.max(end, 2 * this.file.data.buffer.byteLength, 1 << 16));
      grown.set(this.file.data);
      this.file.data = grown.subarray(0, this.file.data.length);
    }
    this.file.data = new Uint8Array(this.file.data.buffer, 0, end);
    this.file.data.set(bytes, at);
    this.file_pos += BigInt(bytes.length);
    return { ret: defs.ERRNO_SUCCESS, nwritten: bytes.length };
  }
}

// Runs `wad3 --make [OPTION...] name inputs...`; { status, lines, bytes }, bytes the file's
// where it was written, status null and error where the program trapped.
export function make(program, { name, dither, options = [], inputs }) {
  const folder = tree(inputs), lines = new Lines();
  if (!folder.dir.contents.has(`${name}.part`)) folder.dir.contents.set(`${name}.part`, new Part(new ArrayBuffer(0)));
  const args = ['wad3', '--make', ...options, ...(dither ? ['--dither'] : []), argument(name), ...inputs.map(({ path }) => argument(path))];
  const runner = new WASI(args, [], [new Fd(), lines, lines, folder], { debug: false });
  let status = null, error;
  try {
    status = runner.start(new WebAssembly.Instance(program, { wasi_snapshot_preview1: runner.wasiImport }));
  } catch (e) {
    error = `the program stopped (${e})`;
  }
  const written = status === 0 ? folder.dir.contents.get(name) : undefined;
  return { status, error, lines: asGiven(lines.text()), bytes: written?.data ?? null };
}

// A path the program would take for an option (-x.png) is given to it as ./-x.png; its lines
// name it as the page gave it.
const argument = (path) => (path.startsWith('-') ? `./${path}` : path);
const asGiven = (text) => text.replace(/(^| : | from | to )\.\/-/gm, '$1-');

// The pictures of the file `bytes` as the program extracts them: [{ name, pcx, width, height,
// look }], look where the file says how the game draws it (a model's skins, a sprite's frames).
export function texturesOf(program, name, bytes) {
  const textures = [];
  let looks;
  convert(program, name, memorySource(bytes), (report) => {
    if (report.type === 'start') looks = report.looks;
    if (report.type === 'image') textures.push({ ...report, pcx: report.pcx.slice(), look: looks?.[textures.length] });
  });
  return textures;
}

// The textures named `names` (their PCX files' names, as byte strings) of one package or map
// `path`, copied exactly as `wad3 --make` copies them: { status, lines, copied }, copied holding,
// for each name found, { name, directory, lump }: its directory entry (32 bytes) and its lump as the
// made package lays it out, which holds no offset outside itself.
//   package: "WAD3", u32 entries, u32 directory position; directory: 32 bytes an entry, u32
//            position, u32 size on disk, u32 size, u8 type, u8 compression, u16 0, name[16]
export function copies(program, { path, bytes, names }) {
  const kName = 'copies.wad';
  let run;
  try {
    run = make(program, { name: kName, dither: false, inputs: [{ path, bytes }] });
  } catch (error) {
    return { status: null, error: `the program stopped (${error})`, lines: '' };
  }
  if (!run.bytes) return { status: run.status, error: run.error, lines: run.lines, copied: [] };
  const made = run.bytes, view = new DataView(made.buffer, made.byteOffset, made.length);
  const wanted = new Set(names), copied = [];
  for (let k = 0, count = view.getUint32(4, true), at = view.getUint32(8, true); k < count; ++k, at += 32) {
    const raw = made.subarray(at + 16, at + 32), name = String.fromCharCode(...raw.subarray(0, raw.indexOf(0) < 0 ? 16 : raw.indexOf(0)));
    if (!wanted.has(`${name}.pcx`)) continue;
    const from = view.getUint32(at, true), size = view.getUint32(at + 4, true);
    copied.push({ name: `${name}.pcx`, directory: made.slice(at, at + 32), lump: made.slice(from, from + size) });
  }
  return { status: run.status, lines: run.lines, copied };
}
