// The zips the page saves, made of the images as the worker handed them: each file is stored (the
// images are run-length encoded already), its local header made and its CRC-32 computed in the
// worker while its bytes were at hand, so that a zip is the runs of those records and a directory,
// never read again. Past 65,534 files or 4 GiB the records that would overflow are ZIP64's. Every
// number is little-endian.
//   local header, 30 bytes + name + extra: u32 0x04034B50, u16 version needed, u16 flags (bit 11:
//     the name is UTF-8), u16 method (0: stored), u16 time, u16 date, u32 CRC-32, u32 stored size,
//     u32 size, u16 name length, u16 extra length; then the file's bytes
//   central header, 46 bytes + name + extra: u32 0x02014B50, u16 version made by, then as the
//     local header from the version needed to the extra length, u16 comment length, u16 disk,
//     u16 internal and u32 external attributes, u32 position of the local header
//   ZIP64 extra field: u16 1, u16 length, then only the u64 values whose u32 field reads
//     0xFFFFFFFF, in the order size, stored size, position
//   ZIP64 end record, 56 bytes: u32 0x06064B50, u64 44, u16 45, u16 45, u32 0, u32 0, u64 entries,
//     u64 entries, u64 directory size, u64 directory position; its locator, 20 bytes:
//     u32 0x07064B50, u32 0, u64 position of the end record, u32 1
//   end record, 22 bytes: u32 0x06054B50, u16 0, u16 0, u16 entries, u16 entries, u32 directory
//     size, u32 directory position, u16 0; 0xFFFF and 0xFFFFFFFF where ZIP64's hold the values

const kMax16 = 0xffff;
const kMax32 = 0xffffffff;
const kCentral = 46;
const kEnd64 = 56 + 20;
const kEnd = 22;
const kUtf8Names = 0x0800;
const kVersion = 20;
const kVersion64 = 45;

// CRC-32 eight bytes a step (slicing by 8): table k gives the CRC of a byte followed by k zeros.
const kCrcTables = [Int32Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c;
})];
for (let k = 1; k < 8; ++k) kCrcTables.push(kCrcTables[k - 1].map((c) => (c >>> 8) ^ kCrcTables[0][c & 255]));

export function crc32(bytes) {
  const [t0, t1, t2, t3, t4, t5, t6, t7] = kCrcTables;
  let c = -1, i = 0;
  for (; i + 8 <= bytes.length; i += 8) {
    const a = c ^ (bytes[i] | (bytes[i + 1] << 8) | (bytes[i + 2] << 16) | (bytes[i + 3] << 24));
    c = t7[a & 255] ^ t6[(a >>> 8) & 255] ^ t5[(a >>> 16) & 255] ^ t4[a >>> 24] ^
        t3[bytes[i + 4]] ^ t2[bytes[i + 5]] ^ t1[bytes[i + 6]] ^ t0[bytes[i + 7]];
  }
  for (; i < bytes.length; ++i) c = t0[(c ^ bytes[i]) & 255] ^ (c >>> 8);
  return (c ^ -1) >>> 0;
}

// Bytes of little-endian fields, u64s as Numbers (exact below 2^53).
function fields(...pairs) {
  let size = 0;
  for (let i = 0; i < pairs.length; i += 2) size += pairs[i];
  const bytes = new Uint8Array(size), view = new DataView(bytes.buffer);
  let at = 0;
  for (let i = 0; i < pairs.length; i += 2) {
    const [width, value] = [pairs[i], pairs[i + 1]];
    if (width === 2) view.setUint16(at, value, true);
    else if (width === 4) view.setUint32(at, value, true);
    else view.setBigUint64(at, BigInt(value), true);
    at += width;
  }
  return bytes;
}

function dosTime(date) {
  return {
    time: (date.getHours() << 11) | (date.getMinutes() << 5) | (date.getSeconds() >> 1),
    date: ((Math.max(date.getFullYear(), 1980) - 1980) << 9) | ((date.getMonth() + 1) << 5) | date.getDate(),
  };
}

// A file's local header, its name and, for a file of 4 GiB or more, its ZIP64 sizes: the bytes
// that go before the file's own in any zip, wherever it lies there.
export function localHeader(path, size, crc, when) {
  const name = new TextEncoder().encode(path), large = size >= kMax32;
  const { time, date } = dosTime(when);
  const header = new Uint8Array(30 + name.length + (large ? 20 : 0)), view = new DataView(header.buffer);
  [[0, 0x04034b50], [14, crc], [18, large ? kMax32 : size], [22, large ? kMax32 : size]]
    .forEach(([at, value]) => view.setUint32(at, value, true));
  [[4, large ? kVersion64 : kVersion], [6, kUtf8Names], [10, time], [12, date], [26, name.length], [28, large ? 20 : 0]]
    .forEach(([at, value]) => view.setUint16(at, value, true));
  header.set(name, 30);
  if (large) header.set(fields(2, 1, 2, 16, 8, size, 8, size), 30 + name.length);
  return header;
}

function concat(arrays) {
  const all = new Uint8Array(arrays.reduce((sum, a) => sum + a.length, 0));
  arrays.reduce((at, a) => (all.set(a, at), at + a.length), 0);
  return all;
}

// The bytes a file takes in a zip besides its local record: its central header at most.
const central = (path) => kCentral + new TextEncoder().encode(path).length + 28;

// One zip of `files`, each { path, size, crc, when, bytes, at, length }: its local header and
// bytes lie at [at, at + length) in bytes, a Uint8Array or a Blob. A Blob.
export const zip = (files) => new Blob(zipParts(files), { type: 'application/zip' });

// A run of records' bytes: a view of an array, or a slice of a Blob (that costs no copy).
const part = ({ bytes, at, end }) => (bytes instanceof Blob ? bytes.slice(at, end) : bytes.subarray(at, end));

// Its parts: each run of records that lie one after another in one array as one part (a Blob of
// a part a file would take seconds to make of thousands), then the directory and the end records.
export function zipParts(files) {
  const parts = [], directory = [];
  let at = 0, run = null;
  for (const file of files) {
    const name = new TextEncoder().encode(file.path), { time, date } = dosTime(file.when);
    const large = file.size >= kMax32, far = at >= kMax32;
    const extra = large || far ? fields(2, 1, 2, (large ? 16 : 0) + (far ? 8 : 0),
                                        ...(large ? [8, file.size, 8, file.size] : []), ...(far ? [8, at] : [])) : new Uint8Array(0);
    directory.push(fields(4, 0x02014b50, 2, large || far ? kVersion64 : kVersion, 2, large || far ? kVersion64 : kVersion,
                          2, kUtf8Names, 2, 0, 2, time, 2, date, 4, file.crc, 4, large ? kMax32 : file.size,
                          4, large ? kMax32 : file.size, 2, name.length, 2, extra.length, 2, 0, 2, 0, 2, 0, 4, 0,
                          4, far ? kMax32 : at), name, extra);
    if (run && run.bytes === file.bytes && run.end === file.at) {
      run.end += file.length;
    } else {
      if (run) parts.push(part(run));
      run = { bytes: file.bytes, at: file.at, end: file.at + file.length };
    }
    at += file.length;
  }
  if (run) parts.push(part(run));
  const entries = files.length, listed = concat(directory), directorySize = listed.length;
  parts.push(listed);
  if (entries >= kMax16 || directorySize >= kMax32 || at >= kMax32) {
    parts.push(fields(4, 0x06064b50, 8, 44, 2, kVersion64, 2, kVersion64, 4, 0, 4, 0, 8, entries, 8, entries,
                      8, directorySize, 8, at),
               fields(4, 0x07064b50, 4, 0, 8, at + directorySize, 4, 1));
  }
  parts.push(fields(4, 0x06054b50, 2, 0, 2, 0, 2, Math.min(entries, kMax16), 2, Math.min(entries, kMax16),
                    4, Math.min(directorySize, kMax32), 4, Math.min(at, kMax32), 2, 0));
  return parts;
}

// `files` cut into runs whose zips stay within `limit` bytes each (a file larger than that has a
// zip of its own), in order: a browser hands over a Blob of a few hundred megabytes as a download
// reliably, one of a gigabyte not always.
export function split(files, limit) {
  const runs = [];
  let run = [], bytes = kEnd + kEnd64;
  for (const file of files) {
    const size = file.length + central(file.path);
    if (run.length > 0 && bytes + size > limit) {
      runs.push(run);
      [run, bytes] = [[], kEnd + kEnd64];
    }
    run.push(file);
    bytes += size;
  }
  if (run.length > 0) runs.push(run);
  return runs;
}
