// The page's worker: compiles the program the page hands it first and says whether this browser
// runs it, then converts the packages it is given one after another, so that the page never waits
// on a conversion. A package is read from disk a slice at a time.
import { convert, fileSource } from './convert.js';
import { readable } from './names.js';
import { localHeader } from './zip.js';

let program;
self.onmessage = async ({ data: message }) => {
  if (message.type === 'program') {
    try {
      if (typeof WebAssembly !== 'object') throw new Error('it has no WebAssembly');
      program = await WebAssembly.compile(message.wasm);
      self.postMessage([{ type: 'ready' }]);
    } catch (error) {
      self.postMessage([{ type: 'unsupported', why: `${error.message || error}` }]);
    }
    return;
  }
  // Reports go out a few at a time, and the images of a batch in one buffer: a message, or a Blob,
  // for each of thousands of images costs the page more than their bytes do. Each image comes
  // with its zip header before it, so that the page's zip is these batches, end to end.
  let reports = [], images = [], bytes = 0, sent = performance.now();
  const send = () => {
    // One buffer, which the page makes one Blob of while this goes on converting.
    const batch = new Uint8Array(bytes);
    images.reduce((at, image) => (batch.set(image, at), at + image.length), 0);
    if (images.length > 0) reports.unshift({ type: 'images', buffer: batch.buffer });
    self.postMessage(reports, [batch.buffer]);
    [reports, images, bytes, sent] = [[], [], 0, performance.now()];
  };
  const source = fileSource(message.file, new FileReaderSync()), when = new Date();
  convert(program, message.file.name, source, (report) => {
    if (report.type === 'image') {
      const { pcx, ...rest } = report;
      const header = localHeader(`${message.folder}/${readable(report.name)}`, pcx.byteLength, report.crc, when);
      reports.push({ id: message.id, ...rest, at: bytes, header: header.length, length: header.length + pcx.byteLength });
      images.push(header, pcx);
      bytes += header.length + pcx.byteLength;
    } else if (report.type === 'start') {
      reports.push({ id: message.id, ...report, when: when.getTime() });
    } else {
      reports.push({ id: message.id, ...report });
    }
    if (report.type === 'end' || performance.now() - sent > 50 || bytes > (16 << 20)) send();
  });
};
