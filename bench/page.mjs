// Throughput of the page against the console program, side by side: one
// generated tree split by the console program, by the page's engine under
// node (writing both outputs to files, as the program does) and by
// PlaceHarvest.html in headless Chromium (from choosing the file until the
// downloads are offered), in interleaved rounds after a warm-up. Prints the
// median times and the medians of the per-round throughput ratios.
//
//   node bench/page.mjs PROGRAM GENERATOR PAGE ENGINE [--size 100M]
//        [--rounds 5] [--folder /dev/shm/placeharvest-page-bench]
//
// bench/page builds what it needs and runs this.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const require = createRequire(new URL('../tests/web/package.json', import.meta.url));
const { chromium } = require('playwright-core');

const [program, generator, page, engine, ...options] = process.argv.slice(2);
const option = (name, fallback) => {
  const at = options.indexOf(name);
  return at >= 0 ? options[at + 1] : fallback;
};
const size = option('--size', '100M');
const rounds = Number(option('--rounds', '5'));
const folder = option('--folder', '/dev/shm/placeharvest-page-bench');

fs.mkdirSync(folder, { recursive: true });
const tree = path.join(folder, 'tree.ged');
const made = spawnSync(generator, [size], { maxBuffer: 4 << 30 });
if (made.status !== 0) throw new Error(`cannot generate the tree: ${made.stderr}`);
fs.writeFileSync(tree, made.stdout);

const engineSource = fs.readFileSync(new URL('../web/engine.js', import.meta.url), 'utf8');
const { placeHarvestSplit, outputNames } =
    new Function(`${engineSource}\nreturn { placeHarvestSplit, outputNames };`)();
const engineModule = new WebAssembly.Module(fs.readFileSync(engine));

function seconds(start) {
  return Number(process.hrtime.bigint() - start) / 1e9;
}

function consoleRun() {
  const start = process.hrtime.bigint();
  spawnSync(program, [tree, path.join(folder, 'c.ged'), path.join(folder, 'r.ged')]);
  return seconds(start);
}

function nodeRun() {
  const start = process.hrtime.bigint();
  const input = fs.openSync(tree, 'r');
  const outputs = ['c.ged', 'r.ged'].map((name) => fs.openSync(path.join(folder, name), 'w'));
  placeHarvestSplit(engineModule, {
    size: fs.fstatSync(input).size,
    readInto: (offset, target) => fs.readSync(input, target, 0, target.length, offset),
  }, (which, bytes) => fs.writeSync(outputs[which], bytes), outputNames('tree.ged'));
  [input, ...outputs].forEach((descriptor) => fs.closeSync(descriptor));
  return seconds(start);
}

const browser = await chromium.launch({
  executablePath: process.env.PLACEHARVEST_CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
const tab = await browser.newPage();
await tab.goto(pathToFileURL(path.resolve(page)).href);

async function pageRun() {
  await tab.evaluate(() => { document.body.dataset.state = 'choosing'; });
  const start = process.hrtime.bigint();
  await tab.setInputFiles('#file', tree);
  await tab.waitForSelector('body[data-state=done]', { timeout: 600000 });
  return seconds(start);
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const times = { console: [], node: [], page: [] };
for (let round = 0; round <= rounds; round++) {
  const measured = { console: consoleRun(), node: nodeRun(), page: await pageRun() };
  if (round === 0) continue;  // the warm-up
  for (const [name, time] of Object.entries(measured)) times[name].push(time);
}
await browser.close();

const bytes = fs.statSync(tree).size;
const ratios = (name) => times[name].map((time, round) => times.console[round] / time);
console.log(`${(bytes / 1e6).toFixed(0)} MB generated tree, ${rounds} rounds, medians`);
console.log('| what | seconds | MB/s | throughput against the console program |');
console.log('|---|---|---|---|');
for (const name of ['console', 'node', 'page']) {
  const time = median(times[name]);
  const ratio = name === 'console' ? '1' : median(ratios(name)).toFixed(2);
  console.log(`| ${name} | ${time.toFixed(3)} | ${(bytes / 1e6 / time).toFixed(0)} | ${ratio} |`);
}
fs.rmSync(folder, { recursive: true });
