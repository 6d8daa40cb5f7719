// veltra-host in Chromium on the demo globe with a large feature layer: how long "addfeatures" with
// 10,000 polygons takes until a picture shows them, how long "removefeature" takes until a picture
// no longer shows the removed polygon, and pictures per second while the camera flies over the
// layer, with the layer shown and hidden. Needs the build, Chromium and playwright-core
// (scripts/install-deps.sh --tests):
//
//   node bench/host/globe-bench.mjs [--polygons N] [--removals N] [--pictures png|jpeg]
//
// The layer: N red squares (style fill #ff0000, heights kept) on a square grid of 0.01 degrees of
// latitude (and as many metres of longitude) centred on 10 E 25 N, 200 m above the ground so no
// terrain tile covers them, each square 70 % of its cell; ids 1..N, row by row from the south-west.
// The page is 1280 x 720; the camera looks straight down from 220 km, where a cell is about 7
// pixels and 10,000 squares fill the middle 680 pixels. The feature text is built in the page
// (about 2 MiB) and crosses to the host in the call.
//
// How each figure is taken (times are performance.now() in the page):
// - Pictures: every picture the element draws ("veltrapicture") is logged with its arrival time and
//   the number of red pixels in the middle 400 x 400 of the canvas. Pictures come as PNG by default,
//   so a still view gives the same count every time.
// - addfeatures: from the call until the first picture whose red count reaches 90 % of the count the
//   view settles on (no picture for 2 s); the call alone is the time addfeatures took to return.
// - removefeature: squares near the middle, one at a time, each from a settled view: from the call
//   until the first picture with at least 8 red pixels fewer (a square is about 22 pixels).
// - Flight: "setviewpoint" with a 5 s flight to a corner of the layer at 60 km, pitch -60, and back;
//   pictures shown during the two flights over their time. Then the same with the layer hidden.
import {
  buildDir, launchBrowser, startHost, openPage, siteWith, missingPieces, patience, waitForQuietView, globeUnsupported,
} from "../../tests/e2e/support.mjs";
import { option, quantile, removeHostCache, resultTable } from "./bench-support.mjs";

const polygons = Number(option("--polygons", "10000"));
const removals = Number(option("--removals", "5"));
const pictures = option("--pictures", "png");
const CENTRE = [10, 25];
const RANGE = 220000;

const page1280 = `<!DOCTYPE html><html><head><meta charset="utf-8"><title>globe bench</title>
<script>function ready(element) { window.plugin = element; }</script>
<script src="/veltra.js"></script></head><body style="margin:0">
<object id="view" type="application/x-veltra" width="1280" height="720"><param name="onload" value="ready"></object>
</body></html>`;

const missing = missingPieces();
if (missing) {
  console.error(`cannot run: ${missing}`);
  process.exit(2);
}

const progress = (text) => console.error(`globe-bench: ${text}`);
const median = (values) => quantile(values, 0.5);
const ms = (value) => `${value.toFixed(1)} ms`;

function viewpoint(lon, lat, range, { heading = 0, pitch = -90, time = 0 } = {}) {
  return JSON.stringify({
    long: String(lon), lat: String(lat), height: "0", heading: String(heading), pitch: String(pitch),
    range: String(range), time: String(time),
  });
}

// Logs every picture: arrival time and red pixels in the middle 400 x 400.
function installPictureLog(page) {
  return page.evaluate(() => {
    const element = document.getElementById("view");
    const canvas = element.querySelector("canvas");
    const context = canvas.getContext("2d", { willReadFrequently: true });
    const side = 400;
    const redPixels = () => {
      const x0 = Math.max(0, Math.floor(canvas.width / 2 - side / 2));
      const y0 = Math.max(0, Math.floor(canvas.height / 2 - side / 2));
      const data = context.getImageData(x0, y0, Math.min(side, canvas.width), Math.min(side, canvas.height)).data;
      let red = 0;
      for (let i = 0; i < data.length; i += 4) {
        if (data[i] > 90 && data[i] > 2.5 * data[i + 1] && data[i] > 2.5 * data[i + 2]) red++;
      }
      return red;
    };
    window.bench = { log: [], redPixels };
    element.addEventListener("veltrapicture", () => window.bench.log.push({ t: performance.now(), red: redPixels() }));
  });
}

// Calls plugin[method](...args) and returns the call time and the pictures that arrive until none
// has for `quiet` ms, as [ms after the call, red]. For addfeatures the text built in the page
// (buildFeatures) takes the place of the second argument, so it never crosses from here.
function callAndWatch(page, method, argsText, quiet = 2000) {
  return page.evaluate(async ({ method, argsText, quiet, limit }) => {
    const args = JSON.parse(argsText);
    if (method === "addfeatures") args[1] = window.benchFeatures;
    const log = window.bench.log;
    const from = log.length;
    const start = performance.now();
    let error = null;
    try {
      plugin[method](...args);
    } catch (e) {
      error = e.message;
    }
    const call = performance.now() - start;
    for (;;) {
      await new Promise((done) => setTimeout(done, 20));
      const now = performance.now();
      if (now - Math.max(start, log.length > from ? log[log.length - 1].t : 0) >= quiet) break;
      if (now - start > limit) break;
    }
    return { error, call, pictures: log.slice(from).map((p) => [p.t - start, p.red]) };
  }, { method, argsText, quiet, limit: patience });
}

// The feature text, built in the page: `count` squares on a grid around the centre.
function buildFeatures(page, count) {
  return page.evaluate(({ count, centre }) => {
    const perRow = Math.ceil(Math.sqrt(count));
    const cellLat = 0.01;
    const cellLon = 0.01 / Math.cos((centre[1] * Math.PI) / 180);
    const west = centre[0] - (perRow * cellLon) / 2;
    const south = centre[1] - (perRow * cellLat) / 2;
    const round = (value) => Math.round(value * 1e5) / 1e5;
    const features = [];
    for (let i = 0; i < count; i++) {
      const x = west + (i % perRow) * cellLon + 0.15 * cellLon;
      const y = south + Math.floor(i / perRow) * cellLat + 0.15 * cellLat;
      const w = 0.7 * cellLon;
      const h = 0.7 * cellLat;
      const ring = [[x, y], [x + w, y], [x + w, y + h], [x, y + h], [x, y]].map(([a, b]) => [round(a), round(b), 200]);
      features.push({ type: "Feature", id: i + 1, properties: {}, geometry: { type: "Polygon", coordinates: [ring] } });
    }
    window.benchFeatures = JSON.stringify({ type: "FeatureCollection", features });
    return { perRow, bytes: window.benchFeatures.length };
  }, { count, centre: CENTRE });
}

// Pictures per second over a flight to a corner of the layer and back, 5 s each way.
async function flightRate(page) {
  await page.evaluate((vp) => plugin.setviewpoint(vp), viewpoint(...CENTRE, RANGE));
  await waitForQuietView(page, "#view", 1000);
  const shown = () => page.evaluate(() => window.bench.log.length);
  const from = await shown();
  const start = Date.now();
  await page.evaluate((vp) => plugin.setviewpoint(vp),
    viewpoint(CENTRE[0] + 0.4, CENTRE[1] + 0.4, 60000, { heading: 45, pitch: -60, time: 5 }));
  await page.waitForTimeout(5000);
  await page.evaluate((vp) => plugin.setviewpoint(vp), viewpoint(...CENTRE, RANGE, { time: 5 }));
  await page.waitForTimeout(5000);
  return ((await shown()) - from) / ((Date.now() - start) / 1000);
}

const { report, print } = resultTable();

const site = siteWith({ "globe-bench.html": page1280 });
const host = await startHost(site.folder, ["--pictures", pictures]);
const browser = await launchBrowser();
try {
  const { page } = await openPage(browser, host, "globe-bench.html");
  await page.setViewportSize({ width: 1400, height: 800 });
  await page.waitForFunction(() => window.plugin, null, { timeout: patience });
  const unsupported = await globeUnsupported(page);
  if (unsupported) {
    console.error(`cannot run: ${unsupported}`);
    process.exitCode = 2;
  } else {
    await installPictureLog(page);
    await page.evaluate((vp) => plugin.setviewpoint(vp), viewpoint(...CENTRE, RANGE));
    progress("waiting for the terrain under the layer");
    await waitForQuietView(page, "#view", 2000);
    const built = await buildFeatures(page, polygons);
    report("feature text", `${polygons} polygons, ${(built.bytes / 1048576).toFixed(2)} MiB`);
    await page.evaluate(() => plugin.createlayer("bench", JSON.stringify({ fill: "#ff0000", "altitude-clamping": "none" })));
    await waitForQuietView(page, "#view", 1000);

    progress(`addfeatures with ${polygons} polygons`);
    const added = await callAndWatch(page, "addfeatures", JSON.stringify(["bench", null]));
    if (added.error) throw new Error(`addfeatures failed: ${added.error}`);
    const settled = added.pictures.length ? added.pictures[added.pictures.length - 1][1] : 0;
    const shows = added.pictures.find(([, red]) => red >= 0.9 * settled && settled > 0);
    report("addfeatures: call", ms(added.call));
    report("addfeatures: call to first picture showing them", shows ? ms(shows[0]) : "no such picture");
    report("red pixels in the middle 400 x 400, settled", String(settled));

    progress(`removefeature, ${removals} times`);
    const middle = Math.floor(built.perRow / 2);
    const offsets = [[0, 0], [3, -2], [-4, 5], [6, 1], [-2, -6], [5, 5], [-6, -3], [1, 6]];
    const calls = [];
    const gone = [];
    let missed = 0;
    for (let k = 0; k < removals; k++) {
      const [dx, dy] = offsets[k % offsets.length].map((v) => v + 2 * Math.floor(k / offsets.length));
      const id = (middle + dy) * built.perRow + (middle + dx) + 1;
      const before = await page.evaluate(() => window.bench.redPixels());
      const removed = await callAndWatch(page, "removefeature", JSON.stringify(["bench", String(id)]), 1000);
      if (removed.error) throw new Error(`removefeature failed: ${removed.error}`);
      calls.push(removed.call);
      const without = removed.pictures.find(([, red]) => red <= before - 8);
      if (without) gone.push(without[0]);
      else missed++;
    }
    report("removefeature: call, median / max", `${ms(median(calls))} / ${ms(Math.max(...calls))}`);
    report("removefeature: call to picture without it, median / max",
      gone.length ? `${ms(median(gone))} / ${ms(Math.max(...gone))}` : "no such picture");
    if (missed) report("removals without a picture that lost the square", String(missed));

    progress("flying over the layer");
    report("pictures per second, flying over the layer", (await flightRate(page)).toFixed(1));
    await page.evaluate(() => plugin.showlayer("bench", false));
    report("pictures per second, same flight, layer hidden", (await flightRate(page)).toFixed(1));

    print(`globe-bench: ${polygons} polygons, pictures ${pictures}, 1280 x 720`);
  }
} finally {
  await browser.close();
  await host.stop();
  site.remove();
  removeHostCache(buildDir, host);
}
