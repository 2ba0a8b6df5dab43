// Small WAD3 packages, maps, models and sprites built in the tests, and the native program's run on
// one to compare the page's with, laid out as tests/wadpack.h lays them out. A package: header,
// directory first, then each texture's header, four mip levels and palette; a map: its header, a
// lump of 3 bytes, the texture lump, a lump of 5 bytes; a model: its header, its texture table,
// then each skin's pixels and 256-entry palette; a sprite: its header and palette, its frames.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync, mkdirSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

// A texture whose name is given as bytes (a byte string), its pixels and palette made up.
export function texture(name, width, height) {
  const pixels = Uint8Array.from({ length: width * height }, (_, i) => (i % 7) * 37 + name.length);
  const palette = Uint8Array.from({ length: 768 }, (_, i) => i + name.length * 5);
  return { name, width, height, pixels, palette };
}

export function pack(textures) {
  const bytes = [];
  const put32 = (v) => bytes.push(v & 255, (v >>> 8) & 255, (v >>> 16) & 255, v >>> 24);
  const lumps = textures.map((t) => {
    const p = t.width * t.height;
    return 40 + p + (p >> 2) + (p >> 4) + (p >> 6) + 2 + t.palette.length;
  });
  bytes.push(0x57, 0x41, 0x44, 0x33);
  put32(textures.length);
  put32(12);
  let at = 12 + 32 * textures.length;
  textures.forEach((t, k) => {
    put32(at);
    put32(lumps[k]);
    put32(lumps[k]);
    bytes.push(0x43, 0, 0, 0, ...name16(t.name));
    at += lumps[k];
  });
  for (const t of textures) for (const v of lump(t)) bytes.push(v);
  return Uint8Array.from(bytes);
}

// The bytes of a texture as a package's lump holds it: header, four mip levels, palette.
function lump(t) {
  const p = t.width * t.height, bytes = [...name16(t.name)];
  const put32 = (v) => bytes.push(v & 255, (v >>> 8) & 255, (v >>> 16) & 255, v >>> 24);
  put32(t.width);
  put32(t.height);
  for (let level = 0, offset = 40; level < 4; offset += p >> (2 * level), ++level) put32(offset);
  for (const v of t.pixels) bytes.push(v);  // a spread of a large picture would pass the stack's limit
  for (let k = (p >> 2) + (p >> 4) + (p >> 6); k > 0; --k) bytes.push(0);
  const entries = t.palette.length / 3;
  bytes.push(entries & 255, entries >> 8, ...t.palette);
  return bytes;
}

// A map (BSP version 30) whose texture lump holds `slots` in order: a texture, null for an empty
// slot, or a texture with `named` set, which the map only names (its header, offsets 0); its
// entities lump `entities` (text, given its final zero) or three bytes of 0x11.
export function map(slots, entities = null) {
  const textures = [], offsets = [];
  const put32 = (to, v) => to.push(v & 255, (v >>> 8) & 255, (v >>> 16) & 255, v >>> 24);
  let at = 4 + 4 * slots.length;
  for (const t of slots) {
    if (!t) {
      offsets.push(0xffffffff);
      continue;
    }
    offsets.push(at);
    const bytes = t.named ? [...name16(t.name)] : lump(t);
    if (t.named) [t.width, t.height, 0, 0, 0, 0].forEach((v) => put32(bytes, v));
    textures.push(...bytes);
    at += bytes.length;
  }
  const texturesLump = [];
  put32(texturesLump, slots.length);
  offsets.forEach((v) => put32(texturesLump, v));
  texturesLump.push(...textures);
  const header = [];
  put32(header, 30);
  const world = entities === null ? [0x11, 0x11, 0x11] : [...Buffer.from(`${entities}\0`, 'latin1')];
  const start = 124 + world.length, end = start + texturesLump.length;
  for (let k = 0; k < 15; ++k) {
    put32(header, k === 0 ? 124 : k <= 2 ? start : k === 3 ? end : end + 5);
    put32(header, k === 0 ? world.length : k === 2 ? texturesLump.length : k === 3 ? 5 : 0);
  }
  return Uint8Array.from([...header, ...world, ...texturesLump, ...new Array(5).fill(0x22)]);
}

// A model (version 10) with `skins`, textures with `flags` (0x40: masked), their names up to 64 bytes.
export function model(skins) {
  const bytes = [0x49, 0x44, 0x53, 0x54, 10, 0, 0, 0, ...new Array(244 - 8).fill(0)];
  const put32 = (v) => bytes.push(v & 255, (v >>> 8) & 255, (v >>> 16) & 255, v >>> 24);
  const set32 = (at, v) => [v & 255, (v >>> 8) & 255, (v >>> 16) & 255, v >>> 24].forEach((b, i) => { bytes[at + i] = b; });
  set32(180, skins.length);
  set32(184, 244);
  let at = 244 + 80 * skins.length;
  for (const t of skins) {
    bytes.push(...Array.from({ length: 64 }, (_, i) => (i < t.name.length ? t.name.charCodeAt(i) : 0)));
    [t.flags ?? 0, t.width, t.height, at].forEach(put32);
    at += t.pixels.length + 768;
  }
  for (const t of skins) bytes.push(...t.pixels, ...t.palette.subarray(0, 768), ...new Array(768 - Math.min(768, t.palette.length)).fill(0));
  return Uint8Array.from(bytes);
}

// A sprite (version 2) in `format` with `palette` and `frames`: each a list of pictures, a group
// where it holds more than one.
export function sprite(frames, palette, format = 0) {
  const bytes = [0x49, 0x44, 0x53, 0x50];
  const put32 = (v) => bytes.push(v & 255, (v >>> 8) & 255, (v >>> 16) & 255, v >>> 24);
  [2, 0, format, 0, 0, 0, frames.length, 0, 0].forEach(put32);
  bytes.push((palette.length / 3) & 255, (palette.length / 3) >> 8, ...palette);
  for (const pictures of frames) {
    put32(pictures.length > 1 ? 1 : 0);
    if (pictures.length > 1) [pictures.length, ...pictures.map(() => 0x3dcccccd)].forEach(put32);
    for (const t of pictures) {
      [-(t.width >> 1) >>> 0, t.height >> 1, t.width, t.height].forEach(put32);
      bytes.push(...t.pixels);
    }
  }
  return Uint8Array.from(bytes);
}

function name16(name) {
  return Array.from({ length: 16 }, (_, i) => (i < name.length ? name.charCodeAt(i) : 0));
}

// The native program's run on `bytes` as the package `name`, as `cd NAME && wad3 ../NAME`:
// its exit status, its lines as bytes and its files, each name a byte string.
export function runNative(program, name, bytes, options = []) {
  const root = mkdtempSync(join(tmpdir(), 'wad3-page-test-'));
  try {
    writeFileSync(join(root, name), bytes);
    mkdirSync(join(root, 'out'));
    let status = 0, out;
    try {
      out = execFileSync(program, [...options, `../${name}`], { cwd: join(root, 'out'), maxBuffer: 1 << 28 });
    } catch (e) {
      status = e.status;
      out = e.stdout;
    }
    const files = new Map();
    for (const file of readdirSync(join(root, 'out'), { encoding: 'buffer' })) {  // names as bytes
      const path = Buffer.concat([Buffer.from(join(root, 'out/')), file]);
      files.set(file.toString('latin1'), new Uint8Array(readFileSync(path)));
    }
    return { status, out: new Uint8Array(out), files };
  } finally {
    rmSync(root, { recursive: true, force: true });
  }
}

// `count` textures of 2 x 2 pixels named t0, t1, ..., built straight into bytes: a package of
// tens of thousands of entries, as pack would make it, in a blink.
export function packMany(count) {
  const lump = 40 + 4 + 1 + 0 + 0 + 2 + 768;
  const bytes = new Uint8Array(12 + 32 * count + lump * count), view = new DataView(bytes.buffer);
  bytes.set([0x57, 0x41, 0x44, 0x33]);
  view.setUint32(4, count, true);
  view.setUint32(8, 12, true);
  const one = pack([texture('t', 2, 2)]).subarray(12 + 32);
  for (let k = 0, at = 12 + 32 * count; k < count; ++k, at += lump) {
    view.setUint32(12 + 32 * k, at, true);
    view.setUint32(12 + 32 * k + 4, lump, true);
    view.setUint32(12 + 32 * k + 8, lump, true);
    bytes[12 + 32 * k + 12] = 0x43;
    bytes.set(one, at);
    bytes.set(new TextEncoder().encode(`t${k}`), at);
  }
  return bytes;
}

// An uncompressed truecolour TGA of `width` x `height` pixels, `rgba(x, y)` giving each one's red,
// green, blue and alpha: header, then rows from the top (descriptor bit 5), blue first.
export function tga(width, height, rgba) {
  const bytes = new Uint8Array(18 + 4 * width * height);
  bytes.set([0, 0, 2], 0);  // no id, no colour map, truecolour
  bytes.set([width & 255, width >> 8, height & 255, height >> 8, 32, 0x28], 12);
  for (let y = 0; y < height; ++y) {
    for (let x = 0; x < width; ++x) {
      const [r, g, b, a] = rgba(x, y);
      bytes.set([b, g, r, a], 18 + 4 * (y * width + x));
    }
  }
  return bytes;
}

// `wad3 --make ARGS...` run natively in the folder `cwd`: { status, out }.
export function makeNative(program, cwd, args) {
  try {
    return { status: 0, out: execFileSync(program, ['--make', ...args], { cwd }).toString() };
  } catch (e) {
    return { status: e.status, out: e.stdout.toString() };
  }
}
