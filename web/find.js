// Finding textures: every word typed must be part of the texture's file name, in any case, or be
// its size written WxH ("conc 128x128"). Each picture holds its name in lower case and its size
// so written, made once; a search over 50,000 of them then takes a few milliseconds.

// The test for the words of `text`, or null when there are none (every picture is shown).
export function matcher(text) {
  const words = text.toLowerCase().split(/\s+/).filter(Boolean).map((word) => word.replace(/×/g, 'x'));
  if (words.length === 0) return null;
  return (item) => words.every((word) => item.lower.includes(word) || item.size === word);
}

// What a picture needs to be found.
export function findable(fileName, width, height) {
  return { lower: fileName.toLowerCase(), size: width === undefined ? '' : `${width}x${height}` };
}

const count = new Intl.NumberFormat('en-US');

// The save control's words for `n` files: all of them, or those found.
export function saveLabel(n, searching) {
  const files = `${count.format(n)} ${n === 1 ? 'file' : 'files'}`;
  return searching ? `Save the ${files} found` : `Save all ${files} as a zip`;
}

// A package's words for what matches of it.
export function matchLabel(n, of) {
  return n === 0 ? 'no texture matches' : `${count.format(n)} of ${count.format(of)} match`;
}
