// PlaceHarvest.html in a real browser, opened from disk as a user opens it:
// the same bytes and messages as the console program on every real file,
// no request of any kind, a progress bar on a large tree, and a page that
// works by keyboard, at a phone's width and at 200% zoom.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { pathToFileURL } from 'node:url';

import { chromium } from 'playwright-core';

import { consoleSplit, pagePath, programPath, realFiles, temporaryFolder } from './harness.mjs';

let browser;
before(async () => {
  browser = await chromium.launch({
    executablePath: process.env.PLACEHARVEST_CHROMIUM || '/usr/bin/chromium',
    // No sandbox as root; nothing in the background that would reach out.
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update',
           '--disable-sync'],
  });
});
after(() => browser.close());

async function openPage(viewport = { width: 1280, height: 800 }) {
  const context = await browser.newContext({ acceptDownloads: true, viewport });
  const page = await context.newPage();
  const requests = [];
  page.on('request', (request) => requests.push(request.url()));
  page.on('pageerror', (error) => assert.fail(`the page failed: ${error.message}`));
  await page.goto(pathToFileURL(pagePath()).href);
  return { page, requests };
}

// Chooses `file` on the page and waits until it is split; returns what the
// page shows.
async function choose(page, file) {
  await page.evaluate(() => { document.body.dataset.state = 'choosing'; });
  await page.setInputFiles('#file', file);
  await page.waitForSelector('body[data-state=done]', { timeout: 120000 });
  return {
    summary: await page.textContent('#summary'),
    messages: await page.isVisible('#messages') ? await page.textContent('#messages') : '',
    offered: await page.isVisible('#downloads'),
  };
}

// Downloads an output by its button, with the keyboard when asked to.
async function download(page, output, { keyboard = false } = {}) {
  const button = `#download-${output}`;
  const downloading = page.waitForEvent('download');
  if (keyboard) {
    await page.focus(button);
    await page.keyboard.press('Enter');
  } else {
    await page.click(button);
  }
  const file = await downloading;
  const saved = path.join(temporaryFolder(), file.suggestedFilename());
  await file.saveAs(saved);
  const bytes = fs.readFileSync(saved);
  fs.rmSync(path.dirname(saved), { recursive: true });
  return { name: file.suggestedFilename(), bytes };
}

function expectSameAsConsole(got, expected, file) {
  assert.equal(got.messages, expected.messages, file);
  assert.ok(got.coordinates.bytes.equals(expected.coordinates), `${file}: coordinates`);
  assert.ok(got.cleaned.bytes.equals(expected.cleaned), `${file}: cleaned`);
}

test('splits every real file as the console program does, and asks for nothing', async () => {
  const files = realFiles();
  assert.ok(files.length > 0);
  const requests = [];
  for (const [index, file] of files.entries()) {
    // A page of its own for each file: a tab that starts many downloads
    // within seconds is held back by the browser.
    const opened = await openPage();
    const { page } = opened;
    const keyboard = index === 0;
    if (keyboard) {
      // The file chooser is the first thing the keyboard reaches.
      await page.keyboard.press('Tab');
      assert.equal(await page.evaluate(() => document.activeElement.id), 'file');
    }
    const expected = consoleSplit(file);
    const shown = await choose(page, file);
    assert.equal(shown.offered, true, file);
    const coordinates = await download(page, 'coordinates', { keyboard });
    const cleaned = await download(page, 'cleaned', { keyboard });
    const stem = path.basename(file).replace(/\.[^.]*$/, '');
    assert.equal(coordinates.name, `${stem}-coordinates${path.extname(file)}`);
    assert.equal(cleaned.name, `${stem}-cleaned${path.extname(file)}`);
    expectSameAsConsole({ ...shown, coordinates, cleaned }, expected, file);
    if (index === files.length - 1) {
      // The same file chosen again, as after a new export of it, is split
      // again.
      const again = await choose(page, file);
      assert.equal(again.offered, true);
    }
    requests.push(...opened.requests);
    await page.context().close();
  }
  // The page and the blobs it made of its own outputs, and nothing else.
  const elsewhere = requests.filter((url) => !/^(file|blob|data):/.test(url));
  assert.deepEqual(elsewhere, []);
});

test('shows its progress on a tree of 100 MB and gives the same bytes', async () => {
  const folder = temporaryFolder();
  try {
    const tree = path.join(folder, 'large.ged');
    const generator = path.join(path.dirname(programPath()), 'generate_gedcom');
    const made = spawnSync(generator, ['100M', '--crlf'], { maxBuffer: 256 << 20 });
    assert.equal(made.status, 0, made.stderr.toString());
    fs.writeFileSync(tree, made.stdout);
    const expected = consoleSplit(tree);
    const { page } = await openPage();
    const progressShown = page.waitForSelector('#working:not([hidden])', { timeout: 120000 });
    const shown = await choose(page, tree);
    await progressShown;
    assert.match(shown.summary, /^Moved \d+ place records into the coordinates file\.$/);
    expectSameAsConsole({ ...shown, coordinates: await download(page, 'coordinates'),
                          cleaned: await download(page, 'cleaned') }, expected, tree);
  } finally {
    fs.rmSync(folder, { recursive: true });
  }
});

test('fits a phone and 200% zoom, a long message and the buttons included', async () => {
  const example = realFiles().find((file) => file.endsWith('examples/family.ged'));
  // 200% zoom in a window 1280 pixels wide leaves 640 of them.
  for (const viewport of [{ width: 360, height: 640 }, { width: 640, height: 400 }]) {
    const { page } = await openPage(viewport);
    await choose(page, example);
    const overflow = await page.evaluate(
        () => document.documentElement.scrollWidth - document.documentElement.clientWidth);
    assert.equal(overflow, 0, `${viewport.width} pixels wide`);
    await page.getByLabel('Choose a GEDCOM file').isVisible();
  }
});
