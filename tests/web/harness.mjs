// What the page's tests share: the built files they test, the console
// program they are held to, and the engine's script loaded as the page's
// worker loads it.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
export const sourceDir = path.resolve(here, '../..');

function required(name) {
  const value = process.env[name];
  if (!value) throw new Error(`set ${name} (see doc/development.md)`);
  return path.resolve(value);
}
// PlaceHarvest.html, the engine's module and the console program, built.
export const pagePath = () => required('PLACEHARVEST_PAGE');
export const enginePath = () => required('PLACEHARVEST_ENGINE');
export const programPath = () => required('PLACEHARVEST_PROGRAM');

// engine.js, a plain script, as the worker runs it.
export function loadEngineScript() {
  const source = fs.readFileSync(path.join(sourceDir, 'web/engine.js'), 'utf8');
  return new Function(`${source}\nreturn { placeHarvestSplit, outputNames, concatenate };`)();
}

export function temporaryFolder() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'placeharvest-page-'));
}

// What the console program makes of `file`, run in its folder so that its
// messages name it as the page does: both outputs, standard error and the
// exit status.
export function consoleSplit(file) {
  const folder = temporaryFolder();
  const outputs = [path.join(folder, 'c.ged'), path.join(folder, 'r.ged')];
  const run = spawnSync(programPath(), [path.basename(file), ...outputs], {
    cwd: path.dirname(file),
    env: { ...process.env, LC_ALL: 'C' },
  });
  const result = {
    status: run.status,
    messages: run.stderr.toString('utf8'),
    coordinates: fs.readFileSync(outputs[0]),
    cleaned: fs.readFileSync(outputs[1]),
  };
  fs.rmSync(folder, { recursive: true });
  return result;
}

// Every GEDCOM file of the project's examples and the real exports beside
// the project.
export function realFiles() {
  const folders = ['examples', '../shared/testdata', '../shared/testdata-with-places'];
  const files = [];
  const visit = (folder) => {
    if (!fs.existsSync(folder)) return;
    for (const entry of fs.readdirSync(folder, { withFileTypes: true })) {
      const full = path.join(folder, entry.name);
      if (entry.isDirectory()) visit(full);
      else if (/\.ged$/i.test(entry.name)) files.push(full);
    }
  };
  for (const folder of folders) visit(path.resolve(sourceDir, folder));
  return files.sort();
}
