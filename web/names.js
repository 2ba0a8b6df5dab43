// Names as the program spells them: bytes. The page holds each as a byte string, one character
// (U+0000 to U+00FF) a byte, so that no two names ever become one; it shows them, and names the
// zip's files, in the characters Windows code page 1252 makes of those bytes, as Windows names
// such a file, and as WAD3 tools wrote them. Every byte is one character there, and no two
// bytes the same one.

// Code page 1252 differs from Latin-1 only from 0x80 to 0x9F; its five unused bytes there stand
// for themselves, as in browsers' decoders (Node's reads them all as Latin-1).
const k80to9F = '\u20AC\x81\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039\u0152\x8D\u017D\x8F' +
                '\x90\u2018\u2019\u201C\u201D\u2022\u2013\u2014\u02DC\u2122\u0161\u203A\u0153\x9D\u017E\u0178';

// The bytes as a byte string.
export function byteString(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length; i += 8192) {
    text += String.fromCharCode(...bytes.subarray(i, i + 8192));
  }
  return text;
}

// What a person reads of bytes, or of a byte string.
export function readable(bytes) {
  const text = typeof bytes === 'string' ? bytes : byteString(bytes);
  return text.replace(/[\x80-\x9F]/g, (c) => k80to9F[c.charCodeAt(0) - 0x80]);
}

// The folder of a package, map, model or sprite in the zip: its path without its ending, with a
// number after it where an earlier one (in `taken`, in any case) had the same name.
export function folderName(fileName, taken) {
  const stem = fileName.replace(/\.(wad|bsp|mdl|spr)$/i, '') || fileName;
  let folder = stem;
  for (let n = 2; taken.has(folder.toLowerCase()); ++n) folder = `${stem} (${n})`;
  taken.add(folder.toLowerCase());
  return folder;
}
