// veltra-host in Chromium: page-to-plug-in call round trips per second, pictures per second
// streamed for a 1280 x 720 view while the camera moves, and the time from a page input event to
// the first picture that shows its effect; and how fast a text argument crosses: "echo" of 0.2, 1
// and 10 MB texts (page -> plug-in method -> back, in MB/s of UTF-8), beside a bare "echo" call.
// Needs the build, Chromium and playwright-core (scripts/install-deps.sh --tests):
//
//   node bench/host/host-bench.mjs [--seconds N] [--pictures jpeg|png] [--only texts|views] [--single-process]
//
// --single-process serves the page from the host's own process, as before page processes.
import { launchBrowser, startHost, openPage, siteWith, missingPieces } from "../../tests/e2e/support.mjs";
import { flag, option } from "./bench-support.mjs";

const seconds = Number(option("--seconds", "5"));
const pictures = option("--pictures", "jpeg");
// "texts" measures only the text crossings, "views" only calls, pictures and input.
const only = option("--only", "");

const page1280 = `<!DOCTYPE html><html><head><meta charset="utf-8"><title>bench</title>
<script>function ready(element) { window.plugin = element; }</script>
<script src="/veltra.js"></script></head><body style="margin:0">
<object id="view" type="application/x-veltra" width="1280" height="720"><param name="onload" value="ready"></object>
</body></html>`;

// Texts like a feature layer's GeoJSON, with some multi-byte characters, quotes and backslashes
// (which JSON escapes), built in the page to `bytes` bytes of UTF-8.
function makeText(bytes) {
  const piece = '{"type":"Feature","id":17,"properties":{"名称":"管线 \\"A\\" \\\\ 1"},' +
    '"geometry":{"type":"Polygon","coordinates":[[[121.5610,29.8768],[121.5620,29.8770],[121.5610,29.8768]]]}},';
  const unit = new TextEncoder().encode(piece).length;
  let text = piece.repeat(Math.floor(bytes / unit));
  return text + "x".repeat(bytes - new TextEncoder().encode(text).length);
}

// "echo" of texts of each size, best of a few rounds, and a bare "echo" for comparison.
async function measureTexts(page) {
  const bare = await page.evaluate(() => {
    for (let i = 0; i < 20; i++) plugin.echo("");
    const rounds = 200;
    const start = performance.now();
    for (let i = 0; i < rounds; i++) plugin.echo("");
    return (performance.now() - start) / rounds;
  });
  console.log(`bare call, ms (plugin.echo("")):             ${bare.toFixed(2)}`);
  for (const megabytes of [0.2, 1, 10]) {
    const outcome = await page.evaluate(([source, bytes]) => {
      const text = (0, eval)("(" + source + ")")(bytes);
      const times = [];
      for (let round = 0; round < (bytes > 5e6 ? 3 : 5); round++) {
        const start = performance.now();
        let back;
        try {
          back = plugin.echo(text);
        } catch (error) {
          return { error: error.message.slice(0, 120) };
        }
        times.push(performance.now() - start);
        if (back !== text) return { error: "the text came back changed" };
      }
      times.sort((a, b) => a - b);
      return { best: times[0], median: times[Math.floor(times.length / 2)] };
    }, [makeText.toString(), Math.round(megabytes * 1e6)]);
    const label = `echo of ${megabytes} MB, ms (best / median), MB/s:`.padEnd(46);
    if (outcome.error) {
      console.log(`${label} failed: ${outcome.error}`);
      continue;
    }
    console.log(`${label} ${outcome.best.toFixed(1)} / ${outcome.median.toFixed(1)}, ` +
      `${(megabytes / (outcome.median / 1000)).toFixed(1)}`);
  }
}

const missing = missingPieces();
if (missing) {
  console.error(`cannot run: ${missing}`);
  process.exit(2);
}

const site = siteWith({ "bench.html": page1280 });
const host = await startHost(site.folder, ["--pictures", pictures, ...(flag("--single-process") ? ["--single-process"] : [])]);
const browser = await launchBrowser();
try {
  const { page } = await openPage(browser, host, "bench.html");
  await page.setViewportSize({ width: 1400, height: 800 });
  await page.waitForFunction(() => window.plugin, null, { timeout: 30000 });
  await page.evaluate(() => plugin.loadfile(new URL("building.osgt", location.href).href));
  await page.waitForTimeout(1000);

  if (only !== "texts") {
    // 1. A property read in a loop: each is one synchronous request through the browser thread.
    const calls = await page.evaluate((ms) => {
      const start = performance.now();
      let count = 0;
      while (performance.now() - start < ms) {
        plugin.version;
        count++;
      }
      return { count, ms: performance.now() - start };
    }, seconds * 1000);
    const callsPerSecond = calls.count / (calls.ms / 1000);

    // 2. Pictures shown per second while the camera keeps turning: a quick drag released in motion
    // throws the trackball, which then spins on its own, so every frame differs from the last.
    const shown = () => page.evaluate(() => window.__veltraHost.pictures(document.getElementById("view")));
    const box = await page.locator("#view canvas").boundingBox();
    const centre = { x: box.x + box.width / 2, y: box.y + box.height / 2 };
    await page.mouse.move(centre.x, centre.y);
    await page.mouse.down();
    for (let i = 1; i <= 4; i++) await page.mouse.move(centre.x + 15 * i, centre.y);
    await page.mouse.up();
    await page.waitForTimeout(500);
    const before = await shown();
    const spinStart = Date.now();
    await page.waitForTimeout(seconds * 1000);
    const framesPerSecond = ((await shown()) - before) / ((Date.now() - spinStart) / 1000);
    await page.evaluate(() => plugin.home());

    // 3. From a wheel event on the canvas to the first picture drawn after it, with the view at rest.
    await page.evaluate(() => {
      const element = document.getElementById("view");
      window.latencies = [];
      element.querySelector("canvas").addEventListener("wheel", () => { window.inputAt = performance.now(); }, true);
      element.addEventListener("veltrapicture", () => {
        if (window.inputAt !== undefined) {
          window.latencies.push(performance.now() - window.inputAt);
          window.inputAt = undefined;
        }
      });
    });
    const trials = 20;
    for (let i = 0; i < trials; i++) {
      await page.waitForTimeout(400); // the view settles and stops sending pictures
      await page.mouse.move(centre.x, centre.y);
      await page.mouse.wheel(0, i % 2 ? 120 : -120);
      await page.waitForFunction((n) => window.latencies.length >= n, i + 1, { timeout: 10000 });
    }
    const latencies = (await page.evaluate(() => window.latencies)).sort((a, b) => a - b);
    const at = (q) => latencies[Math.min(latencies.length - 1, Math.floor(q * latencies.length))];

    console.log(`pictures: ${pictures}, 1280 x 720, ${seconds} s per measure`);
    console.log(`call round trips per second (plugin.version): ${callsPerSecond.toFixed(0)}`);
    console.log(`pictures per second while the camera moves:   ${framesPerSecond.toFixed(1)}`);
    console.log(`input to first picture, ms (median / p90 / max of ${trials}): ` +
      `${at(0.5).toFixed(1)} / ${at(0.9).toFixed(1)} / ${latencies[latencies.length - 1].toFixed(1)}`);
  }
  if (only !== "views") {
    await measureTexts(page);
  }
} finally {
  await browser.close();
  await host.stop();
  site.remove();
}
