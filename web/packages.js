// The packages, maps, models and sprites given, each a section of the page: its path, its status and
// progress, the program's lines, and its pictures. The worker's reports fill it; a search shows the
// pictures that match, and folds away the sections with none, counted in one line below the others.
import { doneWords, findable, kMissing, matchLabel, progressWords, unmatchedLabel } from './find.js';
import { kindOf } from './folders.js';
import { folderName, readable } from './names.js';
import { added, attach, changed } from './pictures.js';
import { keep } from './store.js';

export const packages = [];  // every package, map, model and sprite given, in order
const taken = new Set();  // folder names in the zip
let match = null;  // the search's test, or null
let words = '';  // what was searched for
let list, unmatched;  // the sections' element; the line below them, and its list

// Where the sections go, and the line that counts those a search found nothing in: an element
// holding a button, which lists them, and a list.
export function place(sections, line) {
  [list, unmatched] = [sections, line];
  unmatched.querySelector('button').addEventListener('click', () => {
    const button = unmatched.querySelector('button');
    button.setAttribute('aria-expanded', button.getAttribute('aria-expanded') !== 'true');
    summarise();
  });
}

function element(tag, className, text) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (text !== undefined) made.textContent = text;
  return made;
}

// A section for each of `given` ({ file, path }), at the end of the list; the new entries.
export function add(given) {
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
    // The game draws every picture of decals.wad by a rule of its own.
    const decals = /(^|\/)decals\.wad$/i.test(path);
    const entry = { id: packages.length, file, path, kind: kindOf(path) ?? 'file', decals, folder: folderName(path, taken),
                    section, progress, pre, status, found, items: [], shown: [], byName: new Map(), textures: 0,
                    written: 0, reported: 0 };
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
  // The images' bytes stay in the buffer they came in, kept by the store. (Not as Blobs: past a few
  // hundred megabytes of Blobs, Chromium hands no Blob over as a download at all.)
  const bytes = batch[0]?.type === 'images' ? keep(new Uint8Array(batch.shift().buffer)) : null;
  const lines = new Map();  // each package's new lines, put in once
  const ended = [];
  for (const report of batch) {
    const entry = packages[report.id];
    if (report.type === 'start') {
      entry.textures = report.textures;
      entry.named = report.named;  // a map's textures that packages hold
      entry.looks = report.looks;  // how a model's or sprite's pictures are drawn
      entry.kind = report.kind ?? entry.kind;  // as the program reads it, whatever its name
      entry.sprite = report.kind === 'sprite';
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

// Each image lies in its batch (store.js) with its zip header before it: { batch, at, length, header }.
function image(entry, { name, width, height, crc, at, length, header }, batch) {
  const fileName = readable(name);
  const look = entry.looks?.[entry.reported] ?? (entry.decals ? 'decal' : name.startsWith('{') ? 'masked' : 'opaque');
  ++entry.reported;
  const item = { name, fileName, width, height, crc, batch, at, length, header, look, owner: entry, ...findable(fileName, width, height) };
  if (entry.sprite) item.frames = entry.items;  // a sprite's first picture plays them all
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
  entry.status.textContent = progressWords(entry.kind, entry.written, entry.textures);
  counted(entry);
}

// A section a search found nothing in folds to a row while it converts, and once it has ended
// leaves the page, counted in the line below the others.
function counted(entry) {
  entry.section.dataset.files = entry.items.length;
  entry.section.dataset.shown = entry.shown.length;
  entry.found.textContent = match ? matchLabel(entry.shown.length, entry.items.length) : '';
  const lacking = entry.lacks > 0 && words.toLowerCase().split(/\s+/).includes(kMissing);  // found even with no picture
  const none = match !== null && entry.shown.length === 0 && !lacking;
  entry.section.classList.toggle('folded', none);
  entry.section.classList.toggle('unmatched', none && ended(entry));
}

const ended = (entry) => entry.section.dataset.state === 'done' || entry.section.dataset.state === 'failed';

// The line below the sections: how many have ended with nothing found, and, once asked, which.
function summarise() {
  const none = match ? packages.filter((entry) => entry.section.classList.contains('unmatched')) : [];
  unmatched.hidden = none.length === 0;
  const button = unmatched.querySelector('button'), names = unmatched.querySelector('ul');
  button.textContent = unmatchedLabel(none.map((entry) => entry.kind), words);
  names.hidden = button.getAttribute('aria-expanded') !== 'true';
  if (names.hidden) return;
  names.replaceChildren(...none.map((entry) => {
    const item = document.createElement('li');
    item.append(element('span', 'path', entry.path), ' ', element('span', 'status', entry.status.textContent));
    return item;
  }));
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
    entry.status.textContent = doneWords(entry.kind, files, entry.named, skinsOf(entry));
  } else {
    entry.section.dataset.state = 'failed';
    entry.pre.parentElement.open = true;
    entry.status.textContent = status === null ? `Not converted: ${error}` : `Stopped: ${problem.join(' ')}`;
  }
  counted(entry);
  if (match) summarise();
}

// Where a model with no skins of its own has them: in the model named after it with a T, beside it
// (in any case, as a "t" in many real models), or else by that name.
function skinsOf(entry) {
  if (entry.kind !== 'model') return undefined;
  const stem = entry.path.replace(/\.mdl$/i, ''), wanted = `${stem}t.mdl`.toLowerCase();
  const beside = packages.find((other) => other.path.toLowerCase() === wanted);
  return (beside?.path ?? `${stem}T.mdl`).split('/').at(-1);
}

// Shows the pictures that pass `test` (null: all of them) in every section, `text` the words
// searched for.
export function search(test, text = '') {
  [match, words] = [test, text];
  for (const entry of packages) {
    entry.shown = test ? entry.items.filter(test) : entry.items.slice();
    changed(entry);
    counted(entry);
  }
  summarise();
}

export const shownCount = () => packages.reduce((sum, entry) => sum + entry.shown.length, 0);

// The pictures shown, in the zip's order: { entry, item }.
export const shown = () => packages.flatMap((entry) => entry.shown.map((item) => ({ entry, item })));
