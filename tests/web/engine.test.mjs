// The page's engine under node: the same outputs, messages and status as
// the console program, and memory that runs out said as it says it.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';

import { consoleSplit, enginePath, loadEngineScript, sourceDir, temporaryFolder } from './harness.mjs';

const { placeHarvestSplit, outputNames, concatenate } = loadEngineScript();
const engine = new WebAssembly.Module(fs.readFileSync(enginePath()));

function split(input, name) {
  const pieces = [[], []];
  const result = placeHarvestSplit(engine, input, (which, bytes) => pieces[which].push(bytes.slice()),
                                   outputNames(name));
  return { ...result, coordinates: Buffer.from(concatenate(pieces[0])),
           cleaned: Buffer.from(concatenate(pieces[1])) };
}

function fileInput(bytes) {
  return {
    size: bytes.length,
    readInto(offset, target) {
      const piece = bytes.subarray(offset, offset + target.length);
      target.set(piece);
      return piece.length;
    },
  };
}

test('splits as the console program does, a record cut short included', () => {
  const example = path.join(sourceDir, 'examples/family.ged');
  const cut = Buffer.concat([fs.readFileSync(example), Buffer.from('0 _PLAC Ystad\r\n1 MAP')]);
  const folder = temporaryFolder();
  try {
    for (const [name, bytes] of [['family.ged', fs.readFileSync(example)], ['cut.ged', cut]]) {
      const file = path.join(folder, name);
      fs.writeFileSync(file, bytes);
      const expected = consoleSplit(file);
      const got = split(fileInput(bytes), name);
      assert.equal(got.status, expected.status, name);
      assert.equal(got.messages, expected.messages, name);
      assert.ok(got.coordinates.equals(expected.coordinates), name);
      assert.ok(got.cleaned.equals(expected.cleaned), name);
      assert.equal(got.coordinatesWhole, true, name);
    }
  } finally {
    fs.rmSync(folder, { recursive: true });
  }
});

test('reports a read that fails, and a place line longer than its memory', () => {
  const failing = { size: 1 << 20, readInto() { throw new Error('gone'); } };
  let got = split(failing, 'gone.ged');
  assert.match(got.messages, /^PlaceHarvest: gone\.ged: cannot read: .+\n$/);
  assert.equal(got.status, 2);
  assert.equal(got.coordinatesWhole, false);
  // A place line of 1.5 GiB, made up as it is read: it must be held whole,
  // where a line that is not a place line would be read twice instead.
  const marker = Buffer.from('0 _PLAC ');
  const endless = {
    size: 1.5 * 2 ** 30,
    readInto(offset, target) {
      target.fill(0x78);
      for (let i = offset; i < marker.length && i < offset + target.length; ++i) {
        target[i - offset] = marker[i];
      }
      return target.length;
    },
  };
  got = split(endless, 'long.ged');
  assert.equal(got.messages, 'PlaceHarvest: long.ged: cannot read: out of memory\n');
  assert.equal(got.status, 2);
  assert.equal(got.coordinatesWhole, false);
});
