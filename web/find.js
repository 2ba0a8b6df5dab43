// Finding textures: every word typed must be part of the texture's file name, in any case, or be
// its size written WxH ("conc 128x128"). Each picture holds its name in lower case and its size
// so written, made once; a search over 50,000 of them then takes a few milliseconds. And the
// page's words for what it counts.

// The word that finds the maps that name textures no package given holds.
export const kMissing = 'missing';

// The test for the words of `text`, or null when there are none (every picture is shown).
export function matcher(text) {
  const words = text.toLowerCase().split(/\s+/).filter(Boolean).map((word) => word.replace(/×/g, 'x'));
  if (words.length === 0) return null;
  return (item) => words.every((word) => item.lower.includes(word) || item.size === word || (word === kMissing && item.owner?.lacks > 0));
}

// What a picture needs to be found.
export function findable(fileName, width, height) {
  return { lower: fileName.toLowerCase(), size: width === undefined ? '' : `${width}x${height}` };
}

const count = new Intl.NumberFormat('en-US');

// The save control's words for `n` files in `format` (PCX or PNG): all of them, or those found.
export function saveLabel(n, searching, format) {
  const files = `${count.format(n)} ${format} ${n === 1 ? 'file' : 'files'}`;
  return searching ? `Save the ${files} found` : `Save all ${files} as a zip`;
}

// A package's words for what matches of it.
export function matchLabel(n, of) {
  return n === 0 ? 'no texture matches' : `${count.format(n)} of ${count.format(of)} match`;
}

const kPlurals = { package: 'packages', map: 'maps', model: 'models', sprite: 'sprites', file: 'files' };

// The words for the sections a search found nothing in, by their kinds ('package', 'map', 'model',
// 'sprite' or 'file'): "72 packages and maps have no texture named blood".
export function unmatchedLabel(kinds, text) {
  const named = [...new Set(kinds)].sort((a, b) => Object.keys(kPlurals).indexOf(a) - Object.keys(kPlurals).indexOf(b))
    .map((kind) => (kinds.length === 1 ? kind : kPlurals[kind]));
  const list = named.length > 1 ? `${named.slice(0, -1).join(', ')} and ${named.at(-1)}` : named[0];
  return `${count.format(kinds.length)} ${list} ${kinds.length === 1 ? 'has' : 'have'} no texture named ${text}`;
}

// What a section calls its pictures while it converts, and once it has: a package's files are
// its textures.
const kCounted = { model: 'skin', sprite: 'picture' };
const kWritten = { map: 'texture', model: 'skin', sprite: 'picture' };
const plural = (word, n) => `${word}${n === 1 ? '' : 's'}`;

// A section's words while it converts: "12 of 40 textures".
export const progressWords = (kind, written, of) =>
  `${count.format(written)} of ${count.format(of)} ${plural(kCounted[kind] ?? 'texture', of)}`;

// A section's words once converted, `written` files: for a map what it carries and what it only
// names, `named` ("12 textures written; 31 more are in packages"); for a model with no skins of
// its own where they are, `skins` ("Its skins are in barneyT.mdl"), so that neither is taken for a
// fault.
export function doneWords(kind, written, named, skins) {
  const made = `${count.format(written)} ${plural(kWritten[kind] ?? 'file', written)} written`;
  if (kind === 'model' && written === 0 && skins) return `Its skins are in ${skins}`;
  if (kind !== 'map' || !named) return made;
  const where = named === 1 ? 'is in a package' : 'are in packages';
  if (written === 0) return `${made}; the ${count.format(named)} it names ${where}`;
  return `${made}; ${count.format(named)} more ${where}`;
}
