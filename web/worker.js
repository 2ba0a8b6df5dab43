// The page's worker: compiles the program the page hands it first and says whether this browser
// runs it, then converts the packages it is given one after another, so that the page never waits
// on a conversion. A package is read from disk a slice at a time. A worker of its own makes the
// PNG files of a zip.
import { convert, fileSource, memorySource } from './convert.js';
import { copies, make, texturesOf } from './making.js';
import { pngFiles } from './pngfiles.js';
import { readable } from './names.js';
import { localHeader } from './zip.js';

let program;
let compiling = null;  // the program being compiled, which a request to make waits for
let staging = new Uint8Array(32 << 20);
self.onmessage = async ({ data: message }) => {
  if (message.type === 'program') {
    try {
      if (typeof WebAssembly !== 'object') throw new Error('it has no WebAssembly');
      compiling = WebAssembly.compile(message.wasm);
      program = await compiling;
      self.postMessage([{ type: 'ready' }]);
    } catch (error) {
      self.postMessage([{ type: 'unsupported', why: `${error.message || error}` }]);
    }
    return;
  }
  if (message.type === 'png') {
    await compiling?.catch(() => null);
    pngs(message);
    return;
  }
  if (message.type === 'make' || message.type === 'copy') await compiling?.catch(() => null);
  if (message.type === 'make') {
    made(message);
    return;
  }
  if (message.type === 'copy') {
    self.postMessage(copies(program, message));
    return;
  }
  try {
    run(message);
  } catch (error) {  // anything else that fails ends the package, never leaves it converting
    self.postMessage([{ type: 'end', id: message.id, status: null, error: `the converter stopped (${error})`, names: [] }]);
  }
};

function run(message) {
  // Reports go out a few at a time, and the images of a batch in one buffer: a message, or a Blob,
  // for each of thousands of images costs the page more than their bytes do. Each image comes
  // with its zip header before it, so that the page's zip is these batches, end to end. They are
  // gathered in one buffer kept from batch to batch, and each batch leaves as a copy of its size.
  let reports = [], bytes = 0, sent = performance.now();
  const send = () => {
    if (bytes > 0) reports.unshift({ type: 'images', buffer: staging.slice(0, bytes).buffer });
    self.postMessage(reports, bytes > 0 ? [reports[0].buffer] : []);
    [reports, bytes, sent] = [[], 0, performance.now()];
  };
  const keep = (part) => {
    if (bytes + part.length > staging.length) {
      const grown = new Uint8Array(Math.max(2 * staging.length, bytes + part.length));
      grown.set(staging.subarray(0, bytes));
      staging = grown;
    }
    staging.set(part, bytes);
    bytes += part.length;
  };
  // A package read from disk here, or, where this browser's workers read no file (WebKitGTK), by
  // the page and handed over whole.
  let source = message.bytes && memorySource(new Uint8Array(message.bytes));
  if (!source) {
    source = fileSource(message.file, new FileReaderSync());
    try {
      source.read(0, 1);
    } catch {
      self.postMessage([{ type: 'unreadable', id: message.id }]);
      return;
    }
  }
  const when = new Date();
  convert(program, message.file.name, source, (report) => {
    if (report.type === 'image') {
      const { pcx, ...rest } = report;
      const header = localHeader(`${message.folder}/${readable(report.name)}`, pcx.length, report.crc, when);
      reports.push({ id: message.id, ...rest, at: bytes, header: header.length, length: header.length + pcx.length });
      keep(header);
      keep(pcx);
    } else if (report.type === 'start') {
      reports.push({ id: message.id, ...report, when: when.getTime() });
    } else {
      reports.push({ id: message.id, ...report });
    }
    if (report.type === 'end' || performance.now() - sent > 50 || bytes > (16 << 20)) send();
  });
}

// A slice of PCX files made PNG files by the program's PNG writer, each with its zip local header
// before it, in one buffer.
function pngs({ slice, buffer, pictures }) {
  const made = program ? pngFiles(program, new Uint8Array(buffer), pictures) : null;
  if (!made) throw new Error('the PNG files could not be made: the program does not run here');
  const parts = [], files = [];
  let at = 0;
  for (const [k, { path, when }] of pictures.entries()) {
    const { png, crc } = made[k];
    const header = localHeader(path, png.length, crc, new Date(when));
    parts.push(header, png);
    files.push({ path, size: png.length, crc, when, at, length: header.length + png.length, header: header.length });
    at += header.length + png.length;
  }
  const joined = new Uint8Array(at);
  parts.reduce((to, part) => (joined.set(part, to), to + part.length), 0);
  self.postMessage({ slice, buffer: joined.buffer, files }, [joined.buffer]);
}

// A package made of the inputs, and its textures as the program extracts them, to be drawn.
function made(message) {
  let run;
  try {
    run = make(program, message);
  } catch (error) {
    self.postMessage({ status: null, error: `the program stopped (${error})`, lines: '' });
    return;
  }
  const textures = run.bytes ? texturesOf(program, message.name, run.bytes) : [];
  const transfer = textures.map(({ pcx }) => pcx.buffer);
  if (run.bytes) {
    run.bytes = run.bytes.slice();
    transfer.push(run.bytes.buffer);
  }
  self.postMessage({ ...run, textures }, transfer);
}
