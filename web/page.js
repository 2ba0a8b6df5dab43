// The page: packages, maps, models, sprites and folders chosen or dropped are converted one after
// another by wad3.wasm in a worker, each into a folder of its own; the program's lines, the
// progress and every picture are shown as they come, a search finds pictures among all of them,
// and the files shown are saved as a zip of PCX or PNG files, or each picture alone. Nothing is
// sent anywhere: the program, its worker and their libraries are all inside this page.
import * as converter from './converter.js';
import { byteOrder, dropEntries, fromDrop, fromFiles, fromFolder } from './folders.js';
import { matcher, saveLabel } from './find.js';
import { foundLabel, foundPackage } from './found.js';
import { add, end, packages, place, search, shown, shownCount, started, take } from './packages.js';
import { dropped, forms, placeMakers } from './make.js';
import { lack, placeLacking } from './lacking.js';
import { kDefaultSize, kSizes, setFormat, setSize, sizeLabel, track } from './pictures.js';
import { saveAs } from './save.js';

const body = document.body;
const list = document.getElementById('packages');
const saveZip = document.querySelector('[data-action="save-zip"]');
const saveFound = document.querySelector('[data-action="save-found-package"]');
const field = document.querySelector('input[type="search"]');
const size = document.querySelector('input[type="range"]');
const note = document.getElementById('note');
const formats = document.querySelectorAll('input[name="format"]');
const format = () => [...formats].find((choice) => choice.checked).value;
const queue = [];  // packages not yet handed to the worker
let converting = null;  // the package the worker has

// The program, kept in the page as base64 text in a block that is no script.
function programBytes() {
  const text = atob(document.getElementById('wad3-wasm').textContent.trim());
  return Uint8Array.from(text, (c) => c.charCodeAt(0));
}

// A browser that cannot run the program says so once, at the top, and offers nothing to do.
function unsupported(why) {
  note.textContent = `This browser cannot convert packages here: ${why}`;
  note.hidden = false;
  note.className = 'unsupported';
  for (const control of document.querySelectorAll('input, button')) control.disabled = true;
  body.dataset.state = 'unsupported';
  queue.length = 0;
}

function give({ given, skipped }) {
  if (body.dataset.state === 'unsupported') return;
  note.hidden = skipped === 0;
  note.className = '';
  const files = skipped === 1 ? 'file that is' : 'files that are';
  note.textContent = `${skipped} ${files} no package, map, model or sprite skipped.`;
  queue.push(...add(given));
  lack().then(() => search(matcher(field.value), field.value.trim()));
  next();
}

function next() {
  if (converting || !converter.isReady()) return;
  if (queue.length === 0) {
    if (packages.length > 0) body.dataset.state = 'done';
    converter.rest();
    return;
  }
  body.dataset.state = 'working';
  converting = queue.shift();
  started(converting);
  converter.convert(converting.id, converting.file, converting.folder);
}

function finished(entry, report) {
  end(entry, report);
  if (report.status === null) converter.replace();  // a fresh worker for the next package
  converting = null;
  next();
}

let making = false;  // PNG files being made for a zip
let copying = false;  // the package of the textures found being made

function labelSave() {
  if (!copying) {
    const { label, textures } = foundLabel(shown(), field.value.trim() !== '');
    saveFound.textContent = label;
    saveFound.disabled = textures === 0;
  }
  if (making) return;
  const count = shownCount();
  saveZip.textContent = packages.length === 0 ? 'Save every file as a zip'
                                              : saveLabel(count, field.value.trim() !== '', format());
  saveZip.disabled = count === 0;
}

// The package of the textures found: what replaces what, and what cannot be copied, is said
// before it is saved.
saveFound.addEventListener('click', async () => {
  copying = true;
  saveFound.disabled = true;
  saveFound.textContent = 'Making the package…';
  try {
    const { bytes, replaced, lost } = await foundPackage(shown());
    const said = [];
    if (replaced.length > 0) said.push(`Of two textures of the same name, the later replaces the earlier: ${replaced.join('; ')}.`);
    if (lost.length > 0) said.push(`Not copied, since the program cannot copy them exactly: ${lost.join('; ')}.`);
    note.textContent = said.join(' ');
    note.hidden = said.length === 0;
    note.className = '';
    if (bytes) {
      const link = document.createElement('a');
      link.download = 'wad3-textures.wad';
      link.href = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
      link.click();
      setTimeout(() => URL.revokeObjectURL(link.href), 60000);
    }
  } catch (error) {
    note.textContent = `The package could not be made: ${error.message}`;
    note.hidden = false;
  } finally {
    copying = false;
    labelSave();
  }
});

if (typeof WebAssembly !== 'object' || typeof Worker !== 'function') {
  unsupported('it has no WebAssembly');
} else {
  converter.start(programBytes(), {
    ready: next,
    unsupported,
    reports(batch) {
      for (const [entry, report] of take(batch)) finished(entry, report);
      labelSave();
    },
    lost: (why) => finished(converting, { status: null, error: `the converter stopped (${why})`, names: [] }),
  });
}

track(packages);
place(list, document.getElementById('unmatched'));
size.max = kSizes.length - 1;
size.value = kDefaultSize;
size.nextElementSibling.textContent = sizeLabel(kDefaultSize);
size.addEventListener('input', () => {
  setSize(Number(size.value));
  size.nextElementSibling.textContent = sizeLabel(Number(size.value));
});
field.addEventListener('input', () => {
  search(matcher(field.value), field.value.trim());
  labelSave();
});
for (const choice of formats) {
  choice.addEventListener('change', () => {
    setFormat(format());
    labelSave();
  });
}
saveZip.addEventListener('click', async () => {
  making = format() === 'PNG';
  saveZip.disabled = true;
  try {
    await saveAs(shown(), format(), document.getElementById('parts'), Number(saveZip.dataset.partLimit) || undefined,
                 (label) => { saveZip.textContent = label; });
  } catch (error) {
    note.textContent = `The PNG files could not be made: ${error.message}`;
    note.hidden = false;
  } finally {
    making = false;
    labelSave();
  }
});

for (const input of document.querySelectorAll('input[type="file"]:not([data-input])')) {
  input.addEventListener('change', () => {
    give(input.webkitdirectory ? fromFolder(input.files) : fromFiles(input.files));
    input.value = '';  // the same package may be given again
  });
}
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  body.classList.add('dropping');
});
document.addEventListener('dragleave', (event) => {
  if (event.relatedTarget === null) body.classList.remove('dropping');
});
// What is dropped on a way back goes to it; anywhere else, to the viewer.
placeMakers(document);
for (const form of Object.values(forms)) {
  form.section.addEventListener('drop', async (event) => {
    event.preventDefault();
    event.stopPropagation();
    body.classList.remove('dropping');
    if (event.dataTransfer.types.includes('text/x-wad3-frame')) return;  // a frame moved in its list
    const entries = dropEntries(event.dataTransfer);
    try {
      dropped(form, (await fromDrop(entries, (path) => form.way.keep(path) || /\.(bsp|mdl)$/i.test(path), byteOrder)).given);
    } catch (error) {
      form.elements.status.textContent = `The folder dropped cannot be read: ${error.message}`;
    }
  });
}
placeLacking(forms.map);
document.addEventListener('drop', async (event) => {
  event.preventDefault();
  body.classList.remove('dropping');
  const dropped = dropEntries(event.dataTransfer);  // only while the event lasts
  try {
    give(await fromDrop(dropped));
  } catch (error) {
    note.textContent = `The folder dropped cannot be read: ${error.message}`;
    note.hidden = false;
  }
});
