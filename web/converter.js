// The worker that converts, seen from the page. It is started from the script the page holds,
// handed the program, and says whether this browser runs it; a worker that fails, or whose program
// traps, is replaced by a fresh one, and the package it had ends with why.
/* global WORKER_SOURCE */  // the worker's script, put here when the page is built
import { keep, load } from './store.js';

let worker = null;
let ready = false;
let handlers;  // { ready(), unsupported(why), reports(batch), lost(why) }
let busy = false;
let used = false;  // the worker has converted since it started
let wasm;

// Starts a worker for the program `bytes`.
export function start(bytes, on) {
  [wasm, handlers] = [bytes, on];
  spawn();
}

// A worker of the page's script.
function newWorker() {
  const url = URL.createObjectURL(new Blob([WORKER_SOURCE], { type: 'text/javascript' }));
  const made = new Worker(url);
  URL.revokeObjectURL(url);
  return made;
}

function spawn() {
  ready = false;
  used = false;
  worker = newWorker();
  worker.onmessage = ({ data: batch }) => {
    if (batch[0]?.type === 'ready') {
      ready = true;
      handlers.ready();
    } else if (batch[0]?.type === 'unsupported') {
      handlers.unsupported(batch[0].why);
    } else if (batch[0]?.type === 'unreadable') {
      readWhole(batch[0].id);
    } else {
      if (batch.at(-1)?.type === 'end') busy = false;
      handlers.reports(batch);
    }
  };
  // A worker that cannot start, throws or runs out of memory: before it was ready, this browser
  // cannot convert; after, the package it had is lost, and a fresh worker takes the next.
  worker.onerror = worker.onmessageerror = (event) => {
    event.preventDefault?.();
    const why = event.message || 'the converter stopped';
    if (!ready) {
      worker.terminate();
      handlers.unsupported(why);
      return;
    }
    if (busy) {
      busy = false;
      handlers.lost(why);  // which ends the package, and replaces this worker
    } else {
      replace();
    }
  };
  worker.postMessage({ type: 'program', wasm });
}

// A fresh worker, as after a program that trapped: nothing of the last run is kept.
export function replace() {
  worker.terminate();
  spawn();
}

export const isReady = () => ready && !busy;

// Once every file given is converted: a fresh worker in place of the one that converted, whose
// program's memory, read windows and scratch buffer would otherwise be held until the next file.
export function rest() {
  if (used && ready && !busy) replace();
}

// Hands the worker one package, a File, whose files go in `folder` in the zip; its reports come to
// handlers.reports.
let given = null;
export function convert(id, file, folder) {
  busy = true;
  used = true;
  given = { id, file, folder };
  worker.postMessage(given);
}

// The package the worker could not read: the page reads it whole and hands it over; a file that
// cannot be read here either (gone since it was chosen, a folder) ends as not converted.
async function readWhole(id) {
  try {
    const bytes = await given.file.arrayBuffer();
    worker.postMessage({ ...given, bytes }, [bytes]);
  } catch (error) {
    busy = false;
    handlers.reports([{ id, type: 'end', status: null, error: `the file cannot be read (${error.message})`, names: [] }]);
  }
}

// The PNG files of `pictures` ({ path, look, when } and the PCX file: pcx, its bytes, or batch,
// at and length, where it lies in a batch of the store), made by kMakers workers of their own,
// whatever the cores (each waits on its slices' messages now and then, and two a core keep two
// cores busy: 4.1 s, not 5.0, at 256 MB), which leave the page free and the converter converting;
// the files are made by wad3.wasm's PNG writer (pngfiles.js); resolves to their records as the zip
// takes them ({ path, size, crc, when, batch, at, length }, each slice's files a batch of the
// store), in order. The PCX files go to the workers in slices of kSlice bytes, a slice each at a
// time, each read back from the store as it is sent; `progress(done)` counts the files made.
export function makePngs(pictures, progress) {
  const kSlice = 4 << 20, kMakers = 4;
  const sizeOf = (p) => p.pcx?.length ?? p.length;
  const slices = [];
  for (let from = 0, bytes = 0, k = 0; k <= pictures.length; ++k) {
    if (k === pictures.length || (bytes > 0 && bytes + sizeOf(pictures[k]) > kSlice)) {
      if (k > from) slices.push(pictures.slice(from, k));
      [from, bytes] = [k, 0];
    }
    if (k < pictures.length) bytes += sizeOf(pictures[k]);
  }
  if (slices.length === 0) return Promise.resolve([]);
  return new Promise((resolve, reject) => {
    const made = new Array(slices.length);
    const makers = Array.from({ length: Math.min(kMakers, slices.length) }, newWorker);
    for (const maker of makers) maker.postMessage({ type: 'program', wasm });  // its deflate
    let sent = 0, done = 0, files = 0, failed = false;
    const stop = () => makers.forEach((maker) => maker.terminate());
    const fail = (error) => {
      if (failed) return;
      failed = true;
      stop();
      reject(error);
    };
    const send = async (maker) => {
      const k = sent++, slice = slices[k];
      const buffer = new Uint8Array(slice.reduce((sum, p) => sum + sizeOf(p), 0));
      const listed = [];
      let at = 0;
      for (const { path, pcx, batch, at: from, length, look, when } of slice) {
        buffer.set(pcx ?? (await load(batch)).subarray(from, from + length), at);
        listed.push({ path, at, length: sizeOf({ pcx, length }), look, when: when.getTime() });
        at += sizeOf({ pcx, length });
      }
      if (!failed) maker.postMessage({ type: 'png', slice: k, buffer: buffer.buffer, pictures: listed }, [buffer.buffer]);
    };
    for (const maker of makers) {
      maker.onmessage = ({ data }) => {
        if (Array.isArray(data)) return;  // the program compiled (or not: then the PNG files are deflated here)
        const batch = keep(new Uint8Array(data.buffer));
        made[data.slice] = data.files.map((file) => ({ ...file, when: new Date(file.when), batch }));
        progress((files += data.files.length));
        if (++done === slices.length) {
          stop();
          resolve(made.flat());
        } else if (sent < slices.length) {
          send(maker).catch(fail);
        }
      };
      maker.onerror = (event) => {
        event.preventDefault?.();
        fail(new Error(event.message || 'the PNG files could not be made'));
      };
      send(maker).catch(fail);
    }
  });
}

// A worker of its own runs `wad3 --make` for the page (make.js, found.js), one request at a time,
// so that a package being made never waits on a conversion, nor one on it. Resolves to the
// worker's reply; a worker that fails is replaced, and the request ends with why.
let maker = null;
const asked = [];  // { message, transfer, resolve }, the first being run
export function askMaker(message, transfer = []) {
  return new Promise((resolve) => {
    asked.push({ message, transfer, resolve });
    if (asked.length === 1) askNext();
  });
}

function askNext() {
  if (asked.length === 0) return;
  if (!maker) {
    maker = newWorker();
    maker.postMessage({ type: 'program', wasm });
  }
  const end = (reply) => {
    asked.shift().resolve(reply);
    askNext();
  };
  maker.onmessage = ({ data }) => {
    if (Array.isArray(data)) {  // the program compiled, or not
      if (data[0]?.type === 'unsupported') end({ status: null, error: data[0].why, lines: '' });
      return;
    }
    end(data);
  };
  maker.onerror = maker.onmessageerror = (event) => {
    event.preventDefault?.();
    maker.terminate();
    maker = null;
    end({ status: null, error: event.message || 'the program stopped', lines: '' });
  };
  const { message, transfer } = asked[0];
  maker.postMessage(message, transfer);
}
