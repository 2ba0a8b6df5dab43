// Where the page keeps the files the program made: each batch the worker hands over (thousands of
// PCX files, or the PNG files of a zip) is a batch here, in memory while it is among the last
// kResident bytes used, and otherwise only in the browser's own database on this computer, as a
// Blob of the file it is written in: read back when a picture of it comes near the screen, and
// put into a zip as that Blob, which the browser reads from disk as it saves. So a gigabyte of packages
// takes no more memory than a few hundred megabytes of their files, however many are given. The
// database is the page's alone, one for each time it is opened, and goes when it is closed; a
// browser that offers none keeps every batch in memory.
const kResident = 320 << 20;
// Tests give the page less room (body data-resident, in bytes), so that small files go through
// the database too.
const room = () => Number(globalThis.document?.body.dataset.resident) || kResident;
const kPrefix = 'wad3-files-';
const kStore = 'batches';

let database = null;  // a promise of the open database, or of null where there is none
let name = '';
let resident = 0;  // bytes of the batches in memory
let next = 0;
let writing = Promise.resolve();  // one batch written at a time: the browser holds a copy of each in flight
const inMemory = new Set();  // the batches in memory, the last used last

// A new batch of `bytes` (a Uint8Array of its own): { id, bytes, length }; bytes is null while it
// lies only in the database.
export function keep(bytes) {
  const batch = { id: next++, bytes, length: bytes.length, stored: null };
  inMemory.add(batch);
  resident += batch.length;
  spill();
  return batch;
}

// The batch's bytes, now, where they are in memory; null where they must be read back (load).
export function bytesNow(batch) {
  if (!batch.bytes) return null;
  inMemory.delete(batch);
  inMemory.add(batch);
  return batch.bytes;
}

// The batch's bytes, read back from the database where they are only there.
export async function load(batch) {
  if (batch.bytes) return bytesNow(batch);
  batch.loading ??= (async () => {
    const db = await open();
    const bytes = new Uint8Array(await (await blobOf(batch)).arrayBuffer());
    [batch.bytes, batch.loading] = [bytes, null];
    inMemory.add(batch);
    resident += batch.length;
    spill();
    return bytes;  // the caller's, even where the batch leaves memory again at once
  })();
  return batch.loading;
}

// The batch as the database holds it, a Blob of the file it is written in: a zip made of such
// Blobs is read from disk as it is saved, never held in memory.
export async function blobOf(batch) {
  if (!batch.blob) {
    const db = await open();
    batch.blob = await request(db.transaction(kStore).objectStore(kStore).get(batch.id));
  }
  return batch.blob;
}

// Batches no longer needed (the PNG files of a zip saved): out of memory and out of the database.
export function drop(batches) {
  for (const batch of batches) {
    if (inMemory.delete(batch)) resident -= batch.length;
    [batch.bytes, batch.blob] = [null, null];
    if (batch.stored) batch.stored.then((db) => db && db.transaction(kStore, 'readwrite').objectStore(kStore).delete(batch.id)).catch(() => null);
  }
}

// Over kResident in memory: the batches used longest ago are written to the database, and leave
// memory once they are there. Without a database every batch stays.
function spill() {
  for (const batch of inMemory) {
    if (resident <= room()) return;
    if (batch.stored) {
      if (batch.written) forget(batch);
      continue;
    }
    const bytes = batch.bytes;
    batch.stored = writing = writing.then(open).then(async (db) => {
      if (!db) return null;
      const put = db.transaction(kStore, 'readwrite');
      put.objectStore(kStore).put(new Blob([bytes]), batch.id);
      await done(put);
      batch.written = true;
      if (resident > room() && inMemory.has(batch)) forget(batch);
      return db;
    }).catch(() => null);
  }
}

function forget(batch) {
  inMemory.delete(batch);
  resident -= batch.length;
  batch.bytes = null;
}

const request = (made) => new Promise((resolve, reject) => {
  made.onsuccess = () => resolve(made.result);
  made.onerror = () => reject(made.error);
});
const done = (transaction) => new Promise((resolve, reject) => {
  transaction.oncomplete = resolve;
  transaction.onerror = transaction.onabort = () => reject(transaction.error);
});

// The page's database, opened at the first batch spilled; those of pages closed without saying
// so (a browser that crashed) are removed where the browser can tell they are no page's.
function open() {
  database ??= (async () => {
    if (typeof indexedDB !== 'object' || !indexedDB) return null;
    name = `${kPrefix}${Date.now()}-${Math.random().toString(36).slice(2)}`;
    await sweep();
    const opening = indexedDB.open(name, 1);
    opening.onupgradeneeded = () => opening.result.createObjectStore(kStore);
    const db = await request(opening);
    addEventListener('pagehide', () => {
      db.close();
      indexedDB.deleteDatabase(name);
    });
    navigator.locks?.request(name, () => new Promise(() => {}));  // held while this page lives
    return db;
  })().catch(() => null);
  return database;
}

async function sweep() {
  if (!indexedDB.databases || !navigator.locks) return;
  for (const { name: other } of await indexedDB.databases().catch(() => [])) {
    if (!other?.startsWith(kPrefix) || other === name) continue;
    await navigator.locks.request(other, { ifAvailable: true }, (lock) => {
      if (lock) indexedDB.deleteDatabase(other);
    });
  }
}
