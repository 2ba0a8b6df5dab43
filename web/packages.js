// The packages given, each a section of the page: its path, its status and progress, the program's
// lines, and its pictures. The worker's reports fill it; a search shows the pictures that match.
import { findable, matchLabel } from './find.js';
import { folderName, readable } from './names.js';
import { added, attach, changed } from './pictures.js';

export const packages = [];  // every package given, in order
const taken = new Set();  // folder names in the zip
let match = null;  // the search's test, or null

function element(tag, className, text) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (text !== undefined) made.textContent = text;
  return made;
}

// A section for each of `given` ({ file, path }), at the end of `list`; the new entries.
export function add(given, list) {
  return given.map(({ file, path }) => {
    const section = element('section', 'package');
    const header = element('header');
    const status = element('span', 'status', 'Waiting');
    const found = element('span', 'found');
    header.append(element('h2', '', path), status, found);
    const progress = element('progress');
    progress.value = 0;
    const pre = element('pre');
    const log = element('details', 'log');  // closed but where the package failed: the pictures first
    log.append(element('summary', '', 'The program\'s lines'), pre);
    const box = element('div', 'pictures');
    section.append(header, progress, log, box);
    section.dataset.state = 'waiting';
    section.dataset.files = 0;
    list.append(section);
    const entry = { id: packages.length, file, path, folder: folderName(path, taken), section, progress, pre,
                    status, found, items: [], shown: [], byName: new Map(), textures: 0, written: 0 };
    attach(entry, box);
    packages.push(entry);
    return entry;
  });
}

export function started(entry) {
  entry.section.dataset.state = 'working';
  entry.status.textContent = 'Converting';
  entry.started = performance.now();
}

// One batch of the worker's reports; the images' bytes are in the batch's buffer, each at its place.
export function take(batch) {
  // The images' bytes stay in the buffer they came in. (Not as Blobs: past a few hundred megabytes
  // of Blobs, Chromium hands no Blob over as a download at all.)
  const bytes = batch[0]?.type === 'images' ? new Uint8Array(batch.shift().buffer) : null;
  const lines = new Map();  // each package's new lines, put in once
  const ended = [];
  for (const report of batch) {
    const entry = packages[report.id];
    if (report.type === 'start') {
      entry.textures = report.textures;
      entry.when = new Date(report.when);
      entry.progress.max = Math.max(report.textures, 1);
    } else if (report.type === 'log') {
      lines.set(entry, (lines.get(entry) ?? '') + readable(report.bytes));
    } else if (report.type === 'image') {
      image(entry, report, bytes);
    } else if (report.type === 'end') {
      ended.push([entry, report]);
    }
  }
  for (const [entry, text] of lines) entry.pre.append(element('span', 'lines', text));  // a block each: laid
  // out once, where one text growing in a <pre> is laid out whole at every batch
  for (const entry of new Set(batch.map((report) => packages[report.id]))) progressed(entry);
  return ended;
}

// Each image lies in its batch with its zip header before it: { bytes, at, length, header }.
function image(entry, { name, width, height, crc, at, length, header }, bytes) {
  const fileName = readable(name);
  const item = { name, fileName, width, height, crc, bytes, at, length, header, ...findable(fileName, width, height) };
  const old = entry.byName.get(name);  // a second texture of the same name replaces the first
  if (old) {
    drop(entry, old);
  } else {
    ++entry.written;
  }
  entry.byName.set(name, item);
  entry.items.push(item);
  if (!match || match(item)) entry.shown.push(item);
  added(entry, item);
}

function drop(entry, item) {
  entry.items.splice(entry.items.indexOf(item), 1);
  const at = entry.shown.indexOf(item);
  if (at >= 0) entry.shown.splice(at, 1);
  entry.byName.delete(item.name);
  changed(entry);
}

function progressed(entry) {
  if (entry.section.dataset.state !== 'working') return;
  entry.progress.value = entry.written;
  entry.status.textContent = `${entry.written} of ${entry.textures} textures`;
  counted(entry);
}

function counted(entry) {
  entry.section.dataset.files = entry.items.length;
  entry.section.dataset.shown = entry.shown.length;
  entry.found.textContent = match ? matchLabel(entry.shown.length, entry.items.length) : '';
  entry.section.classList.toggle('folded', match !== null && entry.shown.length === 0);
}

// The end of a package: status 0 or 1 from the program, or null with the error where it did not
// run to its end.
export function end(entry, { status, error, names }) {
  const left = new Set(names);
  for (const item of [...entry.items]) {  // a file the program removed again is no result
    if (!left.has(item.name)) drop(entry, item);
  }
  entry.section.dataset.ms = Math.round(performance.now() - entry.started);
  // The lines that say why: all but the size and those of the images written.
  const problem = entry.pre.textContent.split('\n')
    .filter((line) => line !== '' && !line.startsWith('Filesize : ') && !/^\.\/.* \(\d+x\d+\)$/.test(line));
  const files = entry.items.length;
  if (status === 0) {
    entry.section.dataset.state = 'done';
    entry.progress.value = entry.progress.max;
    entry.status.textContent = `${files} ${files === 1 ? 'file' : 'files'} written`;
  } else {
    entry.section.dataset.state = 'failed';
    entry.pre.parentElement.open = true;
    entry.status.textContent = status === null ? `Not converted: ${error}` : `Stopped: ${problem.join(' ')}`;
  }
  counted(entry);
}

// Shows the pictures that pass `test` (null: all of them) in every package.
export function search(test) {
  match = test;
  for (const entry of packages) {
    entry.shown = test ? entry.items.filter(test) : entry.items.slice();
    changed(entry);
    counted(entry);
  }
}

export const shownCount = () => packages.reduce((sum, entry) => sum + entry.shown.length, 0);

// The files shown, in the zip's order, as the zip takes them: path, size, crc, when, and where their
// records lie.
export function shownFiles() {
  return packages.flatMap((entry) => entry.shown.map((item) => ({
    path: `${entry.folder}/${item.fileName}`, size: item.length - item.header, crc: item.crc, when: entry.when,
    bytes: item.bytes, at: item.at, length: item.length })));
}

