// veltra-host in Chromium on a large model: what a date step of the progress simulation costs until
// its picture reaches the page, whether half-drawn pictures reach it, what small calls cost while the
// viewer draws, the host's CPU with a still view, the load of the model, and pictures per second
// while the camera turns. Needs the build (with the target veltra-bench-model), Chromium and
// playwright-core (scripts/install-deps.sh --tests):
//
//   node bench/host/frame-bench.mjs [--parts N] [--steps N] [--pictures png|jpeg] [--quiet MS] [--skip-load]
//
// --skip-load loads only the binary model and leaves the load figures out. At 10,000 parts a run
// takes about 4 minutes; at 100,000 use fewer steps (--steps 30: a date every 12 days).
//
// The model (veltra-bench-model, written into the bench's copy of the site): N boxes named
// "Element [k]", one geode each, as .osgt and .osgb, and 500 tasks over one year each bound to a
// slice of the elements. The page is 1280 x 720, the schedule shows plan against actual (mode 3).
//
// How each figure is taken (times are performance.now() in the page, around synchronous page calls):
// - Pictures: every picture the page draws is logged with its arrival time (the "veltrapicture"
//   event, after the canvas is drawn) and, while the step measure runs, a 32-bit FNV-1a hash of the
//   canvas pixels. Pictures come as PNG by default, so equal frames hash equal (JPEG noise would
//   make every picture unique).
// - Date steps: setProgressControlToday with each day from the start of the schedule's range (with
//   fewer steps than days, days spread evenly over it). The viewer's date panel shows the day, so
//   every step has a picture of its own, and a still view draws the same scene to the same pixels.
//   After a call the page waits until no picture has arrived for a quiet time (3 frame times of the
//   turning camera, at least 250 ms; --quiet sets it); the picture the view settles on is the
//   step's complete picture. The step's latency is from the call to the first arrival of that
//   picture; the call alone is the time setProgressControlToday took to return. A step whose
//   settled picture equals the previous one, or that brings none, is counted apart.
// - Torn pictures: a picture shown during a step that equals neither the previous step's complete
//   picture nor this step's: a model partly restyled, a date panel out of step with the tints, or
//   a window grabbed while a frame was being copied into it. The page draws only the newest of the
//   pictures that arrive while it decodes one, so this counts what a viewer could see.
// - home: the camera is at home already, so the call takes the scene lock and changes nothing;
//   plugin.version, a property that never reaches the scene, is the reference for a round trip.
// - Host CPU: utime + stime of veltra-host (and of its private Xvfb, when it started one) from
//   /proc over 5 s of a settled view.
// - marknodehighlight: 100 names spread over the model, each call with another 100.
// - Load: loadfile with the site's URL of the model (read through the file cache), binary first,
//   then, after clearscene, text; from the call to the first picture after it. Memory is VmRSS of
//   the host before the binary load and once its view has settled.
// - Pictures per second: a drag released in motion throws the trackball, which then spins on its
//   own around the model; pictures shown over 5 s (up to three throws when one does not take).
import { execFileSync } from "node:child_process";
import { existsSync, readdirSync, readFileSync } from "node:fs";
import { join } from "node:path";
import {
  buildDir, launchBrowser, startHost, openPage, siteWith, missingPieces, patience,
} from "../../tests/e2e/support.mjs";
import { flag, option, quantile, removeHostCache, resultTable } from "./bench-support.mjs";

const parts = Number(option("--parts", "10000"));
const stepCount = Number(option("--steps", "365"));
const pictures = option("--pictures", "png");
const quietOption = option("--quiet", null);
const skipLoad = flag("--skip-load");
const seconds = 5;
const generator = join(buildDir, "bin/veltra-bench-model");

const page1280 = `<!DOCTYPE html><html><head><meta charset="utf-8"><title>frame bench</title>
<script>function ready(element) { window.plugin = element; }</script>
<script src="/veltra.js"></script></head><body style="margin:0">
<object id="view" type="application/x-veltra" width="1280" height="720"><param name="onload" value="ready"></object>
</body></html>`;

const missing = missingPieces() ||
  (existsSync(generator) ? null : `no ${generator}: build the target veltra-bench-model`);
if (missing) {
  console.error(`cannot run: ${missing}`);
  process.exit(2);
}

const progress = (text) => console.error(`frame-bench: ${text}`);

// ---------------------------------------------------------------- the host process, from /proc
const clockTicks = Number(execFileSync("getconf", ["CLK_TCK"]).toString().trim()) || 100;

function cpuSeconds(pid) {
  const stat = readFileSync(`/proc/${pid}/stat`, "utf8");
  const fields = stat.slice(stat.lastIndexOf(")") + 2).split(" "); // fields from the third on
  return (Number(fields[11]) + Number(fields[12])) / clockTicks;
}

function residentKiB(pid) {
  const line = readFileSync(`/proc/${pid}/status`, "utf8").split("\n").find((l) => l.startsWith("VmRSS:"));
  return Number(line.split(/\s+/)[1]);
}

function childPids(pid) {
  return readdirSync("/proc").filter((name) => /^\d+$/.test(name)).filter((name) => {
    try {
      const stat = readFileSync(`/proc/${name}/stat`, "utf8");
      return Number(stat.slice(stat.lastIndexOf(")") + 2).split(" ")[1]) === pid;
    } catch {
      return false; // gone meanwhile
    }
  }).map(Number);
}

// ---------------------------------------------------------------- the page side
// Logs every picture the element draws: arrival time, and a hash of the canvas while `hashing`.
function installPictureLog(page) {
  return page.evaluate(() => {
    const element = document.getElementById("view");
    const canvas = element.querySelector("canvas");
    const hashCanvas = () => {
      const pixels = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
      const words = new Uint32Array(pixels.buffer);
      let hash = 0x811c9dc5;
      for (let i = 0; i < words.length; i++) hash = Math.imul(hash ^ words[i], 0x01000193);
      return hash >>> 0;
    };
    window.bench = { log: [], hashing: false, hashCanvas };
    element.addEventListener("veltrapicture", () => {
      window.bench.log.push({ t: performance.now(), hash: window.bench.hashing ? hashCanvas() : 0 });
    });
  });
}

// Resolves once no picture has arrived for `quiet` ms (counted from the call at the earliest).
function settle(page, quiet) {
  return page.evaluate(async ({ quiet, limit }) => {
    const log = window.bench.log;
    const start = performance.now();
    for (;;) {
      await new Promise((done) => setTimeout(done, 20));
      const now = performance.now();
      if (now - Math.max(start, log.length ? log[log.length - 1].t : 0) >= quiet) return;
      if (now - start > limit) throw new Error("the view never settled");
    }
  }, { quiet, limit: patience });
}

// Times `count` calls of plugin[method], with the argument lists of `argLists` in turn (a property
// read when it is null), `pause` ms apart so that calls meet the frame loop at any point of its frame.
function timeCalls(page, method, argLists, count, pause = 10) {
  return page.evaluate(async ({ method, argLists, count, pause }) => {
    const times = [];
    for (let i = 0; i < count; i++) {
      const start = performance.now();
      if (argLists === null) void plugin[method];
      else plugin[method](...argLists[i % argLists.length]);
      times.push(performance.now() - start);
      await new Promise((done) => setTimeout(done, pause));
    }
    return times;
  }, { method, argLists, count, pause });
}

// Calls plugin[method](...args) and waits for the first picture after it: { call, first } in ms.
function callUntilPicture(page, method, args) {
  return page.evaluate(async ({ method, args, limit }) => {
    const log = window.bench.log;
    const from = log.length;
    const start = performance.now();
    plugin[method](...args);
    const call = performance.now() - start;
    while (log.length === from) {
      if (performance.now() - start > limit) throw new Error(`no picture after ${method}`);
      await new Promise((done) => setTimeout(done, 5));
    }
    return { call, first: log[from].t - start };
  }, { method, args, limit: patience });
}

// One date step: the call, then every picture until the view settles, as [ms after the call, hash].
function dateStep(page, date, quiet) {
  return page.evaluate(async ({ date, quiet, limit }) => {
    const log = window.bench.log;
    const from = log.length;
    const start = performance.now();
    const ok = plugin.setProgressControlToday(date);
    const call = performance.now() - start;
    for (;;) {
      await new Promise((done) => setTimeout(done, 5));
      const now = performance.now();
      if (log.length > from && now - log[log.length - 1].t >= quiet) break;
      if (log.length === from && now - start > limit) break;
    }
    return { ok, call, pictures: log.slice(from).map((p) => [p.t - start, p.hash]) };
  }, { date, quiet, limit: Math.max(5000, 20 * quiet) });
}

// A drag released in motion throws the trackball, which then spins on its own around the model,
// so that every frame differs from the last. The manipulator throws only when the release follows
// the last move within 20 ms, and it spins at the pace of the last two moves, which must be apart
// in time; the host stamps events on arrival. So the moves go out 10 ms apart from the page and the
// release right after the last one (driven from outside the page, a busy machine delays the release).
function throwTrackball(page) {
  return page.evaluate(async () => {
    const canvas = document.querySelector("#view canvas");
    const box = canvas.getBoundingClientRect();
    const x = box.left + box.width / 2;
    const y = box.top + box.height / 2;
    const send = (type, dx, buttons) => canvas.dispatchEvent(new PointerEvent(type, {
      pointerId: 1, pointerType: "mouse", isPrimary: true, bubbles: true, cancelable: true,
      clientX: x + dx, clientY: y, button: 0, buttons,
    }));
    send("pointerdown", 0, 1);
    for (let i = 1; i <= 4; i++) {
      await new Promise((done) => setTimeout(done, 10));
      send("pointermove", 15 * i, 1);
    }
    send("pointerup", 60, 0);
  });
}

function dayAfter(date, days) {
  return new Date(Date.parse(`${date}T00:00:00Z`) + days * 86400000).toISOString().slice(0, 10);
}

// ---------------------------------------------------------------- the measures
const { report, print } = resultTable();
const ms = (value) => `${value.toFixed(1)} ms`;
const medianP95 = (values) => `${ms(quantile(values, 0.5))} / ${ms(quantile(values, 0.95))}`;

const site = siteWith({ "frame-bench.html": page1280 });
const built = Date.now();
execFileSync(generator, [site.folder, "--parts", String(parts)], { stdio: "inherit" });
progress(`model of ${parts} parts written in ${((Date.now() - built) / 1000).toFixed(1)} s`);
const host = await startHost(site.folder, ["--pictures", pictures]);
const pid = host.child.pid;
const browser = await launchBrowser();
try {
  const { page } = await openPage(browser, host, "frame-bench.html");
  await page.setViewportSize({ width: 1400, height: 800 });
  await page.waitForFunction(() => window.plugin, null, { timeout: patience });
  await installPictureLog(page);
  await settle(page, 500);
  const url = (name) => page.evaluate((n) => new URL(n, location.href).href, name);
  const binaryUrl = await url("bench-model.osgb");
  const textUrl = await url("bench-model.osgt");

  // Load: binary from a fresh host (memory per part), then text in its place; the text model stays.
  const rssBefore = residentKiB(pid);
  progress("loading the model");
  const binary = await callUntilPicture(page, "loadfile", [binaryUrl]);
  await settle(page, 1000);
  const rssAfter = residentKiB(pid);
  let modelUrl = binaryUrl;
  if (!skipLoad) {
    await page.evaluate(() => plugin.clearscene());
    await settle(page, 1000);
    const text = await callUntilPicture(page, "loadfile", [textUrl]);
    await settle(page, 1000);
    modelUrl = textUrl;
    report("load .osgb: call / first picture", `${ms(binary.call)} / ${ms(binary.first)}`);
    report("load .osgt: call / first picture", `${ms(text.call)} / ${ms(text.first)}`);
    const mib = (kib) => (kib / 1024).toFixed(0);
    report("host VmRSS before / after .osgb load", `${mib(rssBefore)} / ${mib(rssAfter)} MiB`);
    report("host memory per part", `${(((rssAfter - rssBefore) * 1024) / parts).toFixed(0)} bytes`);
  }

  progress("loading the schedule");
  const schedule = await page.evaluate(({ model, tasks, binding }) => {
    const start = performance.now();
    const ok = plugin.loadProgressControl(model, encodeURIComponent(tasks), encodeURIComponent(binding));
    const call = performance.now() - start;
    plugin.setProgressControlMode(3);
    return { ok, call, range: plugin.getProgressControlRange() };
  }, { model: modelUrl, tasks: await url("bench-tasks.json"), binding: await url("bench-binding.json") });
  if (!schedule.ok) throw new Error("the schedule was not accepted");
  report("loadProgressControl (500 tasks): call", ms(schedule.call));
  await settle(page, 1000);

  // Pictures per second with the camera turning; its frame time also sets the quiet time of the steps.
  progress("turning the camera");
  const shown = () => page.evaluate(() => window.bench.log.length);
  let framesPerSecond = 0;
  for (let attempt = 0; attempt < 3 && framesPerSecond === 0; attempt++) {
    await throwTrackball(page);
    await page.waitForTimeout(1000);
    const spinFrom = await shown();
    const spinStart = Date.now();
    await page.waitForTimeout(seconds * 1000);
    framesPerSecond = ((await shown()) - spinFrom) / ((Date.now() - spinStart) / 1000);
    await page.evaluate(() => plugin.home());
    await settle(page, 1000);
  }
  report("pictures per second, camera turning", framesPerSecond.toFixed(1));
  const quiet = Number(quietOption) || (framesPerSecond > 0 ? Math.max(250, Math.round(3000 / framesPerSecond)) : 1000);

  // CPU over a still view.
  const xServer = childPids(pid);
  const cpu = () => [cpuSeconds(pid), ...xServer.map(cpuSeconds)];
  const stillFrom = await shown();
  const cpuBefore = cpu();
  await page.waitForTimeout(seconds * 1000);
  const cpuAfter = cpu();
  const percent = (i) => `${((100 * (cpuAfter[i] - cpuBefore[i])) / seconds).toFixed(1)} %`;
  report("host CPU, still view", percent(0) + (xServer.length ? ` (+ Xvfb ${percent(1)})` : ""));
  report("pictures during the still view", String((await shown()) - stillFrom));

  // Round trips: a property, and a call that takes the scene lock and changes nothing.
  const reads = await timeCalls(page, "version", null, 200, 2);
  report("plugin.version read: median / p95", medianP95(reads));
  const homes = await timeCalls(page, "home", [[]], 100);
  report("home (scene lock, no change): median / p95", medianP95(homes));
  await settle(page, quiet);

  // Date steps.
  progress(`${stepCount} date steps, quiet time ${quiet} ms`);
  // Every day of the schedule's range; fewer steps spread over it, so that they show the whole model.
  const [firstDay, lastDay] = schedule.range.split(",");
  const days = Math.round((Date.parse(lastDay) - Date.parse(firstDay)) / 86400000) + 1;
  const dayOfStep = (k) => (stepCount >= days ? k : Math.floor((k * days) / stepCount));
  await page.evaluate(() => { window.bench.hashing = true; });
  let previous = await page.evaluate(() => window.bench.hashCanvas());
  const latencies = [];
  const calls = [];
  let picturesShown = 0;
  let torn = 0;
  let unchanged = 0;
  let silent = 0;
  for (let k = 0; k < stepCount; k++) {
    const step = await dateStep(page, dayAfter(firstDay, dayOfStep(k)), quiet);
    if (!step.ok) throw new Error("setProgressControlToday was refused");
    calls.push(step.call);
    picturesShown += step.pictures.length;
    if (!step.pictures.length) {
      silent++;
      continue;
    }
    const complete = step.pictures[step.pictures.length - 1][1];
    if (complete === previous) unchanged++;
    latencies.push(step.pictures.find(([, hash]) => hash === complete)[0]);
    torn += step.pictures.filter(([, hash]) => hash !== complete && hash !== previous).length;
    previous = complete;
  }
  await page.evaluate(() => { window.bench.hashing = false; });
  report("setProgressControlToday call: median / p95", medianP95(calls));
  report("date step to complete picture: median / p95", medianP95(latencies));
  report("pictures shown over the steps", `${picturesShown} (${(picturesShown / stepCount).toFixed(2)} a step)`);
  report("torn pictures", String(torn));
  report("steps without a new picture / same as before", `${silent} / ${unchanged}`);

  // Highlight of 100 names, another 100 each call.
  const nameLists = Array.from({ length: 5 }, (_, j) => [
    Array.from({ length: 100 }, (_, i) => `Element [${1 + ((Math.floor((i * parts) / 100) + j) % parts)}]`).join(","),
  ]);
  const highlights = await timeCalls(page, "marknodehighlight", nameLists, nameLists.length, 200);
  report("marknodehighlight, 100 names: median / max",
    `${ms(quantile(highlights, 0.5))} / ${ms(Math.max(...highlights))}`);

  print(`frame-bench: ${parts} parts, 500 tasks, ${stepCount} steps, pictures ${pictures}, 1280 x 720`);
} finally {
  await browser.close();
  await host.stop();
  site.remove();
  removeHostCache(buildDir, host);
}
