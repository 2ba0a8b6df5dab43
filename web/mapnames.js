// What a map names and where those textures are: the slots of its texture lump, the packages its
// `wad` key lists, and the texture names each file given holds, read from the few bytes that say
// them, never the whole file, so that a game's folder of maps is told its missing textures at once.
//   map: u32 30, then 15 lumps (27 where an XASH header follows) of u32 position and u32 length;
//        lump 0 the entities, text of { "key" "value" ... } blocks, the first the world's; lump 2
//        the textures: u32 count, then count u32 offsets from its start (0xFFFFFFFF: none) to
//        texture headers: name[16], u32 width, u32 height, u32 offsets[4], offsets[0] 0 where the
//        map only names the texture
//   package: "WAD3", u32 entries, u32 directory position; directory: 32 bytes an entry, the type
//            at 12 ('C' a texture), the name, up to its first zero, at 16
import { byteString } from './names.js';

const kMapVersion = 30, kHeader = 124, kEntities = 0, kTextures = 2, kSlotHeader = 40, kNone = 0xffffffff;
const kWad3 = 0x33444157, kEntry = 32, kTexture = 0x43;
const kImage = /\.(png|bmp|tga|jpe?g|pcx)$/i;

const bytesOf = async (file, at, length) => new Uint8Array(await file.slice(at, at + length).arrayBuffer());
const word = (bytes, at) => new DataView(bytes.buffer, bytes.byteOffset + at, 4).getUint32(0, true);
const nameAt = (bytes, at, length) => {
  const raw = bytes.subarray(at, at + length), end = raw.indexOf(0);
  return byteString(end < 0 ? raw : raw.subarray(0, end));
};

// The map's slots in order, { name, width, height, carried }, and the packages its world's `wad`
// key lists (their file names, as the key spells them); null for a file that is no map version 30.
export async function readMap(file) {
  if (file.size < kHeader) return null;
  const header = await bytesOf(file, 0, kHeader);
  if (word(header, 0) !== kMapVersion) return null;
  const lump = (k) => ({ at: word(header, 4 + 8 * k), length: word(header, 8 + 8 * k) });
  const textures = lump(kTextures), entities = lump(kEntities);
  if (textures.at + textures.length > file.size || entities.at + entities.length > file.size) return null;
  const table = await bytesOf(file, textures.at, textures.length);
  const count = table.length >= 4 ? word(table, 0) : 0, slots = [];
  for (let k = 0; k < count && 4 + 4 * k + 4 <= table.length; ++k) {
    const offset = word(table, 4 + 4 * k);
    if (offset === kNone || offset + kSlotHeader > table.length) continue;
    slots.push({ name: nameAt(table, offset, 16), width: word(table, offset + 16), height: word(table, offset + 20),
                 carried: word(table, offset + 24) !== 0 });
  }
  return { slots, packages: wadKey(byteString(await bytesOf(file, entities.at, entities.length))) };
}

// The packages of the first entity's `wad` key: each by its last component, a path's folders
// being the machine of the map's author.
export function wadKey(entities) {
  const world = entities.slice(0, entities.indexOf('}') + 1);
  const key = world.match(/"wad"\s*"([^"]*)"/i);
  if (!key) return [];
  return key[1].split(';').map((path) => path.split(/[/\\]/).at(-1).trim()).filter(Boolean);
}

// The texture names (in lower case) a file given to a map holds: a package's textures, a map's
// carried ones, an image's own name.
export async function namesIn(path, file) {
  const stem = path.split('/').at(-1);
  if (kImage.test(stem)) return new Set([stem.replace(kImage, '').toLowerCase()]);
  if (file.size < 12) return new Set();
  const head = await bytesOf(file, 0, 12);
  if (word(head, 0) === kWad3) {
    const entries = Math.min(word(head, 4), Math.floor(Math.max(0, file.size - word(head, 8)) / kEntry));
    const directory = await bytesOf(file, word(head, 8), kEntry * entries), names = new Set();
    for (let at = 0; at + kEntry <= directory.length; at += kEntry) {
      if (directory[at + 12] === kTexture) names.add(nameAt(directory, at + 16, 16).toLowerCase());
    }
    return names;
  }
  const map = await readMap(file);
  return new Set(map ? map.slots.filter((slot) => slot.carried).map((slot) => slot.name.toLowerCase()) : []);
}

// Where each slot's texture comes from: 'carried', the path of the last file given that holds
// it (a later one replacing an earlier, as the program takes them), or null where none does.
export function sources(slots, held) {
  return slots.map((slot) => {
    const lower = slot.name.toLowerCase();
    const from = held.findLast(({ names }) => names.has(lower));
    return { ...slot, from: from ? from.path : slot.carried ? 'carried' : null };
  });
}
