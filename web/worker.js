// The page's worker: converts the packages it is given one after another, with the program the
// page hands it first, so that the page never waits on a conversion.
import { convert } from './convert.js';

let program;
self.onmessage = async ({ data: message }) => {
  if (message.type === 'program') {
    program = WebAssembly.compile(message.wasm);
    return;
  }
  const compiled = await program;
  // Reports go out a few at a time: a message for each of thousands of images costs the page more
  // than their bytes do.
  let reports = [], transfers = [], sent = performance.now();
  const send = () => {
    self.postMessage(reports, transfers);
    [reports, transfers, sent] = [[], [], performance.now()];
  };
  convert(compiled, message.name, message.data, (report) => {
    reports.push({ id: message.id, ...report });
    if (report.pcx) transfers.push(report.pcx);
    if (report.type === 'end' || performance.now() - sent > 50) send();
  });
};
