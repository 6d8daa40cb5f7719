// The demo page in a real browser: the element becomes the viewer, the page drives it and hears
// from it, and nothing deadlocks when the two call each other.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import {
  missingPieces, launchBrowser, startHost, openPage, waitFor, canvasPixels, pixelAt, demoSite, patience,
} from "./support.mjs";

const missing = missingPieces();
let host;
let browser;
let view; // { page, console, errors }

before(async () => {
  if (missing) return;
  host = await startHost(demoSite);
  browser = await launchBrowser();
  view = await openPage(browser, host, "index.html?autoplay=0");
  await view.page.waitForFunction(() => /viewer ready/.test(document.getElementById("log").textContent),
    null, { timeout: patience });
});

after(async () => {
  await browser?.close();
  await host?.stop();
});

const background = [0x33, 0x33, 0x66];
function differsFromBackground(pixel) {
  return pixel.some((channel, i) => Math.abs(channel - background[i]) > 24);
}

test("as a visitor opens it, the demo shows the building and plays its schedule", { skip: missing || false }, async () => {
  const visitor = await openPage(browser, host, "index.html");
  const log = () => visitor.page.evaluate(() => document.getElementById("log").textContent);
  await waitFor(async () => /ondateChanged \d{4}-\d{2}-\d{2}[\s\S]*ondateChanged \d{4}-\d{2}-\d{2}/.test(await log()), patience,
    "the schedule did not start playing on its own");
  const text = await log();
  assert.match(text, /loadfile -> /);
  assert.match(text, /loadProgressControl -> true/);
  const pixels = await canvasPixels(visitor.page, "#plugin");
  let changed = 0;
  for (let i = 0; i < pixels.data.length; i += 16) {
    if (differsFromBackground([pixels.data[i], pixels.data[i + 1], pixels.data[i + 2]])) changed++;
  }
  assert.ok(changed > 200, "the building is on the canvas");
  assert.deepEqual(visitor.errors, []);
  await visitor.page.close();
});

test("the element is the viewer: onload, a model on its canvas, page functions called back", { skip: missing || false }, async () => {
  const { page } = view;
  assert.match(await page.evaluate(() => document.getElementById("log").textContent), /viewer ready, version 1\.0\.0\.0/);
  assert.equal(await page.evaluate(() => plugin === document.getElementById("plugin")), true,
    "onload receives the element itself");

  await page.evaluate(() => plugin.loadfile(new URL("building.osgt", location.href).href));
  let wall = null;
  let lastLook = null;
  await waitFor(async () => {
    const pixels = await canvasPixels(page, "#plugin");
    let changed = 0;
    for (let y = 0; y < pixels.height; y += 4) {
      for (let x = 0; x < pixels.width; x += 4) {
        const pixel = pixelAt(pixels, x, y);
        if (differsFromBackground(pixel)) changed++;
        // The walls' brick red, a part with an id of its own.
        if (!wall && pixel[0] > 190 && pixel[1] > 110 && pixel[1] < 175 && pixel[2] < 150) wall = { x, y };
      }
    }
    lastLook = { changed, wall, pictures: await page.evaluate(() => window.__veltraHost.pictures(plugin)) };
    return changed > 500 && wall;
  }, patience, () => `the building does not appear on the element's canvas: ${JSON.stringify(lastLook)}`);

  // With part queries on, a click on a wall reports its id to getAttr at a following mouse-up.
  assert.equal(await page.evaluate(() => plugin.querymodelid(true)), true);
  await page.evaluate(() => {
    window.reportedIds = [];
    window.getAttr = (id) => window.reportedIds.push(id);
  });
  const box = await page.locator("#plugin canvas").boundingBox();
  await page.mouse.click(box.x + wall.x, box.y + wall.y);
  const ids = await waitFor(async () => {
    await page.mouse.click(box.x + 3, box.y + 3);
    const reported = await page.evaluate(() => window.reportedIds);
    return reported.length ? reported : null;
  }, patience, "getAttr was not called after a click on a part");
  const binding = readFileSync(join(demoSite, "binding.json"), "utf8");
  assert.match(ids[0], /^\d+$/);
  assert.ok(binding.includes(ids[0]), `the reported id ${ids[0]} is one of the building's parts`);
  assert.equal(await page.evaluate(() => plugin.querymodelid(false)), false);
});

test("the schedule plays and the page hears every date change in order", { skip: missing || false }, async () => {
  const { page } = view;
  await page.evaluate(() => {
    window.dates = [];
    window.todayInsideHandler = [];
    plugin.addEventListener("dateChanged", function (today, plan, actual) {
      window.dates.push(today);
      // A synchronous call back into the plug-in while it waits for this handler.
      if (window.todayInsideHandler.length < 3) window.todayInsideHandler.push(plugin.getProgressControlToday());
    });
    const site = (name) => new URL(name, location.href).href;
    if (!plugin.loadProgressControl(site("building.osgt"), encodeURIComponent(site("tasks.json")),
                                    encodeURIComponent(site("binding.json")))) throw new Error("schedule refused");
    plugin.setProgressControlSpeed(60);
    plugin.startProgressControl();
  });
  const dates = await waitFor(async () => {
    const seen = await page.evaluate(() => window.dates.slice());
    return seen.length >= 8 ? seen : null;
  }, patience, "fewer than 8 date changes reached the page");
  for (const date of dates) assert.match(date, /^\d{4}-\d{2}-\d{2}$/);
  for (let i = 1; i < dates.length; i++) assert.ok(dates[i - 1] < dates[i], `dates in order: ${dates[i - 1]} then ${dates[i]}`);
  const inside = await page.evaluate(() => window.todayInsideHandler);
  assert.equal(inside.length, 3);
  for (const today of inside) assert.match(today, /^\d{4}-\d{2}-\d{2}$/);
  await page.evaluate(() => plugin.stopProgressControl());
});

test("bad calls throw page exceptions with the plug-in's own messages", { skip: missing || false }, async () => {
  const { page } = view;
  const messages = await page.evaluate(() => {
    const caught = (action) => {
      try {
        action();
        return "no exception";
      } catch (error) {
        return error.message;
      }
    };
    return {
      readOnly: caught(() => { plugin.version = "9"; }),
      tooMany: caught(() => plugin.home(1)),
      conversion: caught(() => plugin.setProgressControlSpeed({})),
      missing: caught(() => plugin.setpitchrange(10)),
      version: plugin.version,
    };
  });
  assert.equal(messages.readOnly, "Cannot set read-only property version");
  assert.equal(messages.tooMany, "Too many arguments, expected 0.");
  assert.match(messages.conversion, /^Cannot convert from /);
  assert.match(messages.missing, /^Cannot convert from /);
  assert.equal(messages.version, "1.0.0.0", "a refused write changes nothing");
});

test("objects cross both ways: echo returns the page's own object, handlers are called back", { skip: missing || false }, async () => {
  const { page } = view;
  const outcome = await page.evaluate(async (ms) => {
    const thing = { name: "thing" };
    const heard = [];
    const listener = (value, count) => heard.push([value, count]);
    plugin.addEventListener("echo", listener);
    const same = plugin.echo(thing) === thing;
    const element = plugin.echo(plugin) === plugin;
    const fn = () => 1;
    const sameFunction = plugin.echo(fn) === fn;
    for (const deadline = Date.now() + ms; heard.length < 3 && Date.now() < deadline;)
      await new Promise((done) => setTimeout(done, 20));
    plugin.removeEventListener("echo", listener);
    plugin.echo("after removal");
    await new Promise((done) => setTimeout(done, 300));
    return { same, element, sameFunction, heard: heard.map(([value, count]) => [typeof value, typeof count]),
             firstIsThing: heard.length > 0 && heard[0][0] === thing };
  }, patience);
  assert.equal(outcome.same, true);
  assert.equal(outcome.element, true);
  assert.equal(outcome.sameFunction, true);
  assert.equal(outcome.firstIsThing, true, "the event hands over the very object echoed");
  assert.deepEqual(outcome.heard, [["object", "number"], ["object", "number"], ["function", "number"]],
    "three events while listening, none after");
});

test("the canvas forwards the wheel: the view zooms", { skip: missing || false }, async () => {
  const { page } = view;
  await page.evaluate(() => plugin.home());
  const count = (pixels) => {
    let changed = 0;
    for (let i = 0; i < pixels.data.length; i += 16) {
      if (differsFromBackground([pixels.data[i], pixels.data[i + 1], pixels.data[i + 2]])) changed++;
    }
    return changed;
  };
  await page.waitForTimeout(500);
  const before = count(await canvasPixels(page, "#plugin"));
  const box = await page.locator("#plugin canvas").boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  // The viewer's own convention decides which way a wheel turn zooms; either way the model's size
  // on the canvas changes clearly.
  for (let i = 0; i < 5; i++) await page.mouse.wheel(0, 120);
  await waitFor(async () => Math.abs(count(await canvasPixels(page, "#plugin")) - before) > before * 0.2, patience,
    "the model's size on the canvas did not change after turning the wheel");
  assert.deepEqual(view.errors, [], "no script errors on the page");
});
