// The page's worker: reads the chosen file in slices, as the engine asks
// for them, and hands back both outputs as files to download. It runs apart
// from the page so that the page stays usable while a large tree is split.
'use strict';

self.onmessage = (event) => {
  const { module, file } = event.data;
  const reader = new FileReaderSync();
  const input = {
    size: file.size,
    readInto(offset, target) {
      const bytes = reader.readAsArrayBuffer(file.slice(offset, offset + target.length));
      target.set(new Uint8Array(bytes));
      return bytes.byteLength;
    },
  };
  // The browser keeps each piece in its own storage, which may be on disk,
  // so a large tree does not have to fit in the page's memory.
  const pieces = [[], []];
  const output = (which, bytes) => pieces[which].push(new Blob([bytes]));
  const names = outputNames(file.name);
  let reported = 0;
  try {
    const result = placeHarvestSplit(module, input, output, names, (done) => {
      // A few hundred updates at most, however large the file.
      if (done - reported >= file.size / 200 || done === file.size) {
        reported = done;
        self.postMessage({ progress: done, size: file.size });
      }
    });
    const type = { type: 'application/octet-stream' };
    const whole = result.coordinatesWhole;
    self.postMessage({
      done: true,
      names,
      status: result.status,
      messages: result.messages,
      placeRecords: result.placeRecords,
      coordinates: whole ? new Blob(pieces[0], type) : null,
      cleaned: whole ? new Blob(pieces[1], type) : null,
    });
  } catch (error) {
    self.postMessage({ done: true, names, failure: String(error) });
  }
};
