// The page's way back: images (and packages and maps) chosen or dropped become one package, made
// by wad3.wasm's `wad3 --make` in a worker of its own, with the same files in the same order and
// the same options as the program given them. After every change the package is made again;
// each texture it holds is drawn as the game will draw it, each file shows the program's words
// about it, and the package can be saved only while no file has a problem.
// document.body.dataset.make: 'empty' (nothing given), 'working', 'ready' (it can be saved) or
// 'problems' (it cannot).
import { askMaker } from './converter.js';
import { byteOrder, imageOrPackage } from './folders.js';
import { decodePcx } from './pcx.js';
import { drawnPng } from './png.js';

const kNotes = [/, the game loads at most 512x512$/, /^its alpha is not drawn/, / (lumps that are|lump that is) no texture skipped$/];

const given = [];  // { path, file }, in the order the program takes them
let elements;  // the section's parts
let running = false, again = false;
let made = null;  // { name, bytes } of the package that may be saved
let urls = [];  // the pictures drawn, let go when they are drawn again

export function placeMake(section) {
  const part = (selector) => section.querySelector(selector);
  elements = {
    name: part('[data-field="package-name"]'), dither: part('[data-field="dither"]'), save: part('[data-action="save-package"]'),
    status: part('.make-status'), files: part('.make-files'), textures: part('.make-textures'),
  };
  document.body.dataset.make = 'empty';
  part('input[data-input="make"]').addEventListener('change', (event) => {
    giveFiles(Array.from(event.target.files, (file) => ({ file, path: file.name })));
    event.target.value = '';
  });
  part('input[data-input="make-folder"]').addEventListener('change', (event) => {
    giveFiles(ofFolder(Array.from(event.target.files, (file) => ({ file, path: file.webkitRelativePath || file.name }))));
    event.target.value = '';
  });
  elements.name.addEventListener('input', remake);
  elements.dither.addEventListener('change', remake);
  elements.save.addEventListener('click', save);
}

// A folder's images, packages and maps in the byte order of their paths, as the program walks
// one; its other files are left, as the program leaves them.
export function ofFolder(files) {
  return files.filter(({ path }) => imageOrPackage(path)).sort(byteOrder);
}

// Files given, at the end; one of a path already given takes its place (the same file, changed).
export function giveFiles(files) {
  for (const one of files) {
    const at = given.findIndex(({ path }) => path === one.path);
    if (at >= 0) given[at] = one;
    else given.push(one);
  }
  remake();
}

function remake() {
  made = null;
  if (given.length === 0) {
    show({ status: 'Nothing given yet.', files: [], textures: [] });
    document.body.dataset.make = 'empty';
    return;
  }
  document.body.dataset.make = 'working';
  elements.save.disabled = true;
  if (running) {
    again = true;
    return;
  }
  running = true;
  run().finally(() => {
    running = false;
    if (again) {
      again = false;
      remake();
    }
  });
}

// The package's name as the field gives it, or why it is none.
function packageName() {
  const name = elements.name.value.trim();
  if (!/^[^/\\]+\.wad$/i.test(name)) return { why: 'A package\'s name is a file name ending in .wad, such as textures.wad.' };
  return { name };
}

async function run() {
  const { name, why } = packageName(), dither = elements.dither.checked;
  const files = given.slice();
  const first = why ? null : await ask(name, dither, files);
  if (again) return;
  if (why || first.status === null) {
    show({ status: why ?? `The package cannot be made here: ${first.error}`, files: files.map(({ path }) => ({ path, notes: [] })),
           textures: [] });
    document.body.dataset.make = 'problems';
    return;
  }
  const said = sayings(first.lines, files);
  if (first.status === 0) {
    made = { name, bytes: first.bytes };
    show({ status: last(first.lines), files: said, textures: first.textures, name });
    elements.save.disabled = false;
    document.body.dataset.make = 'ready';
    return;
  }
  // Nothing is written while any file has a problem: the textures of the others are drawn from a
  // package of them alone, each texture being made of its own file.
  const good = files.filter((_, k) => !said[k].problems);
  const preview = good.length > 0 && good.length < files.length ? await ask(name, dither, good) : null;
  if (again) return;
  show({ status: last(first.lines), files: said, textures: preview?.textures ?? [], name });
  document.body.dataset.make = 'problems';
}

async function ask(name, dither, files) {
  const inputs = await Promise.all(files.map(async ({ path, file }) => ({ path, bytes: await file.arrayBuffer() })));
  return askMaker({ type: 'make', name, dither, inputs }, inputs.map(({ bytes }) => bytes));
}

const last = (lines) => lines.trimEnd().split('\n').at(-1) ?? '';

// What the program's lines say of each file: { path, notes: [{ text, problem }], problems }.
export function sayings(lines, files) {
  const said = files.map(({ path }) => ({ path, notes: [], problems: 0 }));
  const byPath = new Map(said.map((one) => [one.path, one]));
  const longestFirst = [...byPath.keys()].sort((a, b) => b.length - a.length);
  for (const line of lines.split('\n')) {
    const replaced = line.match(/^Replaced : (\S+) from (.*)$/);
    if (replaced) {
      const earlier = longestFirst.find((path) => replaced[2].startsWith(`${path} by `));
      const later = earlier && replaced[2].slice(earlier.length + 4).match(/^(\S+) from (.*)$/);
      if (later) byPath.get(earlier).notes.push({ text: `${replaced[1]} is replaced by ${later[1]} from ${later[2]}`, problem: false });
      continue;
    }
    const path = longestFirst.find((known) => line.startsWith(`${known} : `));
    if (!path) continue;
    const text = line.slice(path.length + 3), problem = !kNotes.some((note) => note.test(text));
    byPath.get(path).notes.push({ text, problem });
    byPath.get(path).problems += problem;
  }
  return said;
}

function element(tag, className, text) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (text !== undefined) made.textContent = text;
  return made;
}

// The files, with what is said of each and a button that removes it, and the package's textures.
function show({ status, files, textures, name = '' }) {
  elements.status.textContent = status;
  elements.files.replaceChildren(...files.map(({ path, notes, problems }, k) => {
    const item = element('li');
    item.dataset.state = problems ? 'problems' : 'ok';
    const remove = element('button', 'remove', 'Remove');
    remove.type = 'button';
    remove.dataset.action = 'remove';
    remove.addEventListener('click', () => {
      given.splice(k, 1);
      remake();
    });
    item.append(element('span', 'path', path), remove);
    for (const { text, problem } of notes) item.append(element('span', problem ? 'problem' : 'note', text));
    return item;
  }));
  for (const url of urls) URL.revokeObjectURL(url);
  const decals = /^decals\.wad$/i.test(name);
  urls = [];
  elements.textures.replaceChildren(...textures.map(({ name: file, pcx }) => {
    const image = decodePcx(pcx), texture = file.replace(/\.pcx$/i, '');
    const look = decals ? 'decal' : texture.startsWith('{') ? 'masked' : 'opaque';
    const url = URL.createObjectURL(new Blob([drawnPng(image, look)], { type: 'image/png' }));
    urls.push(url);
    const figure = element('figure'), img = element('img');
    [img.src, img.alt, img.width, img.height] = [url, texture, image.width, image.height];
    figure.append(img, element('figcaption', '', `${texture} ${image.width}x${image.height}`));
    return figure;
  }));
}

// The package made, saved under its name.
function save() {
  if (!made || document.body.dataset.make !== 'ready') return;
  const link = document.createElement('a');
  link.download = made.name;
  link.href = URL.createObjectURL(new Blob([made.bytes], { type: 'application/octet-stream' }));
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}
