// The worker that converts, seen from the page. It is started from the script the page holds,
// handed the program, and says whether this browser runs it; a worker that fails, or whose program
// traps, is replaced by a fresh one, and the package it had ends with why.
/* global WORKER_SOURCE */  // the worker's script, put here when the page is built

let worker = null;
let ready = false;
let handlers;  // { ready(), unsupported(why), reports(batch), lost(why) }
let busy = false;
let wasm;

// Starts a worker for the program `bytes`.
export function start(bytes, on) {
  [wasm, handlers] = [bytes, on];
  spawn();
}

function spawn() {
  ready = false;
  const url = URL.createObjectURL(new Blob([WORKER_SOURCE], { type: 'text/javascript' }));
  worker = new Worker(url);
  URL.revokeObjectURL(url);
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

// Hands the worker one package, a File, whose files go in `folder` in the zip; its reports come to
// handlers.reports.
let given = null;
export function convert(id, file, folder) {
  busy = true;
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
