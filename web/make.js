// The ways back, as the page offers them: a package of images (and packages and maps), a map with
// its textures inside, a sprite of frames, a model with its skins replaced. Each is a form
// (forms.js) that runs `wad3 --make` with the same files and options as the program given them.
import { imageOrPackage } from './folders.js';
import { element, giveFiles, giveLead, placeForm } from './forms.js';
import { namesIn, readMap, sources } from './mapnames.js';

const kImage = (path) => /\.(png|bmp|tga|jpe?g|pcx)$/i.test(path);
export const forms = {};

// The file name a field gives, or why it is none: `ending` such as .wad.
function fileName(field, ending, example) {
  const name = field.value.trim();
  if (!new RegExp(`^[^/\\\\]+\\${ending}$`, 'i').test(name)) return { why: `A name ending in ${ending}, such as ${example}.` };
  return { name };
}

export function placeMakers(page) {
  const section = (id) => page.querySelector(id);
  const packageName = section('#make [data-field="package-name"]');
  forms.package = placeForm(section('#make'), {
    key: 'make', inputs: [['input[data-input="make"]'], ['input[data-input="make-folder"]', true]], keep: imageOrPackage,
    save: '[data-action="save-package"]', fields: ['[data-field="package-name"]', '[data-field="dither"]'],
    empty: 'Nothing given yet.',
    needs: (form) => (form.given.length === 0 ? 'Nothing given yet.' : ''),
    name: () => fileName(packageName, '.wad', 'textures.wad'),
    options: () => [],
    // The game draws every picture of decals.wad by a rule of its own.
    look: (texture, name) => (/^decals\.wad$/i.test(name) ? 'decal' : texture.startsWith('{') ? 'masked' : 'opaque'),
  });
  forms.map = placeForm(section('#make-map'), {
    key: 'mapMake', lead: 'input[data-input="map"]', inputs: [['input[data-input="map-textures"]']], keep: imageOrPackage,
    save: '[data-action="save-map"]', fields: ['[data-field="dither"]'],
    empty: 'No map given yet.',
    needs: (form) => (!form.lead ? 'No map given yet.' : form.given.length === 0 ? 'Give the packages or images of its textures.' : ''),
    name: (form) => ({ name: form.lead.path.split('/').at(-1) }),
    options: () => [],
    look: (texture) => (texture.startsWith('{') ? 'masked' : 'opaque'),
    told: mapTold,
  });
  const spriteName = section('#make-sprite [data-field="sprite-name"]');
  const type = section('#make-sprite [data-field="sprite-type"]'), format = section('#make-sprite [data-field="sprite-format"]');
  forms.sprite = placeForm(section('#make-sprite'), {
    key: 'spriteMake', inputs: [['input[data-input="sprite"]'], ['input[data-input="sprite-folder"]', true]], keep: kImage,
    save: '[data-action="save-sprite"]',
    fields: ['[data-field="sprite-name"]', '[data-field="sprite-type"]', '[data-field="sprite-format"]', '[data-field="dither"]'],
    empty: 'No frame given yet.', ordered: true, play: true,
    needs: (form) => (form.given.length === 0 ? 'No frame given yet.' : ''),
    name: () => fileName(spriteName, '.spr', 'sprite.spr'),
    options: () => ['--type', type.value, '--format', format.value],
    look: () => 'opaque',
  });
  forms.model = placeForm(section('#make-model'), {
    key: 'modelMake', lead: 'input[data-input="model"]', inputs: [['input[data-input="model-skins"]']], keep: kImage,
    save: '[data-action="save-model"]', fields: ['[data-field="dither"]'],
    empty: 'No model given yet.',
    needs: (form) => (!form.lead ? 'No model given yet.' : form.given.length === 0 ? 'Give the images of its new skins.' : ''),
    name: (form) => ({ name: form.lead.path.split('/').at(-1) }),
    options: () => [],
    look: () => 'opaque',
  });
}

// Files dropped on a form: the one it starts from (a map, a model) where it takes one, and the rest.
export function dropped(form, files) {
  const { way } = form;
  const leading = way.lead ? files.find(({ path }) => (way.key === 'mapMake' ? /\.bsp$/i : /\.mdl$/i).test(path)) : null;
  const rest = files.filter((one) => one !== leading && way.keep(one.path));
  if (leading && (form.lead === null || way.key === 'modelMake' || rest.length === 0)) giveLead(form, leading, form.given);
  else if (leading) rest.unshift(leading);
  if (rest.length > 0) giveFiles(form, rest);
}

// Each texture the map names: carried, found in a file given (which one), or in none.
async function mapTold(form) {
  const map = await readMap(form.lead.file);
  if (!map) return [];
  const held = await Promise.all(form.given.map(async ({ path, file }) => ({ path, names: await namesIn(path, file) })));
  const slots = sources(map.slots, held), said = [];
  if (form.unfound?.length > 0) {
    said.push(element('p', 'unfound', `Not among the folder's packages: ${form.unfound.join(', ')}.`));
  }
  const none = slots.filter((slot) => slot.from === null).length;
  said.push(element('p', '', `The map names ${slots.length} ${slots.length === 1 ? 'texture' : 'textures'}` +
                             (none > 0 ? `; ${none} in no file given.` : '.')));
  const list = element('ul', 'map-textures');
  list.append(...slots.map(({ name, width, height, from }) => {
    const item = element('li', from === null ? 'problem' : '', `${name} ${width}x${height}: `);
    item.dataset.from = from ?? '';
    item.append(from === null ? 'in no file given' : from === 'carried' ? 'carried by the map' : `from ${from}`);
    return item;
  }));
  said.push(list);
  return said;
}
