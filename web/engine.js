// Runs the PlaceHarvest engine, a WebAssembly module built from the same
// code as the console program, over one input. Shared by the page's worker
// and the tests under node. It only moves bytes in and out: every rule and
// every message is the engine's own.
'use strict';

// Splits one input with `module`, a compiled WebAssembly.Module of the
// engine. `input` is { size, readInto(offset, target) }: readInto fills the
// Uint8Array `target` with the bytes at that offset, returns how many it
// stored, and throws when they cannot be read. `output(which, bytes)` takes
// each piece of output 0 (coordinates) or 1 (cleaned); `bytes` is a view
// into the engine's memory, valid during the call alone. `names` are the
// three file names the messages use. `onProgress`, if given, hears how many
// bytes have been read so far.
//
// Returns { status, messages, placeRecords, coordinatesWhole }: the console
// program's exit status and what it would print on standard error, the
// number of place records moved, and whether the coordinates file got its
// trailer (only then may it be offered).
function placeHarvestSplit(module, input, output, names, onProgress) {
  let instance = null;
  let position = 0;
  let ranOutOfMemory = false;
  const messages = [];
  const memory = () => new Uint8Array(instance.exports.memory.buffer);

  function readInto(offset, data, capacity) {
    const length = Math.min(capacity, input.size - offset);
    if (length <= 0) return 0;
    try {
      return input.readInto(offset, memory().subarray(data, data + length));
    } catch (error) {
      return -1;
    }
  }

  const imports = {
    placeharvest: {
      read_input(data, capacity) {
        const count = readInto(position, data, capacity);
        if (count > 0) {
          position += count;
          if (onProgress) onProgress(position);
        }
        return count;
      },
      read_input_at: readInto,
      write_output(which, data, size) {
        output(which, memory().subarray(data, data + size));
      },
      out_of_memory() {
        ranOutOfMemory = true;
      },
    },
    // The little of WASI the engine uses: writing standard error, and an
    // empty environment (the locale for the system's error texts is "C").
    wasi_snapshot_preview1: {
      environ_sizes_get(count, size) {
        const view = new DataView(instance.exports.memory.buffer);
        view.setUint32(count, 0, true);
        view.setUint32(size, 0, true);
        return 0;
      },
      environ_get() {
        return 0;
      },
      proc_exit() {
        throw new Error('the engine ended the process');
      },
      fd_write(descriptor, vectors, count, written) {
        const view = new DataView(instance.exports.memory.buffer);
        let total = 0;
        for (let i = 0; i < count; i++) {
          const data = view.getUint32(vectors + 8 * i, true);
          const size = view.getUint32(vectors + 8 * i + 4, true);
          if (descriptor === 2) messages.push(memory().slice(data, data + size));
          total += size;
        }
        view.setUint32(written, total, true);
        return 0;
      },
      fd_seek() {
        return 70;  // ESPIPE: standard error is no file to seek in
      },
      fd_close() {
        return 0;
      },
    },
  };
  instance = new WebAssembly.Instance(module, imports);
  instance.exports._initialize();
  const text = (string) => {
    const bytes = new TextEncoder().encode(string + '\0');
    const at = instance.exports.allocate(bytes.length);
    memory().set(bytes, at);
    return at;
  };
  const inputName = text(names.input);
  let status;
  try {
    status = instance.exports.split(inputName, text(names.coordinates),
                                    text(names.cleaned));
  } catch (error) {
    if (!ranOutOfMemory) throw error;
    instance.exports.report_out_of_memory(inputName);
    status = 2;
  }
  return {
    status,
    messages: new TextDecoder().decode(concatenate(messages)),
    placeRecords: ranOutOfMemory ? 0 : instance.exports.place_records(),
    coordinatesWhole: !ranOutOfMemory && instance.exports.coordinates_whole() === 1,
  };
}

function concatenate(pieces) {
  const whole = new Uint8Array(pieces.reduce((size, piece) => size + piece.length, 0));
  let at = 0;
  for (const piece of pieces) {
    whole.set(piece, at);
    at += piece.length;
  }
  return whole;
}

// The names of a run's outputs, after the input's: "tree.ged" gives
// "tree-coordinates.ged" and "tree-cleaned.ged".
function outputNames(input) {
  const dot = input.lastIndexOf('.');
  const stem = dot > 0 ? input.slice(0, dot) : input;
  const extension = dot > 0 ? input.slice(dot) : '.ged';
  return {
    input,
    coordinates: `${stem}-coordinates${extension}`,
    cleaned: `${stem}-cleaned${extension}`,
  };
}
