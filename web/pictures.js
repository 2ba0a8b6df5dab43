// The pictures of every package, each in a cell of one size that the size control sets: from
// thumbnails up to the textures' actual size, pixels never blurred. A package may hold tens of
// thousands, so only the cells near the screen are in the page: each package's box is as tall as
// all its rows, and its cells are made as they come into view and dropped as they leave it.
import { makePngs } from './converter.js';
import { decodePcx } from './pcx.js';
import { drawnPng } from './png.js';
import { bytesNow, load } from './store.js';

// The sizes the control steps through, in CSS pixels; 0 is each texture at its actual size.
export const kSizes = [24, 32, 48, 64, 96, 128, 192, 256, 384, 512, 0];
export const kDefaultSize = 5;  // 128: about eight across a laptop's screen
const kGap = 12;
const kCaption = 40;  // name and size, a line each
const kMargin = 1200;  // cells made this far above and below the screen

let box = kSizes[kDefaultSize];
let format = 'PCX';  // in which a picture is saved alone
let packages = [];  // the page's packages, in order
let scheduled = false;

export function track(list) {
  packages = list;
  addEventListener('scroll', schedule, { passive: true });
  addEventListener('resize', schedule);
}

export function setSize(index) {
  box = kSizes[index];
  for (const entry of packages) clear(entry);
  schedule();
}

// Pictures saved alone from now on are PCX or PNG files.
export function setFormat(chosen) {
  format = chosen;
  for (const entry of packages) clear(entry);
  schedule();
}

// Whether a picture has a PNG file: one with no pixels has none (a PNG is a pixel wide and tall
// at least), and is saved as its PCX file in either format.
export const hasPng = (item) => item.width > 0 && item.height > 0;

// The name of a picture's file in `chosen` format.
export const savedName = (item, chosen) =>
  (chosen === 'PNG' && hasPng(item) ? item.fileName.replace(/\.pcx$/i, '.png') : item.fileName);

export const sizeLabel = (index) => (kSizes[index] === 0 ? 'Actual size' : `${kSizes[index]} px`);

// A package's pictures: entry.shown is the list of its items on screen, each { name, fileName,
// width, height } and where its file lies; entry.box the element that holds their cells.
export function attach(entry, element) {
  entry.box = element;
  entry.cells = new Map();  // item -> its figure, for the cells in the page
  entry.widest = 1;  // the largest side of its textures, for the actual size
  entry.height = -1;
}

export function added(entry, item) {
  if (item.width > 0) entry.widest = Math.max(entry.widest, item.width, item.height);
  schedule();
}

// Its list changed other than at the end: the cells move, and those no longer shown go.
export const changed = schedule;

function clear(entry) {
  for (const figure of entry.cells.values()) figure.remove();
  entry.cells.clear();
}

// At the next frame, or soon where the browser holds frames back (a page it deems hidden).
function schedule() {
  if (scheduled) return;
  scheduled = true;
  requestAnimationFrame(render);
  setTimeout(render, 100);
}

function metrics(entry, width) {
  const picture = box === 0 ? Math.min(entry.widest, width) : box;
  const cellWidth = Math.min(Math.max(picture, 72), width);
  const columns = Math.max(1, Math.floor((width + kGap) / (cellWidth + kGap)));
  return { picture, cellWidth, columns, rowHeight: picture + kCaption + kGap };
}

// Heights first, for every package at once, then the one measure of where each box lies, then the
// cells: the page is laid out once a frame, however many packages it holds.
function render() {
  if (!scheduled) return;
  scheduled = false;
  // A section's width: a folded box has none, and a section a search found nothing in is not shown.
  const width = packages.find((entry) => entry.box.parentElement.clientWidth > 0)?.box.parentElement.clientWidth ?? 0;
  if (width === 0) return;
  const laid = packages.map((entry) => {
    const m = metrics(entry, width);
    const height = Math.ceil(entry.shown.length / m.columns) * m.rowHeight;
    if (height !== entry.height) entry.box.style.height = `${(entry.height = height)}px`;
    return m;
  });
  const tops = packages.map((entry) => entry.box.getBoundingClientRect().top);
  packages.forEach((entry, k) => {
    const m = laid[k];
    const first = Math.max(0, Math.floor((-kMargin - tops[k]) / m.rowHeight)) * m.columns;
    const last = Math.min(entry.shown.length, Math.ceil((innerHeight + kMargin - tops[k]) / m.rowHeight) * m.columns);
    const wanted = new Set(entry.shown.slice(first, Math.max(first, last)));
    for (const [item, figure] of entry.cells) {
      if (!wanted.has(item)) {
        figure.remove();
        entry.cells.delete(item);
      }
    }
    for (let i = first; i < last; ++i) {
      const item = entry.shown[i];
      let figure = entry.cells.get(item);
      if (!figure) entry.cells.set(item, (figure = entry.box.appendChild(cell(item, m))));
      figure.style.transform = `translate(${(i % m.columns) * (m.cellWidth + kGap)}px, ${Math.floor(i / m.columns) * m.rowHeight}px)`;
    }
  });
}

function element(tag, className, text) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (text !== undefined) made.textContent = text;
  return made;
}

function cell(item, { picture, cellWidth }) {
  const figure = element('figure');
  figure.style.width = `${cellWidth}px`;
  const link = element('a');
  link.href = '#';
  link.download = savedName(item, format);
  link.title = `Save ${link.download}`;
  link.style.height = `${picture}px`;
  link.addEventListener('click', (event) => {  // a URL for the file only once it is asked for
    if (link.href.startsWith('blob:')) return;
    if ((format !== 'PNG' || !hasPng(item)) && pcxFile(item)) {
      link.href = URL.createObjectURL(new Blob([pcxFile(item)], { type: 'image/x-pcx' }));
      return;
    }
    // The program's PNG file is made in a worker, a PCX file read back from the store: the link
    // is followed once it is there.
    event.preventDefault();
    (format === 'PNG' && hasPng(item) ? savedPng(item) : pcxOf(item).then((pcx) => new Blob([pcx], { type: 'image/x-pcx' }))).then((png) => {
      link.href = URL.createObjectURL(png);
      link.click();
    }, () => {});
  });
  if (item.width > 0 && item.height > 0) {
    const scale = box === 0 ? Math.min(1, picture / Math.max(item.width, item.height))
                            : picture / Math.max(item.width, item.height);
    const img = element('img');
    img.width = Math.max(1, Math.round(item.width * scale));
    img.height = Math.max(1, Math.round(item.height * scale));
    img.alt = item.fileName;
    link.append(img);
    if (drawnPictures.has(item)) img.src = drawnPictures.get(item).url;
    else setTimeout(() => draw(item, img));  // after the frame: a large picture takes a while
    if (item.frames?.[0] === item && item.frames.length > 1) play(link, img, item.frames);
  } else {
    link.append(element('span', 'empty', item.width === undefined ? 'not shown' : 'no pixels'));
  }
  const caption = element('figcaption');
  caption.title = item.fileName;
  caption.append(element('span', 'name', item.fileName),
                 element('span', 'size', item.width === undefined ? '' : `${item.width} × ${item.height}`));
  figure.append(link, caption);
  return figure;
}

// An image's PCX file, where its batch is in memory now; null where it must be read back (pcxOf).
export function pcxFile(item) {
  const bytes = bytesNow(item.batch);
  return bytes && bytes.subarray(item.at + item.header, item.at + item.length);
}

export const pcxOf = async (item) => (await load(item.batch)).subarray(item.at + item.header, item.at + item.length);

// A picture's PNG file as the program writes it, as a Blob.
async function savedPng(item) {
  const [made] = await makePngs([{ path: savedName(item, 'PNG'), pcx: await pcxOf(item), look: item.look, when: new Date() }], () => {});
  return new Blob([(await load(made.batch)).subarray(made.at + made.header, made.at + made.length)], { type: 'image/png' });
}

// A picture is drawn from the file the program wrote, as the game draws it, in its look (a texture
// named {... has palette entry 255 transparent). The last pictures drawn are kept, so that one
// shown again, as a search narrows and widens, is not drawn again.
const drawnPictures = new Map();  // item -> { url, size }, the oldest first
const kKeptBytes = 32 << 20;
let keptBytes = 0;

async function draw(item, img) {
  if (!img.isConnected) return;  // scrolled or searched away since
  const pcx = drawnPictures.has(item) ? null : pcxFile(item) ?? await pcxOf(item).catch(() => null);
  if (!img.isConnected) return;
  const url = pictureOf(item, pcx ?? undefined);
  if (url) img.src = url;
}

// The URL of the picture of `item`, drawn now if it was not kept; undefined where its file is no
// PCX file the program wrote, or where it is to be read back first (then it is, for next time).
function pictureOf(item, pcx = pcxFile(item)) {
  let picture = drawnPictures.get(item);
  if (!picture) {
    if (!pcx) {
      pcxOf(item).then((bytes) => pictureOf(item, bytes), () => null);
      return undefined;
    }
    const image = decodePcx(pcx);
    if (!image) return undefined;
    const png = new Blob([drawnPng(image, item.look)], { type: 'image/png' });
    picture = { url: URL.createObjectURL(png), size: png.size };
    keptBytes += png.size;
    drawnPictures.set(item, picture);
  }
  for (const [oldest, old] of drawnPictures) {
    if (keptBytes <= kKeptBytes || oldest === item) break;
    URL.revokeObjectURL(old.url);
    drawnPictures.delete(oldest);
    keptBytes -= old.size;
  }
  return picture.url;
}

// A sprite's first picture plays its `frames`, kFramesPerSecond, while the pointer is on it or it
// has focus, and shows the first again after; img.dataset.frame says which is shown.
const kFramesPerSecond = 10;

function play(link, img, frames) {
  let timer = null, shown = 0;
  const show = (k) => {
    const url = pictureOf(frames[k]);
    if (url) img.src = url;
    img.dataset.frame = shown = k;
  };
  const start = () => {
    timer ??= setInterval(() => (img.isConnected ? show((shown + 1) % frames.length) : stop()), 1000 / kFramesPerSecond);
  };
  const stop = () => {
    clearInterval(timer);
    timer = null;
    if (shown !== 0) show(0);
  };
  img.dataset.frame = 0;
  for (const on of ['pointerenter', 'focus']) link.addEventListener(on, start);
  for (const off of ['pointerleave', 'blur']) link.addEventListener(off, stop);
}
