// What the user gives: packages chosen or dropped one by one, and folders, chosen or dropped,
// whose every file named *.wad in any case, at any depth, becomes a package in path order; their
// other files are skipped and counted. Each is { file, path }: path is the name as given, or the
// file's place below what was given ("valve/halflife.wad"), which names its folder in the zip.

export const isPackage = (path) => /\.wad$/i.test(path);

// Path order: folder by folder, each name compared by its characters.
export function byPath(a, b) {
  const x = a.path.split('/'), y = b.path.split('/');
  for (let i = 0; i < Math.min(x.length, y.length); ++i) {
    if (x[i] !== y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return x.length - y.length;
}

// The packages of files chosen one by one: every file, whatever its name; the program says what
// it makes of one that is no package.
export function fromFiles(files) {
  return { given: Array.from(files, (file) => ({ file, path: file.name })), skipped: 0 };
}

// The packages of a folder chosen with <input webkitdirectory>: its files come with their paths.
export function fromFolder(files) {
  const all = Array.from(files, (file) => ({ file, path: file.webkitRelativePath || file.name }));
  const given = all.filter(({ path }) => isPackage(path)).sort(byPath);
  return { given, skipped: all.length - given.length };
}

// The packages of a drop: the entries must be taken while the drop event lasts, and are then
// walked; loose files count as chosen ones, folders as chosen folders.
export function dropEntries(dataTransfer) {
  const items = Array.from(dataTransfer.items ?? []).filter((item) => item.kind === 'file');
  const entries = items.map((item) => item.webkitGetAsEntry?.());
  if (entries.length === 0 || entries.some((entry) => !entry)) return { files: Array.from(dataTransfer.files) };
  return { entries };
}

export async function fromDrop({ files, entries }) {
  if (files) return fromFiles(files);
  let given = [], skipped = 0;
  for (const entry of entries) {
    if (entry.isFile) {
      given.push({ file: await fileOf(entry), path: entry.name });
      continue;
    }
    const found = [];
    await walk(entry, found);
    const packages = found.filter(({ path }) => isPackage(path)).sort(byPath);
    skipped += found.length - packages.length;
    given = given.concat(packages);
  }
  return { given, skipped };
}

const fileOf = (entry) => new Promise((resolve, reject) => entry.file(resolve, reject));

// Every file below a folder entry. A folder's reader hands its entries out in batches, and an
// empty batch when there are no more.
async function walk(folder, found) {
  const reader = folder.createReader();
  for (;;) {
    const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
    if (batch.length === 0) return;
    for (const entry of batch) {
      if (entry.isDirectory) await walk(entry, found);
      else found.push({ file: await fileOf(entry), path: entry.fullPath.replace(/^\//, '') });
    }
  }
}
