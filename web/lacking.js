// What a game's maps lack: for each map given to the viewer, the textures it names (and does not
// carry) that no package given holds, the ones players see as the missing pattern. Its section
// says how many (data-missing, 0 where none) in a line that lists them when clicked, and offers to
// put the textures its `wad` key's packages hold inside it, through the map's way back.
import { element, giveLead } from './forms.js';
import { namesIn, readMap } from './mapnames.js';
import { packages } from './packages.js';

const held = new WeakMap();  // each package's texture names, read once
let mapForm;
let counting = Promise.resolve();

export function placeLacking(form) {
  mapForm = form;
}

// Counts again, after files were given: every map against every package given so far.
export function lack() {
  counting = counting.then(count).catch(() => null);
  return counting;
}

async function count() {
  const given = packages.filter((entry) => entry.kind === 'package' || /\.wad$/i.test(entry.path));
  const names = new Set();
  for (const entry of given) {
    if (!held.has(entry)) held.set(entry, await namesIn(entry.path, entry.file).catch(() => new Set()));
    for (const name of held.get(entry)) names.add(name);
  }
  for (const entry of packages.filter((one) => /\.bsp$/i.test(one.path))) {
    const map = entry.map ?? (entry.map = await readMap(entry.file).catch(() => null));
    if (!map) continue;
    const named = new Map();  // the game finds a texture by its name in any case
    for (const slot of map.slots) if (!slot.carried && !named.has(slot.name.toLowerCase())) named.set(slot.name.toLowerCase(), slot.name);
    const missing = [...named].filter(([lower]) => !names.has(lower)).map(([, name]) => name);
    show(entry, missing);
  }
}

function show(entry, missing) {
  entry.lacks = missing.length;
  entry.section.dataset.missing = missing.length;
  let line = entry.section.querySelector('.lack');
  if (!line) {
    line = element('div', 'lack');
    const embed = element('button', 'embed', 'Put its textures inside');
    embed.type = 'button';
    embed.dataset.action = 'embed-map';
    embed.addEventListener('click', () => embedMap(entry));
    line.append(element('span', 'missing-line'), embed, element('ul', 'lacking'));
    entry.section.querySelector('header').after(line);
  }
  const said = line.querySelector('.missing-line'), list = line.querySelector('.lacking');
  list.hidden = true;
  list.replaceChildren(...missing.map((name) => element('li', '', name)));
  if (missing.length === 0) {
    said.replaceChildren();
    return;
  }
  const open = element('button', 'missing',
                       `${missing.length} ${missing.length === 1 ? 'texture it names is' : 'textures it names are'} in no package given`);
  open.type = 'button';
  open.setAttribute('aria-expanded', 'false');
  open.addEventListener('click', () => {
    list.hidden = !list.hidden;
    open.setAttribute('aria-expanded', String(!list.hidden));
  });
  said.replaceChildren(open);
}

// The map with the textures of the packages its `wad` key lists inside, found among the packages
// given by name (any case), in the key's order; those not found are said.
async function embedMap(entry) {
  const map = entry.map ?? (entry.map = await readMap(entry.file));
  if (!map) return;
  const byName = new Map();
  for (const one of packages) {
    const name = one.path.split('/').at(-1).toLowerCase();
    if (/\.wad$/i.test(name) && !byName.has(name)) byName.set(name, one);
  }
  const found = [], unfound = [];
  for (const name of map.packages) {
    const one = byName.get(name.toLowerCase());
    if (one && !found.includes(one)) found.push(one);
    else if (!one) unfound.push(name);
  }
  mapForm.unfound = unfound;
  mapForm.saveWhenReady = true;
  giveLead(mapForm, { file: entry.file, path: entry.path }, found.map(({ file, path }) => ({ file, path })));
  mapForm.section.scrollIntoView({ block: 'start' });
}
