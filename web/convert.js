// One package through wad3.wasm, in memory: the package lies in a folder of its own, "..", and
// the program writes into ".", as `cd textures && wad3 ../package.wad` does. Its lines, and each
// image once written, are handed on as they come; nothing is kept once the run has ended.
import { Fd, File, OpenFile, PreopenDirectory, WASI, wasi as defs } from '@bjorn3/browser_wasi_shim';

import { byteString } from './names.js';
import { pcxSize } from './pcx.js';

// The package's texture entries, for the progress bar: its directory as the program walks it,
// as far as the file holds it. Header: "WAD3", u32 entries, u32 directory position; directory:
// 32 bytes an entry, the type at 12, 'C' for a texture.
export function countTextures(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  if (bytes.length < 12 || view.getUint32(0, true) !== 0x33444157) return 0;
  const entries = view.getUint32(4, true), directory = view.getUint32(8, true);
  let textures = 0;
  for (let k = 0; k < entries && directory + 32 * (k + 1) <= bytes.length; ++k) {
    textures += bytes[directory + 32 * k + 12] === 0x43;
  }
  return textures;
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

// The package, read-only. The shim's files hand out a copy of every run of bytes read, which
// the shim then copies into the program's memory; these hand out the bytes themselves.
class Package extends File {
  path_open(oflags, rights, fdflags) {
    const opened = super.path_open(oflags, rights, fdflags);
    if (opened.fd_obj) opened.fd_obj = new PackageReader(this);
    return opened;
  }
}

class PackageReader extends OpenFile {
  fd_read(size) {
    const at = Math.min(Number(this.file_pos), this.file.data.length);
    const bytes = this.file.data.subarray(at, at + size);
    this.file_pos += BigInt(bytes.length);
    return { ret: defs.ERRNO_SUCCESS, data: bytes };
  }
}

// An image the program writes. The shim's files copy their bytes whole at every write that makes
// them longer, which would take a large image time quadratic in its size; these grow into a
// buffer twice as large instead.
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
    let { buffer } = this.file.data;
    if (end > buffer.byteLength) {
      const grown = new Uint8Array(Math.max(end, 2 * buffer.byteLength));
      grown.set(this.file.data);
      buffer = grown.buffer;
    }
    this.file.data = new Uint8Array(buffer, 0, end);
    this.file.data.set(bytes, at);
    this.file_pos += BigInt(bytes.length);
    return { ret: defs.ERRNO_SUCCESS, nwritten: bytes.length };
  }
}

// Runs the compiled program on the package `name` (its bytes in the ArrayBuffer `data`) and
// calls post with, in order: { type: 'start', textures }, the texture entries of its directory;
// { type: 'log', bytes } for every write to standard output;
// { type: 'image', name, pcx, width, height } for each image once its file is closed, name as
// a byte string, width and height undefined where it is no PCX file; and last { type: 'end',
// status, names }, the exit status and the names of the files left. A program that traps ends
// with status null and its error. The ArrayBuffers posted are the run's own, to transfer.
export function convert(program, name, data, post) {
  post({ type: 'start', textures: countTextures(new Uint8Array(data)) });
  const output = new PreopenDirectory('.', new Map());
  const packageName = byteString(new TextEncoder().encode(name));  // as the program reads argv
  const input = new PreopenDirectory('..', new Map([[packageName, new Package(data, { readonly: true })]]));
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
  const { data } = file;  // its bytes alone, without the room it had to grow
  const pcx = data.length === data.buffer.byteLength ? data : data.slice();
  post({ type: 'image', name, pcx: pcx.buffer, ...pcxSize(pcx) });
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
  imports.path_unlink_file = (fd, at, length) =>
    runner.fds[fd] === undefined ? defs.ERRNO_BADF : runner.fds[fd].path_unlink_file(path(at, length));
}
