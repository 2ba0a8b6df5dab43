// One package through wad3.wasm, in memory: the package lies in a folder of its own, "..", and
// the program writes into ".", as `cd textures && wad3 ../package.wad` does. Its lines, and each
// image once written, are handed on as they come; nothing is kept once the run has ended.
import { Fd, File, OpenFile, PreopenDirectory, WASI, wasi as defs } from '@bjorn3/browser_wasi_shim';

import { byteString } from './names.js';
import { pcxSize } from './pcx.js';
import { crc32 } from './zip.js';

// What the file holds, as the program will walk it, for the progress bar, the section's words and
// how its pictures are drawn: { kind, textures }, textures being the pictures it will write, and
// for a map `named`, the textures it only names (a package holds them), for a model and a sprite
// `looks`, each picture's look (png.js); { textures: 0 } for any other file.
//   package: "WAD3", u32 entries, u32 directory position; directory: 32 bytes an entry, the type
//            at 12, 'C' for a texture
//   map: u32 30, then 15 lumps of u32 position and u32 length, the textures' lump 2 at 20; that
//        lump: u32 count, then count u32 offsets from its start (0xFFFFFFFF: none) to texture
//        headers, whose offsets[0], at 24, is 0 where the map only names the texture
//   model: "IDST", u32 10, ... u32 numtextures at 180, u32 textureindex at 184: records of 80
//          bytes, u32 flags at 64 (0x40: masked), width at 68, height at 72
//   sprite: "IDSP", u32 2, u32 type, u32 format at 12 (0 normal, 1 additive, 2 index-alpha,
//           3 alpha-test), u32 frames at 28, u16 palette entries at 40 and the palette; then each
//           frame: u32 0 and a picture, or u32 1, u32 count, count u32 intervals and the pictures;
//           a picture: 2 u32 origins, u32 width, u32 height, its pixels
export function contents(source) {
  const word = (at) => {
    const bytes = readFully(source, at, 4);
    return bytes.length < 4 ? undefined : new DataView(bytes.buffer, bytes.byteOffset, 4).getUint32(0, true);
  };
  const size = source.size;
  if (size < 12) return { textures: 0 };
  const [magic, version] = [word(0), word(4)];
  if (magic === 0x33444157) {
    const directory = word(8);
    const entries = Math.min(version, Math.max(0, Math.floor((size - directory) / 32)));
    let textures = 0;
    for (let k = 0; k < entries; k += 4096) {  // a slice of the directory at a time
      const slice = readFully(source, directory + 32 * k, 32 * Math.min(4096, entries - k));
      for (let at = 12; at < slice.length; at += 32) textures += slice[at] === 0x43;
    }
    return { kind: 'package', textures };
  }
  if (magic === 30 && size >= 124) {
    const [lump, length] = [word(20), word(24)], counted = { kind: 'map', textures: 0, named: 0 };
    if (lump + length > size || length < 4 || 4 + 4 * word(lump) > length) return counted;
    for (let k = 0, count = word(lump); k < count; ++k) {
      const offset = word(lump + 4 + 4 * k);
      if (offset === 0xffffffff || lump + offset + 40 > size) continue;
      if (word(lump + offset + 24) === 0) ++counted.named;
      else ++counted.textures;
    }
    return counted;
  }
  if (magic === 0x54534449 && version === 10 && size >= 244) {
    const [count, table] = [word(180), word(184)];
    if (table + 80 * count > size) return { kind: 'model', textures: 0, looks: [] };
    const looks = Array.from({ length: count }, (_, k) => (word(table + 80 * k + 64) & 0x40 ? 'masked' : 'opaque'));
    return { kind: 'model', textures: count, looks };
  }
  if (magic === 0x50534449 && version === 2 && size >= 42) {
    const look = { 2: 'indexalpha', 3: 'masked' }[word(12)] ?? 'opaque';
    let at = 42 + 3 * (word(40) & 0xffff), textures = 0;
    for (let frame = 0, frames = word(28); frame < frames && at + 4 <= size; ++frame) {
      const pictures = word(at) === 1 ? word(at + 4) ?? 0 : 1;
      at += word(at) === 1 ? 8 + 4 * pictures : 4;
      for (let k = 0; k < pictures && at + 16 <= size; ++k, ++textures) at += 16 + word(at + 8) * word(at + 12);
    }
    return { kind: 'sprite', textures, looks: new Array(textures).fill(look) };
  }
  return { textures: 0 };
}

// The `length` bytes at `at`, or as many of them as the file holds: a source may give fewer than
// asked where one of its windows ends.
function readFully(source, at, length) {
  const first = source.read(at, length);
  if (first.length === length || first.length === 0) return first;
  const whole = new Uint8Array(Math.min(length, Math.max(0, source.size - at)));
  let done = 0;
  for (let part = first; part.length > 0 && done < whole.length; part = source.read(at + done, whole.length - done)) {
    whole.set(part.subarray(0, whole.length - done), done);
    done += part.length;
  }
  return whole.subarray(0, done);
}

// A package held in memory, as a source: its size, and read(at, length) giving the bytes there.
export function memorySource(bytes) {
  return { size: bytes.length, read: (at, length) => bytes.subarray(at, at + length) };
}

// A package still on disk, read through FileReaderSync (in a worker) a window of 16 MiB at a time
// (smaller reads cost browsers more), the last four windows kept: the program reads the directory
// and the textures it points at by turns, each mostly in order, and never needs the whole package
// in memory.
export function fileSource(file, reader) {
  const kWindow = 32 << 20, kKept = 3;
  const windows = [];  // { at, bytes }, the last used first
  const window = (at) => {
    const start = at - (at % kWindow);
    let found = windows.findIndex((w) => w.at === start);
    if (found < 0) {
      windows.unshift({ at: start, bytes: new Uint8Array(reader.readAsArrayBuffer(file.slice(start, start + kWindow))) });
      windows.length = Math.min(windows.length, kKept);
      found = 0;
    }
    if (found > 0) windows.unshift(...windows.splice(found, 1));
    return windows[0];
  };
  return {
    size: file.size,
    read(at, length) {  // may give fewer bytes than asked, where a window ends
      if (at >= file.size || length === 0) return new Uint8Array(0);
      const { at: start, bytes } = window(at);
      return bytes.subarray(at - start, at - start + length);
    },
  };
}

// Standard output, taken as bytes. A terminal to the program, so that it writes each line as it
// prints it.
class Log extends Fd {
  constructor(write) {
    super();
    this.write = write;
  }
  fd_write(data) {
    this.write(data.slice());
    return { ret: defs.ERRNO_SUCCESS, nwritten: data.byteLength };
  }
  fd_fdstat_get() {
    const fdstat = new defs.Fdstat(defs.FILETYPE_CHARACTER_DEVICE, 0);
    fdstat.fs_rights_base = BigInt(defs.RIGHTS_FD_WRITE);
    return { ret: defs.ERRNO_SUCCESS, fdstat };
  }
}

// The package, read-only, from its source. The shim's files hand out a copy of every run of bytes
// read, which the shim then copies into the program's memory; these hand out the bytes themselves.
// A read the browser refuses (the file changed or went away since it was chosen) is the program's
// read error, as a failing disk is to the native program.
class Package extends File {
  constructor(source) {
    super(new ArrayBuffer(0), { readonly: true });
    this.source = source;
  }
  get size() {
    return BigInt(this.source.size);
  }

  path_open(oflags, rights, fdflags) {
    const opened = super.path_open(oflags, rights, fdflags);
    if (opened.fd_obj) opened.fd_obj = new PackageReader(this);
    return opened;
  }
}

class PackageReader extends OpenFile {
  fd_read(size) {
    let bytes;
    try {
      bytes = this.file.source.read(Number(this.file_pos), size);
    } catch {
      return { ret: defs.ERRNO_IO, data: new Uint8Array(0) };
    }
    this.file_pos += BigInt(bytes.length);
    return { ret: defs.ERRNO_SUCCESS, data: bytes };
  }
}

// An image the program writes. The shim's files copy their bytes whole at every write that makes
// them longer, which would take a large image time quadratic in its size; these are written into
// one scratch buffer, grown by doubling and kept from image to image: the program writes one image
// at a time and closes it before it makes the next, and each is handed on at its close, to be
// copied before the next is written. (A buffer an image would leave the worker tens of thousands
// to collect, and the browser's memory twice the images'.)
let scratch = new ArrayBuffer(1 << 20);

class Image extends File {
  path_open(oflags, rights, fdflags) {
    const opened = super.path_open(oflags, rights, fdflags);
    if (opened.fd_obj) opened.fd_obj = Object.assign(new ImageWriter(this), { file_pos: opened.fd_obj.file_pos });
    return opened;
  }
}

class ImageWriter extends OpenFile {
  fd_write(bytes) {
    const at = Number(this.file_pos), end = Math.max(at + bytes.length, this.file.data.length);
    if (end > scratch.byteLength) {
      const grown = new ArrayBuffer(Math.max(end, 2 * scratch.byteLength));
      new Uint8Array(grown).set(this.file.data);
      scratch = grown;
    } else if (this.file.data.buffer !== scratch) {
      new Uint8Array(scratch).set(this.file.data);  // what it held before this run of writes
    }
    this.file.data = new Uint8Array(scratch, 0, end);
    this.file.data.set(bytes, at);
    this.file_pos += BigInt(bytes.length);
    return { ret: defs.ERRNO_SUCCESS, nwritten: bytes.length };
  }
}

// Runs the compiled program on the package, map, model or sprite `name` (its bytes in `source`,
// as memorySource or fileSource give them) and calls post with, in order: { type: 'start', ... }
// with what contents() finds in it;
// { type: 'log', bytes } for every write to standard output;
// { type: 'image', name, pcx, crc, width, height } for each image once its file is closed, name as
// a byte string, pcx its bytes (valid until post returns: copy them), width and height undefined
// where it is no PCX file; and last { type: 'end', status, names }, the exit status and the names
// of the files left. A program that traps ends with status null and its error.
export function convert(program, name, source, post) {
  let counted = { textures: 0 };
  try {
    counted = contents(source);
  } catch {}  // unreadable: the program says so
  post({ type: 'start', ...counted });
  const output = new PreopenDirectory('.', new Map());
  const packageName = byteString(new TextEncoder().encode(name));  // as the program reads argv
  const input = new PreopenDirectory('..', new Map([[packageName, new Package(source)]]));
  const log = new Log((bytes) => post({ type: 'log', bytes }));  // standard error too: it has none
  const fds = [new Fd(), log, log, output, input];
  const runner = new WASI(['wad3', `../${name}`], [], fds, { debug: false });
  const images = new Map();  // each open file the program made, by its name
  keepNameBytes(runner, output, images);
  const close = runner.wasiImport.fd_close;
  runner.wasiImport.fd_close = (fd) => {
    const file = runner.fds[fd];
    const result = close(fd);
    if (file instanceof OpenFile && images.has(file)) {
      postImage(images.get(file), file.file, post);
      images.delete(file);
    }
    return result;
  };
  let status = null, error;
  try {
    status = runner.start(new WebAssembly.Instance(program, { wasi_snapshot_preview1: runner.wasiImport }));
  } catch (e) {
    error = `the program stopped (${e})`;
  }
  post({ type: 'end', status, error, names: [...output.dir.contents.keys()] });
}

function postImage(name, file, post) {
  const pcx = file.data;  // its bytes alone, without the room it had to grow
  post({ type: 'image', name, pcx, crc: crc32(pcx), ...pcxSize(pcx) });
}

// The shim reads every path as UTF-8, which makes U+FFFD of each byte above 0x7F that is not
// part of a character, so that two names could become one file. Here each byte is a character
// of its own, and each name stays its bytes. The program opens, and removes, nothing else.
function keepNameBytes(runner, output, images) {
  const imports = runner.wasiImport;
  const path = (at, length) => byteString(new Uint8Array(runner.inst.exports.memory.buffer, at, length));
  imports.path_open = (fd, dirflags, at, length, oflags, base, inheriting, fdflags, opened) => {
    const folder = runner.fds[fd];
    if (folder === undefined) return defs.ERRNO_BADF;
    const name = path(at, length), file = name.slice(name.lastIndexOf('/') + 1);
    if (folder === output && oflags & defs.OFLAGS_CREAT && !output.dir.contents.has(file)) {
      output.dir.contents.set(file, new Image(new ArrayBuffer(0)));
    }
    const { ret, fd_obj } = folder.path_open(dirflags, name, oflags, base, inheriting, fdflags);
    if (ret !== defs.ERRNO_SUCCESS) return ret;
    if (folder === output && fd_obj instanceof OpenFile) images.set(fd_obj, file);
    runner.fds.push(fd_obj);
    new DataView(runner.inst.exports.memory.buffer).setUint32(opened, runner.fds.length - 1, true);
    return defs.ERRNO_SUCCESS;
  };
  // An image's bytes go from the program's memory into its file once, not through a copy of each.
  const write = imports.fd_write;
  imports.fd_write = (fd, iovecs, count, written) => {
    const file = runner.fds[fd];
    if (!(file instanceof ImageWriter)) return write(fd, iovecs, count, written);
    const view = new DataView(runner.inst.exports.memory.buffer);
    let total = 0;
    for (let k = 0; k < count; ++k) {
      const at = view.getUint32(iovecs + 8 * k, true), length = view.getUint32(iovecs + 8 * k + 4, true);
      total += file.fd_write(new Uint8Array(runner.inst.exports.memory.buffer, at, length)).nwritten;
    }
    view.setUint32(written, total, true);
    return defs.ERRNO_SUCCESS;
  };
  imports.path_unlink_file = (fd, at, length) =>
    runner.fds[fd] === undefined ? defs.ERRNO_BADF : runner.fds[fd].path_unlink_file(path(at, length));
}
