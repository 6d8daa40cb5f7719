// The globe methods in a real browser: the demo earth file drawn, viewpoints and camera reports,
// picks and camera positions reaching the page's functions, feature layers on the picture, models
// and a playing schedule placed on the globe, and the demo site's globe page.
//
// Every test opens a viewer of its own. When the viewer of this build has no globe support yet
// ("getcamerapostion" answers "" after "loadearthfile") the tests skip, saying so.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import {
  missingPieces, launchBrowser, startHost, openPage, waitFor, canvasPixels, pixelAt, siteWith, demoSite, patience,
  countPixels, waitForQuietView, globeUnsupported,
} from "./support.mjs";

const WIDTH = 800;
const HEIGHT = 500;
const centre = { x: WIDTH / 2, y: HEIGHT / 2 };

// The page records what the viewer reports through the page functions and the date event.
const testPage = `<!DOCTYPE html><html><head><meta charset="utf-8"><title>globe e2e</title>
<script>
window.picks = [];
window.cameraReports = [];
window.dates = [];
function ready(element) {
  window.plugin = element;
  element.addEventListener("dateChanged", (today) => window.dates.push(today));
}
function modelPsotion(text) { window.picks.push(text); }
function changepostion(lon, lat, level) { window.cameraReports.push([lon, lat, level]); }
function site(name) { return new URL(name, location.href).href; }
</script>
<script src="/veltra.js"></script></head><body style="margin:0">
<object id="view" type="application/x-veltra" width="${WIDTH}" height="${HEIGHT}"><param name="onload" value="ready"></object>
</body></html>`;

const missing = missingPieces();
let site;
let host;
let browser;
let noGlobe = null;

before(async () => {
  if (missing) return;
  site = siteWith({ "globe-e2e.html": testPage });
  host = await startHost(site.folder);
  browser = await launchBrowser();
  const probe = await openViewer();
  noGlobe = await globeUnsupported(probe.page);
  await probe.page.close();
});

after(async () => {
  await browser?.close();
  await host?.stop();
  site?.remove();
});

/// False (after marking the test skipped) when the globe methods cannot be checked here.
function globeAvailable(t) {
  if (noGlobe) t.skip(noGlobe);
  return !noGlobe;
}

async function openViewer() {
  const view = await openPage(browser, host, "globe-e2e.html");
  await view.page.waitForFunction(() => window.plugin, null, { timeout: patience });
  return view;
}

/// A viewpoint as "setviewpoint" takes it; every member a text.
function viewpoint(lon, lat, range, { heading = 0, pitch = -89, time = 0 } = {}) {
  return JSON.stringify({
    long: String(lon), lat: String(lat), height: "0", heading: String(heading), pitch: String(pitch),
    range: String(range), time: String(time),
  });
}

const WORLD = [10, 25]; // the demo globe's "World" place: daylight at the earth file's 12:00 UTC
// The globe page's description, written with the site: where the building stands, the viewpoints.
const siteDescription = missing ? null : JSON.parse(readFileSync(join(demoSite, "globe/site.json"), "utf8"));
const SITE = missing ? [0, 0] : siteDescription.building.position.slice(0, 2);

/// A viewer with the demo globe loaded, looking at `where`, its picture settled.
async function openGlobe(where = viewpoint(...WORLD, 2.2e7)) {
  const view = await openViewer();
  await view.page.evaluate((vp) => {
    plugin.loadearthfile(site("globe/world.earth"));
    plugin.setviewpoint(vp);
  }, where);
  await waitForQuietView(view.page, "#view");
  return view;
}

async function finish(view) {
  assert.deepEqual(view.errors, [], "no script errors on the page");
  await view.page.close();
}

const luminance = ([r, g, b]) => 0.3 * r + 0.59 * g + 0.11 * b;
const isRed = ([r, g, b]) => r > 90 && r > 2.5 * g && r > 2.5 * b;
const aroundCentre = (dx, dy) => ({ x0: centre.x - dx, y0: centre.y - dy, x1: centre.x + dx, y1: centre.y + dy });
// The members of a JSON text from the viewer: a flat object, or (as the globe's configuration texts
// come) those members inside one object named `wrapper`.
function members(text, wrapper) {
  const parsed = JSON.parse(text);
  const names = Object.keys(parsed);
  if (names.length === 1 && names[0] === wrapper && typeof parsed[wrapper] === "object") return parsed[wrapper];
  return parsed;
}
const cameraNow = async (page) => members(await page.evaluate(() => plugin.getcamerapostion()), "");
const viewpointNow = async (page) => {
  const text = await page.evaluate(() => plugin.getviewpoint());
  return text ? members(text, "viewpoint") : null;
};
const near = (a, b, tolerance) => Math.abs(Number.parseFloat(a) - Number.parseFloat(b)) <= tolerance;

test('"loadearthfile" puts the lit globe in the picture, with space around it', async (t) => {
  if (missing) return t.skip(missing);
  if (!globeAvailable(t)) return;
  const view = await openViewer();
  const empty = pixelAt(await canvasPixels(view.page, "#view"), centre.x, centre.y);
  await view.page.evaluate((vp) => {
    plugin.loadearthfile(site("globe/world.earth"));
    plugin.setviewpoint(vp);
  }, viewpoint(...WORLD, 2.2e7));
  // At 22,000 km the disc's radius is about 0.86 of the half height (a 30-degree field of view): the
  // middle is all globe, the corners are all space.
  let look = null;
  await waitFor(async () => {
    const pixels = await canvasPixels(view.page, "#view");
    const box = aroundCentre(100, 100);
    const inBox = (box.x1 - box.x0) * (box.y1 - box.y0) / 16;
    const globe = countPixels(pixels, (p) => p.some((c, i) => Math.abs(c - empty[i]) > 24), { box, step: 4 }) / inBox;
    const mean = (area) => {
      let sum = 0;
      let n = 0;
      countPixels(pixels, (p) => { sum += luminance(p); n++; return false; }, { box: area, step: 2 });
      return sum / n;
    };
    const middle = mean(box);
    const corners = [[0, 0], [WIDTH - 30, 0], [0, HEIGHT - 30], [WIDTH - 30, HEIGHT - 30]]
      .map(([x, y]) => mean({ x0: x, y0: y, x1: x + 30, y1: y + 30 }));
    look = { globe, middle, corners };
    return globe > 0.9 && corners.every((c) => middle > c + 25);
  }, patience, () => `no lit globe in the middle of the picture: ${JSON.stringify(look)}`);
  await finish(view);
});

test('"setviewpoint" then "getviewpoint" gives the same viewpoint back, flights take their time', async (t) => {
  if (missing) return t.skip(missing);
  if (!globeAvailable(t)) return;
  const view = await openGlobe();
  const { page } = view;
  const wanted = { long: 2.3522, lat: 48.8566, heading: 20, pitch: -45, range: 30000 };
  await page.evaluate((vp) => plugin.setviewpoint(vp), viewpoint(wanted.long, wanted.lat, wanted.range, wanted));
  const matches = (got, want) => got && near(got.long, want.long, 1e-4) && near(got.lat, want.lat, 1e-4) &&
    near(got.heading, want.heading, 0.01) && near(got.pitch, want.pitch, 0.01) &&
    near(got.range, want.range, want.range * 1e-4);
  let now = null;
  const got = await waitFor(async () => {
    now = await viewpointNow(page);
    return matches(now, wanted) ? now : null;
  }, patience, () => `getviewpoint ${JSON.stringify(now)} is not ${JSON.stringify(wanted)}`);
  for (const member of ["long", "lat", "heading", "pitch", "range"]) assert.equal(typeof got[member], "string", member);
  assert.equal(got.srs, undefined, "the map's reference stays out of the text");

  // What getviewpoint returns goes back into setviewpoint unchanged.
  const text = await page.evaluate(() => plugin.getviewpoint());
  await page.evaluate(({ other, vp }) => {
    plugin.setviewpoint(other);
    plugin.setviewpoint(vp);
  }, { other: viewpoint(...WORLD, 2e7), vp: text });
  assert.ok(matches(await viewpointNow(page), wanted), "the returned text sets the same viewpoint");

  // Viewpoints that cannot be read change nothing.
  for (const bad of ["", "not json", "{}", '{"long":"x","lat":"y"}']) {
    await page.evaluate((vp) => plugin.setviewpoint(vp), bad);
    assert.ok(matches(await viewpointNow(page), wanted), `setviewpoint(${JSON.stringify(bad)}) changed the view`);
  }

  // A flight of 3 s starts where the camera is and ends at the target.
  const far = { long: 10, lat: 25, heading: 0, pitch: -60, range: 3e6 };
  const started = await page.evaluate((vp) => { plugin.setviewpoint(vp); return plugin.getviewpoint(); },
    viewpoint(far.long, far.lat, far.range, { pitch: far.pitch, time: 3 }));
  assert.ok(!matches(members(started, "viewpoint"), far), "a flight does not jump");
  await waitFor(async () => matches(await viewpointNow(page), far), patience, "the flight did not arrive");
  await finish(view);
});

test('"getcamerapostion": level "-1" before a globe, rising as the camera closes in', async (t) => {
  if (missing) return t.skip(missing);
  if (!globeAvailable(t)) return;
  const view = await openViewer();
  const { page } = view;
  const before = await cameraNow(page);
  assert.deepEqual(Object.keys(before).sort(), ["lat", "level", "long"]);
  assert.equal(before.level, "-1");

  await page.evaluate((vp) => {
    plugin.loadearthfile(site("globe/world.earth"));
    plugin.setviewpoint(vp);
  }, viewpoint(...WORLD, 2.2e7));
  await waitForQuietView(page, "#view");
  const far = await waitFor(async () => {
    const camera = await cameraNow(page);
    return Number(camera.level) >= 0 ? camera : null;
  }, patience, "no tile level with the whole globe in view");
  assert.ok(near(far.long, WORLD[0], 0.01) && near(far.lat, WORLD[1], 0.01), JSON.stringify(far));
  for (const member of ["long", "lat", "level"]) assert.equal(typeof far[member], "string", member);
  assert.match(far.level, /^\d+$/);

  await page.evaluate((vp) => plugin.setviewpoint(vp), viewpoint(...SITE, 30000));
  let close = null;
  await waitFor(async () => {
    close = await cameraNow(page);
    return Number(close.level) > Number(far.level) + 2;
  }, patience, () => `the level did not rise from ${far.level} at 22,000 km: ${JSON.stringify(close)} at 30 km`);
  assert.ok(near(close.long, SITE[0], 0.001) && near(close.lat, SITE[1], 0.001), JSON.stringify(close));
  await finish(view);
});

// A click that holds the button for 0.4 s: the press is picked during a frame while the button is
// down, so the report is already waiting when the release reaches the plug-in and runs it.
async function slowClick(page, selector, at) {
  const box = await page.locator(`${selector} canvas`).boundingBox();
  await page.mouse.move(box.x + at.x, box.y + at.y);
  await page.mouse.down();
  await page.waitForTimeout(400);
  await page.mouse.up();
  await page.waitForTimeout(400); // apart from the next click: no double click
}

test('a click with "querymodelinfo" on calls modelPsotion with the clicked point; off, it stops', async (t) => {
  if (missing) return t.skip(missing);
  if (!globeAvailable(t)) return;
  // Looking almost straight down: the middle of the canvas is the viewpoint's own longitude and
  // latitude. A pixel there spans about 0.01 degrees; the report must be within 0.05 degrees.
  const view = await openGlobe(viewpoint(...WORLD, 1e6));
  const { page } = view;
  await page.evaluate(() => plugin.querymodelinfo(true));
  await waitFor(async () => {
    await slowClick(page, "#view", centre);
    return page.evaluate(() => window.picks.length > 0);
  }, patience, "modelPsotion was not called after clicks on the globe");
  const picks = await page.evaluate(() => window.picks);
  for (const text of picks) {
    assert.match(text, /^\S+ \S+ \S+$/, "longitude, latitude and height, blank-separated");
    const [lon, lat, height] = text.split(" ").map(Number);
    assert.ok(Math.abs(lon - WORLD[0]) <= 0.05 && Math.abs(lat - WORLD[1]) <= 0.05, `picked ${text}`);
    assert.ok(Number.isFinite(height), `picked ${text}`);
  }

  await page.evaluate(() => plugin.querymodelinfo(false));
  await slowClick(page, "#view", centre); // runs what a click before the switch left
  await page.waitForTimeout(600);
  const count = await page.evaluate(() => window.picks.length);
  for (let i = 0; i < 3; i++) await slowClick(page, "#view", centre);
  assert.equal(await page.evaluate(() => window.picks.length), count, "no picks reported once switched off");
  await finish(view);
});

// Turns the wheel over the middle of the canvas, 0.4 s apart, until `done`, or `turns` times.
async function wheelUntil(page, done, turns = Infinity) {
  const box = await page.locator("#view canvas").boundingBox();
  await page.mouse.move(box.x + centre.x, box.y + centre.y);
  const deadline = Date.now() + patience;
  for (let i = 0; i < turns && Date.now() < deadline; i++) {
    await page.mouse.wheel(0, i % 2 ? 120 : -120); // in and out, so the view stays about where it was
    await page.waitForTimeout(400);
    if (await done()) return true;
  }
  return false;
}

test('a wheel turn with "enablepostinTomap2d" on calls changepostion; not before a globe, nor once off', async (t) => {
  if (missing) return t.skip(missing);
  if (!globeAvailable(t)) return;
  const view = await openViewer();
  const { page } = view;
  const reports = () => page.evaluate(() => window.cameraReports.length);
  // Before a globe there is no map to report on: switching on does nothing.
  await page.evaluate(() => plugin.enablepostinTomap2d(true));
  await wheelUntil(page, async () => false, 4);
  assert.equal(await reports(), 0, "no camera reports before a globe");

  await page.evaluate((vp) => {
    plugin.loadearthfile(site("globe/world.earth"));
    plugin.setviewpoint(vp);
    plugin.enablepostinTomap2d(true);
  }, viewpoint(...WORLD, 5e6));
  await waitForQuietView(page, "#view");
  assert.ok(await wheelUntil(page, async () => (await reports()) > 0), "changepostion was not called after wheel turns");
  const [lon, lat, level] = (await page.evaluate(() => window.cameraReports))[0];
  // The wheel zooms about the middle of the view, so the camera's longitude and latitude stay.
  assert.ok(Math.abs(lon - WORLD[0]) < 0.5 && Math.abs(lat - WORLD[1]) < 0.5, `reported ${lon}, ${lat}`);
  assert.ok(Number.isInteger(level) && level >= 0, `reported level ${level}`);

  await page.evaluate(() => plugin.enablepostinTomap2d(false));
  await wheelUntil(page, async () => false, 1); // runs what a turn before the switch left
  await page.waitForTimeout(1000);
  const count = await reports();
  await wheelUntil(page, async () => false, 4);
  assert.equal(await reports(), count, "no camera reports once switched off");
  await finish(view);
});

test("feature layers: create, add, show and hide, remove a feature, remove the layer", async (t) => {
  if (missing) return t.skip(missing);
  if (!globeAvailable(t)) return;
  // A red square of 20 by 20 degrees under a camera 5,000 km up: about 375 by 414 pixels in the
  // middle of the canvas. It floats 5 km up, clear of the coarse terrain tiles' chords.
  const view = await openGlobe(viewpoint(...WORLD, 5e6));
  const { page } = view;
  const box = aroundCentre(150, 100);
  const sampled = (300 / 2) * (200 / 2);
  const redShare = async () => countPixels(await canvasPixels(page, "#view"), isRed, { box, step: 2 }) / sampled;
  const square = (id) => JSON.stringify({
    type: "FeatureCollection",
    features: [{
      type: "Feature", id, properties: { name: "red square" },
      geometry: { type: "Polygon", coordinates: [[[0, 15, 5000], [20, 15, 5000], [20, 35, 5000], [0, 35, 5000], [0, 15, 5000]]] },
    }],
  });
  const expect = async (what, redWanted) => {
    let share = null;
    await waitFor(async () => {
      share = await redShare();
      return redWanted ? share > 0.8 : share < 0.05;
    }, patience, () => `${what}: ${(100 * share).toFixed(1)} % of the middle is red`);
  };
  const stays = async (what, redWanted) => {
    await page.waitForTimeout(1500);
    const share = await redShare();
    assert.ok(redWanted ? share > 0.8 : share < 0.05, `${what}: ${(100 * share).toFixed(1)} % of the middle is red`);
  };
  await expect("the globe alone", false);

  const style = JSON.stringify({ fill: "#ff0000", "altitude-clamping": "none" });
  assert.equal(await page.evaluate((s) => plugin.createlayer("e2e", s), style), true);
  await stays("an empty layer", false);
  assert.equal(await page.evaluate((f) => plugin.addfeatures("e2e", f), square(7)), true);
  await expect("after addfeatures", true);

  assert.equal(await page.evaluate(() => plugin.showlayer("e2e", false)), true);
  await expect("after showlayer false", false);
  assert.equal(await page.evaluate(() => plugin.showlayer("e2e", true)), true);
  await expect("after showlayer true", true);

  assert.equal(await page.evaluate(() => plugin.removefeature("e2e", "999")), true);
  await stays("after removing a feature id that is not there", true);
  assert.equal(await page.evaluate(() => plugin.removefeature("e2e", "7")), true);
  await expect("after removefeature 7", false);

  assert.equal(await page.evaluate((f) => plugin.addfeatures("e2e", f), square(8)), true);
  await expect("after adding the square again", true);
  assert.equal(await page.evaluate(() => plugin.removelayer("e2e")), true);
  await expect("after removelayer", false);
  // Calls on a layer that is gone answer true and draw nothing.
  assert.deepEqual(await page.evaluate((f) => [plugin.removelayer("e2e"), plugin.addfeatures("e2e", f),
    plugin.removefeature("e2e", "8"), plugin.showlayer("e2e", true)], square(9)), [true, true, true, true]);
  await stays("after calls on a removed layer", false);
  await finish(view);
});

// How many pixels in `box` (the whole picture by default) differ from `reference`, and the centre of
// those that do.
function difference(reference, pixels, box = { x0: 0, y0: 0, x1: pixels.width, y1: pixels.height }) {
  let count = 0;
  let sx = 0;
  let sy = 0;
  for (let y = box.y0; y < box.y1; y += 2) {
    for (let x = box.x0; x < box.x1; x += 2) {
      const a = pixelAt(reference, x, y);
      const b = pixelAt(pixels, x, y);
      if (a.some((c, i) => Math.abs(c - b[i]) > 40)) {
        count++;
        sx += x;
        sy += y;
      }
    }
  }
  return { count, x: count ? sx / count : NaN, y: count ? sy / count : NaN };
}

// Waits until the picture differs from `reference` in more than `least` sampled pixels around a
// point within `within` pixels of the middle of the canvas. Only the middle 400 x 300 counts: the
// progress display's panels stand at the canvas's edges.
async function waitForModelInMiddle(page, reference, what, least = 100, within = 60) {
  let seen = null;
  await waitFor(async () => {
    seen = difference(reference, await canvasPixels(page, "#view"), aroundCentre(200, 150));
    return seen.count > least && Math.hypot(seen.x - centre.x, seen.y - centre.y) < within;
  }, patience, () => `${what}: ${JSON.stringify(seen)} (changed pixels, their centre)`);
}

test('"loadearthmodel" places the model at its position', async (t) => {
  if (missing) return t.skip(missing);
  if (!globeAvailable(t)) return;
  // 300 m above the site, looking down: the 12 m building is about 40 pixels wide in the middle.
  const view = await openGlobe(viewpoint(...SITE, 300));
  const { page } = view;
  await waitForQuietView(page, "#view", 2000);
  const empty = await canvasPixels(page, "#view");
  await page.evaluate((where) => plugin.loadearthmodel(JSON.stringify({
    url: site("building.osgt"), position: `${where[0]} ${where[1]} 0`, orientation: "0 0 0",
  })), SITE);
  await waitForModelInMiddle(page, empty, "the building placed at the viewpoint's position");
  // A description without a url places nothing.
  const placed = await canvasPixels(page, "#view");
  await page.evaluate((where) => plugin.loadearthmodel(JSON.stringify({ position: `${where[0]} ${where[1]} 0` })), SITE);
  await page.waitForTimeout(1500);
  assert.ok(difference(placed, await canvasPixels(page, "#view")).count < 50, "nothing more drawn");
  await finish(view);
});

test('"loadProgressControlToEarth" plays the schedule on the globe with its "ondateChanged" events', async (t) => {
  if (missing) return t.skip(missing);
  if (!globeAvailable(t)) return;
  const view = await openGlobe(viewpoint(...SITE, 300, { pitch: -60 }));
  const { page } = view;
  await waitForQuietView(page, "#view", 2000);
  const empty = await canvasPixels(page, "#view");
  const loaded = await page.evaluate((where) => {
    const ok = plugin.loadProgressControlToEarth(site("building.osgt"), encodeURIComponent(site("tasks.json")),
      encodeURIComponent(site("binding.json")), where[0], where[1], 0, 0, 0, 0);
    plugin.setProgressControlSpeed(30);
    plugin.startProgressControl();
    return ok;
  }, SITE);
  assert.equal(loaded, true);
  const dates = await waitFor(async () => {
    const seen = await page.evaluate(() => window.dates.slice());
    return seen.length >= 6 ? seen : null;
  }, patience, "fewer than 6 date changes reached the page");
  for (const date of dates) assert.match(date, /^\d{4}-\d{2}-\d{2}$/);
  for (let i = 1; i < dates.length; i++) assert.ok(dates[i - 1] < dates[i], `dates in order: ${dates[i - 1]} then ${dates[i]}`);
  assert.equal(await page.evaluate(() => plugin.getProgressControlState()), 1, "playing");
  await waitForModelInMiddle(page, empty, "the building growing at the site", 50, 80);
  await page.evaluate(() => plugin.stopProgressControl());
  await finish(view);
});

test("the demo site's globe page shows the site and logs picks and camera reports", async (t) => {
  if (missing) return t.skip(missing);
  if (!globeAvailable(t)) return;
  const view = await openPage(browser, host, "globe.html");
  const { page } = view;
  let logText = "";
  const log = async () => (logText = await page.evaluate(() => document.getElementById("log").textContent));
  const lastLines = () => logText.split("\n").slice(-40).join("\n");
  await waitFor(async () => /ondateChanged \d{4}-\d{2}-\d{2}[\s\S]*ondateChanged \d{4}-\d{2}-\d{2}/.test(await log()),
    patience, () => `the schedule did not start playing on the globe page:\n${lastLines()}`);
  await waitFor(async () => /addfeatures\(site, site\.geojson\) -> true/.test(await log()), patience,
    () => `the site's features were not added:\n${lastLines()}`);
  const text = await log();
  assert.match(text, /loadearthfile/);
  assert.match(text, /loadProgressControlToEarth -> true/);
  assert.match(text, /createlayer\(site\) -> true/);
  assert.match(text, /querymodelinfo\(true\)/);
  assert.match(text, /enablepostinTomap2d\(true\)/);

  const places = siteDescription.viewpoints;
  assert.deepEqual(await page.locator("#viewpoints button").allTextContents(), places.map((place) => place.name));
  const shanghai = places.find((place) => place.name === "Shanghai");
  await page.locator("#viewpoints button", { hasText: "Shanghai" }).click();
  await waitFor(async () => {
    const vp = await page.evaluate(() => plugin.getviewpoint());
    return vp && near(members(vp, "viewpoint").long, shanghai.viewpoint.long, 1e-3);
  }, patience, "the Shanghai button did not fly there");

  // One report waits at a time and the later replaces it: a click's pick runs at its release (the
  // release's own camera report comes a frame later), a wheel turn's camera report at the next turn.
  // The controls sit below the viewer on a narrow window: the button's click scrolled the page.
  await page.locator("#plugin canvas").scrollIntoViewIfNeeded();
  const box = await page.locator("#plugin canvas").boundingBox();
  await waitFor(async () => {
    await slowClick(page, "#plugin", { x: box.width / 2, y: box.height / 2 });
    return /modelPsotion: \S+ \S+ \S+/.test(await log());
  }, patience, () => `no picked point in the log:\n${lastLines()}`);
  await waitFor(async () => {
    await page.mouse.wheel(0, -120);
    await page.waitForTimeout(400);
    return /changepostion: \S+, \S+, level \d+/.test(await log());
  }, patience, () => `no camera report in the log:\n${lastLines()}`);
  await finish(view);
});

test("the globe page is linked from the first page and its controls call the viewer", async (t) => {
  if (missing) return t.skip(missing);
  const first = await openPage(browser, host, "index.html?autoplay=0");
  await first.page.locator('a[href="globe.html"]').click();
  await first.page.waitForURL(/\/globe\.html$/);
  await first.page.close();

  // Without ?autoplay=0 the page loads the globe and the site by itself; here each control goes in turn.
  const view = await openPage(browser, host, "globe.html?autoplay=0");
  const { page } = view;
  const log = () => page.evaluate(() => document.getElementById("log").textContent);
  await page.waitForFunction(() => /viewer ready/.test(document.getElementById("log").textContent), null,
    { timeout: patience });
  await page.waitForFunction((n) => document.querySelectorAll("#viewpoints button").length === n,
    siteDescription.viewpoints.length, { timeout: patience });
  assert.equal(await page.inputValue("#layer-name"), "site");
  assert.equal(JSON.parse(await page.inputValue("#layer-style"))["text-content"], "[label]");
  const steps = [
    ["#show-site", /loadearthfile[\s\S]*createlayer\(site\) -> true/],
    ["#viewpoints button:nth-child(2)", /setviewpoint Paris/],
    ["#get-viewpoint", /getviewpoint -> /],
    ["#get-camera", /getcamerapostion -> /],
    ["#picks", /querymodelinfo\(false\)/],
    ["#add-features", /addfeatures\(site, site\.geojson\) -> true/],
    ["#remove-feature", /removefeature\(site, 1\) -> true/],
    ["#hide-layer", /showlayer\(site, false\) -> true/],
    ["#show-layer", /showlayer\(site, true\) -> true/],
    ["#remove-layer", /removelayer\(site\) -> true/],
  ];
  for (const [selector, line] of steps) {
    await page.locator(selector).click();
    let text = "";
    await waitFor(async () => line.test(text = await log()), patience, () => `${selector}: no ${line} in\n${text}`);
  }
  assert.deepEqual(view.errors, [], "no script errors on the page");
  await page.close();
});
