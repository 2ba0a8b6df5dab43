// What the user gives: files chosen or dropped one by one, and folders, chosen or dropped, whose
// every package (*.wad), map (*.bsp), model (*.mdl) and sprite (*.spr), in any case, at any
// depth, becomes a section in path order; their other files are skipped and counted. Each is
// { file, path }: path is the name as given, or the file's place below what was given
// ("valve/halflife.wad"), which names its folder in the zip.

const kKinds = [['package', /\.wad$/i], ['map', /\.bsp$/i], ['model', /\.mdl$/i], ['sprite', /\.spr$/i]];

// 'package', 'map', 'model' or 'sprite' by the file's name, or undefined for any other file.
export const kindOf = (path) => kKinds.find(([, ending]) => ending.test(path))?.[0];

// What `wad3 --make` takes from a folder: images, packages and maps, by their endings in any case.
export const imageOrPackage = (path) => /\.(png|bmp|tga|jpe?g|pcx|wad|bsp)$/i.test(path);

// The byte order of paths, as the program sorts a folder's files for --make: their UTF-8 bytes.
const utf8 = new TextEncoder();
export function byteOrder(a, b) {
  const x = utf8.encode(a.path), y = utf8.encode(b.path);
  for (let i = 0; i < Math.min(x.length, y.length); ++i) if (x[i] !== y[i]) return x[i] - y[i];
  return x.length - y.length;
}

// Path order: folder by folder, each name compared by its characters.
export function byPath(a, b) {
  const x = a.path.split('/'), y = b.path.split('/');
  for (let i = 0; i < Math.min(x.length, y.length); ++i) {
    if (x[i] !== y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return x.length - y.length;
}

// The files chosen one by one: every one, whatever its name; the program says what it makes of
// one that is none of the four.
export function fromFiles(files) {
  return { given: Array.from(files, (file) => ({ file, path: file.name })), skipped: 0 };
}

// The packages, maps, models and sprites of a folder chosen with <input webkitdirectory>: its
// files come with their paths.
export function fromFolder(files) {
  const all = Array.from(files, (file) => ({ file, path: file.webkitRelativePath || file.name }));
  const given = all.filter(({ path }) => kindOf(path)).sort(byPath);
  return { given, skipped: all.length - given.length };
}

// The packages, maps, models and sprites of a drop: what it holds must be taken while the drop event lasts, and is then
// walked; loose files count as chosen ones, folders as chosen folders. Chromium reads no folder
// entry of a page opened from disk (EncodingError), but hands out handles (File System Access);
// Firefox and Safari hand out entries.
export function dropEntries(dataTransfer) {
  const items = Array.from(dataTransfer.items ?? []).filter((item) => item.kind === 'file');
  const files = Array.from(dataTransfer.files ?? []);
  if (items.length > 0 && items.every((item) => item.getAsFileSystemHandle)) {
    return { files, handles: items.map((item) => item.getAsFileSystemHandle()) };
  }
  const entries = items.map((item) => item.webkitGetAsEntry?.());
  if (entries.length === 0 || entries.some((entry) => !entry)) return { files };
  return { files, entries };
}

// A folder's files are those `keep` takes, in `order`: by default the four kinds, in path order.
export async function fromDrop({ files, entries, handles }, keep = kindOf, order = byPath) {
  let given = [], skipped = 0;
  const found = async (walked) => {
    const kept = walked.filter(({ path }) => keep(path)).sort(order);
    skipped += walked.length - kept.length;
    given = given.concat(kept);
  };
  if (handles) {
    const opened = await Promise.all(handles);
    if (opened.some((handle) => !handle)) return fromFiles(files);  // a drop made by a script
    for (const handle of opened) {
      if (handle.kind === 'file') given.push({ file: await handle.getFile(), path: handle.name });
      else await found(await walkHandle(handle, handle.name, []));
    }
    return { given, skipped };
  }
  if (!entries) return fromFiles(files);
  for (const entry of entries) {
    if (entry.isFile) given.push({ file: await fileOf(entry), path: entry.name });
    else await found(await walk(entry, []));
  }
  return { given, skipped };
}

async function walkHandle(folder, path, walked) {
  for await (const handle of folder.values()) {
    if (handle.kind === 'directory') await walkHandle(handle, `${path}/${handle.name}`, walked);
    else walked.push({ file: await handle.getFile(), path: `${path}/${handle.name}` });
  }
  return walked;
}

const fileOf = (entry) => new Promise((resolve, reject) => entry.file(resolve, reject));

// Every file below a folder entry. A folder's reader hands its entries out in batches, and an
// empty batch when there are no more.
async function walk(folder, walked) {
  const reader = folder.createReader();
  for (;;) {
    const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
    if (batch.length === 0) return walked;
    for (const entry of batch) {
      if (entry.isDirectory) await walk(entry, walked);
      else walked.push({ file: await fileOf(entry), path: entry.fullPath.replace(/^\//, '') });
    }
  }
}
