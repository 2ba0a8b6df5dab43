// One package through wad3.wasm, in memory: the package lies in a folder of its own, "..", and
// the program writes into ".", as `cd textures && wad3 ../package.wad` does. Its lines, and each
// image once written, are handed on as they come; nothing is kept once the run has ended.
import { Fd, File, OpenFile, PreopenDirectory, WASI, wasi as defs } from '@bjorn3/browser_wasi_shim';

import { byteString } from './names.js';
import { pcxSize } from './pcx.js';
import { crc32 } from './zip.js';

// What the file holds, as the program will walk it, for the progress bar and the map's words:
// { textures } for a package, its directory's texture entries; { textures, named } for a map, the
// textures it carries and those it only names (a package holds them); { textures: 0 } else.
//   package: "WAD3", u32 entries, u32 directory position; directory: 32 bytes an entry, the type
//            at 12, 'C' for a texture
//   map: u32 30, then 15 lumps of u32 position and u32 length, the textures' lump 2 at 20; that
//        lump: u32 count, then count u32 offsets from its start (0xFFFFFFFF: none) to texture
//        headers, whose offsets[0], at 24, is 0 where the map only names the texture
export function contents(source) {
  const word = (at) => {
    const bytes = readFully(source, at, 4);
    return bytes.length < 4 ? undefined : new DataView(bytes.buffer, bytes.byteOffset, 4).getUint32(0, true);
  };
  if (source.size < 12) return { textures: 0 };
  if (word(0) === 0x33444157) {
    const directory = word(8);
    const entries = Math.min(word(4), Math.max(0, Math.floor((source.size - directory) / 32)));
    let textures = 0;
    for (let k = 0; k < entries; k += 4096) {  // a slice of the directory at a time
      const slice = readFully(source, directory + 32 * k, 32 * Math.min(4096, entries - k));
      for (let at = 12; at < slice.length; at += 32) textures += slice[at] === 0x43;
    }
    return { textures };
  }
  if (word(0) !== 30 || source.size < 124) return { textures: 0 };
  const [lump, length] = [word(20), word(24)];
  if (lump + length > source.size || length < 4 || 4 + 4 * word(lump) > length) return { textures: 0, named: 0 };
  const count = word(lump), counted = { textures: 0, named: 0 };
  for (let k = 0; k < count; ++k) {
    const offset = word(lump + 4 + 4 * k);
    if (offset === 0xffffffff || lump + offset + 40 > source.size) continue;
    if (word(lump + offset + 24) === 0) ++counted.named;
    else ++counted.textures;
  }
  return counted;
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

// Runs the compiled program on the package or map `name` (its bytes in `source`, as memorySource
// or fileSource give them) and calls post with, in order: { type: 'start', textures, named }, as
// contents() counts them;
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
