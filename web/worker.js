// The page's worker: reads the chosen file in slices, as the engine asks
// for them, and hands back both outputs. It runs apart from the page so
// that the page stays usable while a large tree is split.
'use strict';

// Each read of the file costs the browser far more than its bytes: the
// engine's reads are served from slices this large.
const SLICE_SIZE = 16 << 20;

// Keeps one output in buffers of SLICE_SIZE, each filled before the next is
// made, so that a file of any size is a short list of them.
class Output {
  constructor() {
    this.buffers = [];
    this.current = new Uint8Array(SLICE_SIZE);
    this.used = 0;
  }
  add(bytes) {
    for (let at = 0; at < bytes.length;) {
      if (this.used === SLICE_SIZE) {
        this.buffers.push(this.current.buffer);
        this.current = new Uint8Array(SLICE_SIZE);
        this.used = 0;
      }
      const taken = Math.min(SLICE_SIZE - this.used, bytes.length - at);
      this.current.set(bytes.subarray(at, at + taken), this.used);
      this.used += taken;
      at += taken;
    }
  }
  finish() {
    this.buffers.push(this.current.buffer.slice(0, this.used));
    return this.buffers;
  }
}

self.onmessage = (event) => {
  const { module, file } = event.data;
  const reader = new FileReaderSync();
  let slice = new Uint8Array(0);
  let sliceStart = 0;
  const input = {
    size: file.size,
    readInto(offset, target) {
      if (offset < sliceStart || offset >= sliceStart + slice.length) {
        const end = offset + Math.max(SLICE_SIZE, target.length);
        slice = new Uint8Array(reader.readAsArrayBuffer(file.slice(offset, end)));
        sliceStart = offset;
      }
      const bytes = slice.subarray(offset - sliceStart, offset - sliceStart + target.length);
      target.set(bytes);
      return bytes.length;
    },
  };
  const outputs = [new Output(), new Output()];
  const names = outputNames(file.name);
  let reported = 0;
  try {
    const result = placeHarvestSplit(module, input, (which, bytes) => outputs[which].add(bytes),
                                     names, (done) => {
      // A few hundred updates at most, however large the file.
      if (done - reported >= file.size / 200 || done === file.size) {
        reported = done;
        self.postMessage({ progress: done, size: file.size });
      }
    });
    const whole = result.coordinatesWhole;
    const coordinates = whole ? outputs[0].finish() : null;
    const cleaned = whole ? outputs[1].finish() : null;
    self.postMessage({
      done: true,
      names,
      status: result.status,
      messages: result.messages,
      placeRecords: result.placeRecords,
      coordinates,
      cleaned,
    }, whole ? [...coordinates, ...cleaned] : []);
  } catch (error) {
    self.postMessage({ done: true, names, failure: String(error) });
  }
};
