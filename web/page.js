// The page: packages chosen or dropped are converted one after another by wad3.wasm in a worker,
// each into a folder of its own; the program's lines, the progress and every picture are shown
// as they come, and every file is saved as one zip, or each picture alone. Nothing is sent
// anywhere: the program, its worker and the libraries are all inside this page.
import { zipSync } from 'fflate';

import { folderName, readable } from './names.js';
import { decodePcx, toBmp } from './pcx.js';

/* global WORKER_SOURCE */  // the worker's script, put here when the page is built

const worker = new Worker(URL.createObjectURL(new Blob([WORKER_SOURCE], { type: 'text/javascript' })));
worker.postMessage({ type: 'program', wasm: programBytes() });

const body = document.body;
const list = document.getElementById('packages');
const saveZip = document.querySelector('[data-action="save-zip"]');
const queue = [];      // packages not yet handed to the worker
const packages = [];   // every package given, in order
const taken = new Set(); // folder names in the zip
let converting = null; // the package the worker has

// The program, kept in the page as base64 text in a block that is no script.
function programBytes() {
  const text = atob(document.getElementById('wad3-wasm').textContent.trim());
  return Uint8Array.from(text, (c) => c.charCodeAt(0));
}

function element(tag, className, text) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (text !== undefined) made.textContent = text;
  return made;
}

function add(files) {
  for (const file of files) {
    const section = element('section', 'package');
    const header = element('header');
    header.append(element('h2', '', file.name), element('span', 'status', 'Waiting'));
    const progress = element('progress');
    progress.value = 0;
    const pre = element('pre');
    const pictures = element('div', 'pictures');
    section.append(header, progress, pre, pictures);
    section.dataset.state = 'waiting';
    list.append(section);
    const entry = { id: packages.length, file, folder: folderName(file.name, taken), section, progress,
                    pre, pictures, status: header.lastChild, files: new Map(), textures: 0, written: 0 };
    packages.push(entry);
    queue.push(entry);
  }
  next();
}

async function next() {
  if (converting || queue.length === 0) return;
  converting = queue.shift();
  body.dataset.state = 'working';
  const entry = converting;
  entry.section.dataset.state = 'working';
  entry.status.textContent = 'Converting';
  entry.started = performance.now();
  try {
    const data = await entry.file.arrayBuffer();
    worker.postMessage({ id: entry.id, name: entry.file.name, data }, [data]);
  } catch (error) {  // a folder, or a file gone since it was chosen
    end(entry, { status: null, error: `the file cannot be read (${error.message})`, names: [] });
  }
}

// The worker's reports come a few at a time, and each batch changes the page once: every change
// to a long page lays it out again.
worker.onmessage = ({ data: reports }) => {
  for (const report of reports) take(report);
};

function take(report) {
  const entry = packages[report.id];
  if (report.type === 'start') {
    entry.textures = report.textures;
    entry.progress.max = Math.max(report.textures, 1);
  } else if (report.type === 'log') {
    entry.pre.append(readable(report.bytes));
  } else if (report.type === 'image') {
    showImage(entry, report);
  } else if (report.type === 'end') {
    end(entry, report);
  }
}

// Each picture is drawn from its file once it comes near the screen, and its bitmap left to the
// browser to decode while it is in view: a package may hold thousands.
const drawing = new IntersectionObserver((seen) => {
  for (const { isIntersecting, target } of seen) {
    if (!isIntersecting) continue;
    drawing.unobserve(target);
    const img = target.querySelector('img');
    img.src = URL.createObjectURL(new Blob([toBmp(decodePcx(pictureFiles.get(img)))], { type: 'image/bmp' }));
  }
}, { rootMargin: '1500px' });
const pictureFiles = new WeakMap();  // each picture's PCX file

function showImage(entry, { name, pcx, width, height }) {
  const fileName = readable(name);
  const bytes = new Uint8Array(pcx);
  const old = entry.files.get(name);  // a second texture of the same name replaces the first
  if (old) {
    old.figure.remove();
  } else {
    entry.progress.value = ++entry.written;
    entry.status.textContent = `${entry.written} of ${entry.textures} textures`;
  }
  const figure = element('figure');
  const link = element('a');
  link.href = '#';
  link.download = fileName;
  link.title = `Save ${fileName}`;
  link.addEventListener('click', () => {  // a URL for the file only once it is asked for
    if (link.href.startsWith('blob:')) return;
    link.href = URL.createObjectURL(new Blob([bytes], { type: 'image/x-pcx' }));
  });
  if (width > 0 && height > 0) {
    const scale = Math.max(1, Math.floor(128 / Math.max(width, height)));
    const img = element('img');
    img.width = width * scale;
    img.height = height * scale;
    img.alt = fileName;
    pictureFiles.set(img, bytes);
    link.append(img);
    drawing.observe(figure);
  } else {
    link.append(element('span', 'empty', width === undefined ? 'not shown' : 'no pixels'));
  }
  const caption = element('figcaption');
  caption.append(element('span', 'name', fileName),
                 element('span', 'size', width === undefined ? '' : `${width} × ${height}`));
  figure.append(link, caption);
  let chunk = entry.pictures.lastElementChild;  // a few hundred pictures a box, which the
  if (!chunk || chunk.childElementCount >= 256) {  // browser lays out only while it is in view
    chunk = entry.pictures.appendChild(element('div', 'chunk'));
  }
  chunk.append(figure);
  entry.files.set(name, { bytes, figure });
}

function end(entry, { status, error, names }) {
  const left = new Set(names);
  for (const [name, file] of entry.files) {  // a file the program removed again is no result
    if (!left.has(name)) {
      file.figure.remove();
      entry.files.delete(name);
    }
  }
  entry.section.dataset.ms = Math.round(performance.now() - entry.started);
  // The lines that say why: all but the size and those of the images written.
  const problem = entry.pre.textContent.split('\n')
    .filter((line) => line !== '' && !line.startsWith('Filesize : ') && !/^\.\/.* \(\d+x\d+\)$/.test(line));
  if (status === 0) {
    entry.section.dataset.state = 'done';
    entry.progress.value = entry.progress.max;
    entry.status.textContent = `${entry.files.size} ${entry.files.size === 1 ? 'file' : 'files'} written`;
  } else {
    entry.section.dataset.state = 'failed';
    entry.status.textContent = status === null ? `Not converted: ${error}` : `Stopped: ${problem.join(' ')}`;
  }
  saveZip.disabled = !packages.some((p) => p.files.size > 0);
  converting = null;
  if (queue.length > 0) {
    next();
  } else {
    body.dataset.state = 'done';
  }
}

saveZip.addEventListener('click', () => {
  const folders = {};
  for (const entry of packages) {
    if (entry.files.size === 0) continue;
    const files = (folders[entry.folder] = {});
    for (const [name, { bytes }] of entry.files) files[readable(name)] = bytes;
  }
  const zip = zipSync(folders, { level: 0 });  // the images are run-length encoded already
  const link = element('a');
  link.href = URL.createObjectURL(new Blob([zip], { type: 'application/zip' }));
  link.download = 'wad3-textures.zip';
  link.click();
});

const input = document.querySelector('input[type="file"]');
input.addEventListener('change', () => {
  add(input.files);
  input.value = '';  // the same package may be given again
});
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  body.classList.add('dropping');
});
document.addEventListener('dragleave', (event) => {
  if (event.relatedTarget === null) body.classList.remove('dropping');
});
document.addEventListener('drop', (event) => {
  event.preventDefault();
  body.classList.remove('dropping');
  add(event.dataTransfer.files);
});
