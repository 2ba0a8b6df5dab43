// The page's ways back, each a section of its own (a package, a map with its textures inside, a
// sprite, a model's skins): files chosen or dropped become one file, made by wad3.wasm's
// `wad3 --make` in a worker of its own, with the same files in the same order and the same
// options as the program given them. After every change the file is made again; each picture it
// holds is drawn as the game will draw it, each file given shows the program's words about it,
// and the file can be saved only while no file has a problem.
// A form is a plain record: its way (what the section takes and how it names what it makes),
// its elements, the file it starts from (`lead`: a map or a model) and the files `given`.
// document.body.dataset[way.key]: 'empty' (nothing to make yet), 'working', 'ready' (it can be
// saved) or 'problems' (it cannot).
import { askMaker } from './converter.js';
import { byteOrder } from './folders.js';
import { decodePcx } from './pcx.js';
import { drawnPng } from './png.js';

// Lines about a file that say how it is written, not why it cannot be.
const kNotes = [/, the game loads at most 512x512$/, /^its alpha is not drawn/, / (lumps that are|lump that is) no texture skipped$/,
                /^the map names no texture .*, left out$/];
const kFramesPerSecond = 10;  // a sprite's frames as the game plays them by default

// The form of `section` as `way` describes it:
//   key        its state's name in document.body.dataset
//   lead       the input of the one file the form starts from, if it takes one
//   inputs     [selector, folder?] of the inputs of the files given (a folder's in byte order)
//   keep(path) which files of a folder it takes
//   fields     controls whose change makes the file again
//   name(form), options(form)  the file's name ({ name } or { why }) and the program's options
//   needs(form)  why there is nothing to make yet, or ''
//   look(name)   how the game draws a picture that the file itself does not say
//   ordered, play  files reordered by the user; the pictures played as a sprite
//   told(form)   what the form says beside the program's words (a map's textures), async
export function placeForm(section, way) {
  const part = (selector) => section.querySelector(selector);
  const form = {
    way, section, lead: null, given: [], running: false, again: false, made: null, urls: [], timer: 0, saveWhenReady: false,
    elements: { save: part(way.save), status: part('.make-status'), files: part('.make-files'),
                textures: part('.make-textures'), told: part('.make-told'), dither: part('[data-field="dither"]') },
  };
  document.body.dataset[way.key] = 'empty';
  if (way.lead) {
    part(way.lead).addEventListener('change', (event) => {
      const [file] = event.target.files;
      form.unfound = null;
      if (file) giveLead(form, { file, path: file.name });
      event.target.value = '';
    });
  }
  for (const [selector, folder] of way.inputs) {
    part(selector).addEventListener('change', (event) => {
      const files = Array.from(event.target.files, (file) => ({ file, path: (folder && file.webkitRelativePath) || file.name }));
      giveFiles(form, folder ? ofFolder(files, way.keep) : files);
      event.target.value = '';
    });
  }
  for (const field of way.fields ?? []) {
    part(field).addEventListener(part(field).tagName === 'SELECT' || part(field).type === 'checkbox' ? 'change' : 'input',
                                 () => remake(form));
  }
  form.elements.save.addEventListener('click', () => save(form));
  show(form, { status: way.empty, files: [], textures: [] });
  return form;
}

// A folder's files that `keep` takes, in the byte order of their paths, as the program walks one.
export function ofFolder(files, keep) {
  return files.filter(({ path }) => keep(path)).sort(byteOrder);
}

// Files given, at the end; one of a path already given takes its place (the same file, changed).
export function giveFiles(form, files) {
  for (const one of files) {
    const at = form.given.findIndex(({ path }) => path === one.path);
    if (at >= 0) form.given[at] = one;
    else form.given.push(one);
  }
  remake(form);
}

// The file the form starts from, in place of the one before.
export function giveLead(form, lead, given = null) {
  form.lead = lead;
  if (given) form.given = given;
  remake(form);
}

export function remake(form) {
  form.made = null;
  const why = form.way.needs(form);
  if (why) {
    show(form, { status: why, files: sayings('', filesOf(form)), textures: [] });
    document.body.dataset[form.way.key] = 'empty';
    form.saveWhenReady = false;
    told(form).catch(() => null);
    return;
  }
  document.body.dataset[form.way.key] = 'working';
  form.elements.save.disabled = true;
  if (form.running) {
    form.again = true;
    return;
  }
  form.running = true;
  run(form).catch((error) => {
    show(form, { status: `It cannot be made here: ${error.message}`, files: sayings('', filesOf(form)), textures: [] });
    document.body.dataset[form.way.key] = 'problems';
  }).finally(() => {
    form.running = false;
    if (form.again) {
      form.again = false;
      remake(form);
    }
  });
}

const filesOf = (form) => (form.lead ? [form.lead, ...form.given] : form.given.slice());

async function run(form) {
  const { way } = form, { name, why } = way.name(form), files = filesOf(form);
  const options = [...way.options(form), ...(form.elements.dither?.checked ? ['--dither'] : [])];
  const [first] = await Promise.all([why ? null : ask(name, options, files), told(form)]);
  if (form.again) return;
  if (why || first.status === null) {
    show(form, { status: why ?? `It cannot be made here: ${first.error}`, files: sayings('', files), textures: [] });
    document.body.dataset[way.key] = 'problems';
    return;
  }
  const said = sayings(first.lines, files);
  if (first.status === 0) {
    form.made = { name, bytes: first.bytes };
    show(form, { status: last(first.lines), files: said, textures: first.textures, name });
    form.elements.save.disabled = false;
    document.body.dataset[way.key] = 'ready';
    if (form.saveWhenReady) {
      form.saveWhenReady = false;
      save(form);
    }
    return;
  }
  // Nothing is written while any file has a problem: the pictures of the others are drawn from a
  // file of them alone, each picture being made of its own file.
  const good = files.filter((_, k) => !said[k].problems);
  const leadGood = !form.lead || good[0] === form.lead;
  const preview = leadGood && good.length > (form.lead ? 1 : 0) && good.length < files.length ? await ask(name, options, good) : null;
  if (form.again) return;
  show(form, { status: last(first.lines), files: said, textures: preview?.textures ?? [], name });
  document.body.dataset[way.key] = 'problems';
}

async function told(form) {
  if (!form.way.told || !form.elements.told) return;
  form.elements.told.replaceChildren(...await form.way.told(form));
}

async function ask(name, options, files) {
  const inputs = await Promise.all(files.map(async ({ path, file }) => ({ path, bytes: await file.arrayBuffer() })));
  return askMaker({ type: 'make', name, options, inputs }, inputs.map(({ bytes }) => bytes));
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

export function element(tag, className, text) {
  const made = document.createElement(tag);
  if (className) made.className = className;
  if (text !== undefined) made.textContent = text;
  return made;
}

function button(text, action, label, click) {
  const made = element('button', 'remove', text);
  made.type = 'button';
  made.dataset.action = action;
  if (label) made.setAttribute('aria-label', label);
  made.addEventListener('click', click);
  return made;
}

// A file given moved from `from` to `to` in the order the program takes them.
function move(form, from, to) {
  if (to < 0 || to >= form.given.length || from === to) return;
  form.given.splice(to, 0, ...form.given.splice(from, 1));
  remake(form);
}

// The files, each with what is said of it and a button that removes it (and, where their order
// matters, buttons and a drag that move it), and the pictures of the file made.
function show(form, { status, files, textures, name = '' }) {
  const { elements, way } = form, offset = form.lead ? 1 : 0;
  elements.status.textContent = status;
  elements.files.replaceChildren(...files.map(({ path, notes, problems }, k) => {
    const item = element('li');
    item.dataset.state = problems ? 'problems' : 'ok';
    item.append(element('span', 'path', path));
    const at = k - offset;
    if (way.ordered && at >= 0) {
      item.draggable = true;
      item.addEventListener('dragstart', (event) => {
        event.dataTransfer.setData('text/x-wad3-frame', String(at));
        event.stopPropagation();
      });
      item.addEventListener('dragover', (event) => event.preventDefault());
      item.addEventListener('drop', (event) => {
        const from = event.dataTransfer.getData('text/x-wad3-frame');
        if (from === '') return;
        event.preventDefault();
        event.stopPropagation();
        move(form, Number(from), at);
      });
      item.append(button('↑', 'earlier', `Move ${path} earlier`, () => move(form, at, at - 1)),
                  button('↓', 'later', `Move ${path} later`, () => move(form, at, at + 1)));
    }
    item.append(button('Remove', 'remove', '', () => {
      if (at < 0) form.lead = null;
      else form.given.splice(at, 1);
      remake(form);
    }));
    for (const { text, problem } of notes) item.append(element('span', problem ? 'problem' : 'note', text));
    return item;
  }));
  for (const url of form.urls) URL.revokeObjectURL(url);
  clearInterval(form.timer);
  form.urls = [];
  const figures = textures.map(({ name: file, pcx, look }) => {
    const image = decodePcx(pcx), picture = file.replace(/\.pcx$/i, '');
    const url = URL.createObjectURL(new Blob([drawnPng(image, look ?? way.look(picture, name))], { type: 'image/png' }));
    form.urls.push(url);
    const figure = element('figure'), img = element('img');
    [img.src, img.alt, img.width, img.height] = [url, picture, image.width, image.height];
    figure.append(img, element('figcaption', '', `${picture} ${image.width}x${image.height}`));
    return figure;
  });
  if (way.play && figures.length > 1) figures.unshift(played(form, textures));
  elements.textures.replaceChildren(...figures);
}

// The sprite as the game plays it: its frames one after another, each centred on its origin.
function played(form, textures) {
  const figure = element('figure', 'played'), img = element('img');
  const width = Math.max(...textures.map(({ width }) => width)), height = Math.max(...textures.map(({ height }) => height));
  [img.width, img.height, img.alt, img.src] = [width, height, 'the sprite played', form.urls[0]];
  let frame = 0;
  form.timer = setInterval(() => {
    frame = (frame + 1) % form.urls.length;
    img.src = form.urls[frame];
  }, 1000 / kFramesPerSecond);
  figure.append(img, element('figcaption', '', `played, ${textures.length} frames`));
  return figure;
}

// The file made, saved under its name through a Blob.
export function save(form) {
  if (!form.made || document.body.dataset[form.way.key] !== 'ready') return;
  const link = document.createElement('a');
  link.download = form.made.name;
  link.href = URL.createObjectURL(new Blob([form.made.bytes], { type: 'application/octet-stream' }));
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}
