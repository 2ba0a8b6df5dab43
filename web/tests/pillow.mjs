// Pillow, an image library of its own, reading the page's PNG files, and what each should show.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

import { decodePcx } from '../pcx.js';
import { colours } from '../png.js';

// Pillow's reading of each PNG file in `pngs` (name -> bytes): { name: { mode, size, rgba } }, the
// colours of every pixel as red, green, blue and opacity.
export function pillow(pngs) {
  const folder = mkdtempSync(join(tmpdir(), 'wad3-png-'));
  try {
    for (const [name, bytes] of pngs) writeFileSync(join(folder, name), bytes);
    const script = 'import json,os,sys\nfrom PIL import Image\nout={}\n' +
      'for n in sorted(os.listdir(sys.argv[1])):\n im=Image.open(os.path.join(sys.argv[1],n)); im.load()\n' +
      ' out[n]={"mode":im.mode,"size":im.size,"rgba":list(im.convert("RGBA").tobytes())}\nprint(json.dumps(out))';
    return JSON.parse(execFileSync('/usr/bin/python3', ['-c', script, folder], { maxBuffer: 1 << 28 }).toString());
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
}

export const hasPillow = () => {
  try {
    execFileSync('/usr/bin/python3', ['-c', 'import PIL']);
    return true;
  } catch {
    if (process.env.CI === 'true') throw new Error('Pillow (python3-pil) is needed under CI');
    return false;
  }
};

// The colours a picture is drawn with, pixel by pixel, from its PCX file: red, green, blue, opacity.
export function drawnColours(pcx, look) {
  const { pixels, palette } = decodePcx(pcx), { palette: shown, alpha } = colours(palette, look);
  return Array.from(pixels).flatMap((i) => [...shown.subarray(3 * i, 3 * i + 3), alpha ? alpha[i] : 255]);
}
