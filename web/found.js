// A package of the textures the viewer shows: those of packages and maps, each copied exactly as
// `wad3 --make` copies it (wad3.wasm makes a package of each file they come from, and the lumps of
// those shown are laid end to end as that package lays them), in the order shown; a later texture
// replaces an earlier one of the same name, in any case, in its place. Models' skins and sprites'
// frames are pictures of another kind, and are left out.
//   package: "WAD3", u32 entries, u32 directory position; lumps from 12, each a multiple of 4
//            bytes; directory: 32 bytes an entry, u32 position, u32 size on disk, u32 size, u8
//            type, u8 compression, u16 0, name[16]
import { askMaker } from './converter.js';
import { readable } from './names.js';

const count = new Intl.NumberFormat('en-US');
const kHeader = 12, kEntry = 32;
const copyable = ({ entry }) => entry.kind === 'package' || entry.kind === 'map';

// The button's words for `shown` ({ entry, item }): how many textures go in the package, and
// how many pictures are left out; { label, textures }.
export function foundLabel(shown, searching) {
  const textures = shown.filter(copyable).length, left = shown.length - textures;
  const n = `${count.format(textures)} ${textures === 1 ? 'texture' : 'textures'}`;
  let label = searching ? `Save the ${n} found as a package` : `Save all ${n} as a package`;
  if (left > 0) label += ` (${count.format(left)} ${left === 1 ? 'skin or frame' : 'skins and frames'} of models and sprites left out)`;
  return { label, textures };
}

const lower = (name) => name.replace(/[A-Z]/g, (c) => c.toLowerCase());

// The package of the textures among `shown`: { bytes, replaced, lost }, replaced the words for
// each texture a later one replaced, lost those of the textures that cannot be copied.
export async function foundPackage(shown) {
  const bySource = new Map();  // entry -> the names of its textures shown
  for (const { entry, item } of shown.filter(copyable)) {
    if (!bySource.has(entry)) bySource.set(entry, []);
    bySource.get(entry).push(item.name);
  }
  const copies = new Map(), lost = [];  // `${entry id}/${file name}` -> { entry, lump }
  for (const [entry, names] of bySource) {
    const bytes = await entry.file.arrayBuffer();
    const path = entry.kind === 'map' ? 'copied.bsp' : 'copied.wad';  // its kind as the program read it
    const reply = await askMaker({ type: 'copy', path, bytes, names }, [bytes]);
    if (!reply.copied || reply.copied.length === 0) {
      lost.push(`${entry.path}: ${reply.error ?? reply.lines.trim().split('\n').at(-1)}`);
      continue;
    }
    for (const copy of reply.copied) copies.set(`${entry.id}/${copy.name}`, { entry, ...copy });
  }
  const list = [], places = new Map(), replaced = [];
  for (const { entry, item } of shown.filter(copyable)) {
    const copy = copies.get(`${entry.id}/${item.name}`);
    if (!copy) continue;
    const name = item.name.replace(/\.pcx$/, ''), key = lower(name);
    if (places.has(key)) {
      const earlier = list[places.get(key)];
      replaced.push(`${readable(earlier.name.replace(/\.pcx$/, ''))} from ${earlier.entry.path} by ${readable(name)} from ${entry.path}`);
      list[places.get(key)] = copy;
    } else {
      places.set(key, list.length);
      list.push(copy);
    }
  }
  return { bytes: list.length > 0 ? laidOut(list) : null, replaced, lost };
}

// The package of the lumps `list` ({ directory, lump }), each directory entry moved to its lump.
export function laidOut(list) {
  const lumps = list.reduce((sum, { lump }) => sum + lump.length, 0);
  const bytes = new Uint8Array(kHeader + lumps + kEntry * list.length), view = new DataView(bytes.buffer);
  bytes.set([0x57, 0x41, 0x44, 0x33]);  // "WAD3"
  view.setUint32(4, list.length, true);
  view.setUint32(8, kHeader + lumps, true);
  let at = kHeader, entry = kHeader + lumps;
  for (const copy of list) {
    bytes.set(copy.lump, at);
    bytes.set(copy.directory, entry);
    view.setUint32(entry, at, true);
    at += copy.lump.length;
    entry += kEntry;
  }
  return bytes;
}
