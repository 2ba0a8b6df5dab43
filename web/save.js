// Saving the files shown, a folder a file given, as a zip of PCX files (the program's own) or
// PNG files (made for the zip, in a worker): one download where it is of a size every browser
// hands over whole, else several zips of whole files, each complete in itself, listed for the user
// to save one by one. Each zip is made when it is asked for and let go soon after: a
// browser holds a download's Blob in memory of its own, and Chromium hands over none once a few
// hundred megabytes of them are held (a Blob of 620 MB never landed; one of 256 MB does alone).
// Writing one zip into a file the user picks would need the File System Access API, which Firefox
// and Safari lack and no test can drive.
import { makePngs } from './converter.js';
import { hasPng, pcxFile, savedName } from './pictures.js';
import { blobOf, bytesNow, drop } from './store.js';
import { split, zip } from './zip.js';

const kPartLimit = 256 << 20;

const count = new Intl.NumberFormat('en-US');
const megabytes = (bytes) => `${count.format(Math.ceil(bytes / 1e6))} MB`;
let held = null;  // the URL of the last zip handed over, let go at the next or after a minute

function letGo() {
  if (held) URL.revokeObjectURL(held);
  held = null;
}

function hold(url) {
  letGo();
  held = url;
  setTimeout(() => {
    if (held !== url) return;
    URL.revokeObjectURL(url);
    held = null;
  }, 60000);
  return url;
}

// The zip of `run`: the files in memory copied into it, those only in the database taken as the
// Blobs of the files they lie in, which the browser reads from disk as it saves the zip.
async function zipOf(run) {
  const bytes = new Map();
  for (const { batch } of run) if (!bytes.has(batch)) bytes.set(batch, batch.written ? await blobOf(batch) : bytesNow(batch));
  return zip(run.map((file) => ({ ...file, bytes: bytes.get(file.batch) })));
}

// Hands over the zip of `run` through `link` as it is clicked: made then, and handed over by a
// click of the page's own once made.
function arm(link, run) {
  link.addEventListener('click', async (event) => {
    if (link.dataset.made === 'true') {
      link.dataset.made = 'false';
      return;
    }
    event.preventDefault();
    letGo();  // the zip before, already handed over, before this one is made
    link.href = hold(URL.createObjectURL(await zipOf(run)));
    link.dataset.made = 'true';
    link.click();
  });
}

let pngs = [];  // the batches of the last PNG files made, let go when others are made

// Saves the pictures `shown` ({ entry, item }, in order) as `format` files, PCX or PNG, in one zip
// or several listed in `parts`, `limit` bytes each at most; `progress(words)` says how far the PNG
// files are made.
export async function saveAs(shown, format, parts, limit, progress) {
  drop(pngs);
  pngs = [];
  const made = await files(shown, format,
                           (done) => progress(`Making PNG files: ${count.format(done)} of ${count.format(shown.length)}`));
  if (format === 'PNG') pngs = [...new Set(made.map(({ batch }) => batch))];
  await save(made, parts, limit, format === 'PNG' ? 'wad3-textures-png' : 'wad3-textures');
}

// The zip's records of `shown` in `format`: the program's PCX files as the worker handed them, or
// PNG files made of them, `progress(done)` counting those made. A picture with no pixels has no PNG
// file and keeps its PCX file.
async function files(shown, format, progress) {
  const record = ({ entry, item }) => ({
    path: `${entry.folder}/${item.fileName}`, size: item.length - item.header, crc: item.crc, when: entry.when,
    batch: item.batch, at: item.at, length: item.length });
  if (format !== 'PNG') return shown.map(record);
  const pictures = shown.filter(({ item }) => hasPng(item)).map(({ entry, item }) => ({
    path: `${entry.folder}/${savedName(item, format)}`, batch: item.batch, at: item.at + item.header, length: item.length - item.header,
    look: item.look, when: entry.when }));
  const made = await makePngs(pictures, progress);
  let k = 0;
  return shown.map((one) => (hasPng(one.item) ? made[k++] : record(one)));
}

// Saves `files`, as zip's files, into `parts` (the element that lists the zips when there are
// several), with `limit` bytes a zip at most; the zips are named `name`.zip, or name-1-of-3.zip
// and so on.
async function save(files, parts, limit = kPartLimit, name) {
  parts.replaceChildren();
  parts.hidden = true;
  const runs = split(files, limit);
  if (runs.length === 1) {
    const link = document.createElement('a');
    link.download = `${name}.zip`;
    letGo();
    link.href = hold(URL.createObjectURL(await zipOf(runs[0])));
    link.click();
    return;
  }
  const total = files.reduce((sum, file) => sum + file.length, 0);
  const line = document.createElement('p');
  line.textContent = `These ${count.format(files.length)} files make ${megabytes(total)}, more than a browser ` +
    `reliably saves as one file: save them as ${runs.length} zips of at most ${megabytes(limit)}, one after ` +
    'another, each complete in itself.';
  const list = document.createElement('ol');
  runs.forEach((run, k) => {
    const link = document.createElement('a'), part = `${name}-${k + 1}-of-${runs.length}.zip`;
    link.href = '#';
    link.download = part;
    link.textContent = `${part}, ${count.format(run.length)} files, ${megabytes(run.reduce((sum, f) => sum + f.length, 0))}`;
    link.dataset.action = 'save-part';
    arm(link, run);
    const item = document.createElement('li');
    item.append(link);
    list.append(item);
  });
  parts.append(line, list);
  parts.hidden = false;
}
