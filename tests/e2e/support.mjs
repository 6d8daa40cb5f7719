// Starts veltra-host on a free port and Debian's Chromium (headless, kept off the network) for the
// end-to-end tests, and offers the checks they share.
import { spawn, spawnSync } from "node:child_process";
import { before, after } from "node:test";
import { existsSync, cpSync, mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
export const buildDir = resolve(process.env.VELTRA_BUILD_DIR || join(here, "../../build"));
export const hostProgram = join(buildDir, "bin/veltra-host");
export const demoSite = join(buildDir, "site");
export const chromiumPath = process.env.VELTRA_CHROMIUM || "/usr/bin/chromium";
/// How long a test waits for pictures, events and host lines. Generous: software rendering on a busy
/// machine is slow, and the wait only ends early when things work.
export const patience = Number(process.env.VELTRA_E2E_PATIENCE_MS || 60000);

/// Why the tests cannot run here, or null.
export function missingPieces() {
  if (!existsSync(chromiumPath)) return `no Chromium at ${chromiumPath} (Debian package chromium)`;
  if (!existsSync(join(here, "node_modules/playwright-core"))) return "playwright-core is not installed (npm ci in tests/e2e)";
  if (!existsSync(hostProgram)) return `no ${hostProgram}: build first`;
  if (!existsSync(join(demoSite, "index.html"))) return `no demo site in ${demoSite}: build first`;
  return null;
}

export async function launchBrowser() {
  const { chromium } = await import("playwright-core");
  return chromium.launch({
    executablePath: chromiumPath,
    headless: true,
    args: [
      "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
      "--disable-component-update", "--disable-sync", "--disable-default-apps", "--disable-extensions",
    ],
  });
}

/// Before a file's tests: a copy of the demo site with `pages`, veltra-host serving it with `hostArgs`,
/// and Chromium; after them, all three go again. The object returned holds them (`site`, `host`,
/// `browser`) while the tests run; nothing starts when `missing` names something absent.
export function servedSite(pages, hostArgs = [], missing = missingPieces()) {
  const served = {};
  before(async () => {
    if (missing) return;
    served.site = siteWith(pages);
    served.host = await startHost(served.site.folder, hostArgs);
    served.browser = await launchBrowser();
  });
  after(async () => {
    await served.browser?.close();
    await served.host?.stop();
    served.site?.remove();
  });
  return served;
}

/// A copy of the demo site with extra pages, in a folder removed by `remove()`.
export function siteWith(pages = {}) {
  const folder = mkdtempSync(join(tmpdir(), "veltra-e2e-site-"));
  cpSync(demoSite, folder, { recursive: true });
  for (const [name, text] of Object.entries(pages)) writeFileSync(join(folder, name), text);
  return { folder, remove: () => rmSync(folder, { recursive: true, force: true }) };
}

/// veltra-host serving `site`; resolves once it prints its address.
export function startHost(site, extraArgs = []) {
  const child = spawn(hostProgram, ["--port", "0", "--site", site, ...extraArgs], {
    stdio: ["ignore", "pipe", "pipe"],
    env: { ...process.env, LP_NUM_THREADS: "0" },
  });
  const host = { child, lines: [], errors: "", address: null, exited: null };
  child.stderr.on("data", (chunk) => { host.errors += chunk; });
  child.on("exit", (code, signal) => { host.exited = { code, signal }; });
  // The first line matching `pattern` at or after line number `from`.
  host.waitForLine = (pattern, ms = patience, from = 0) => waitFor(() => host.lines.slice(from).find((line) => pattern.test(line)), ms,
    () => `no line matching ${pattern} from veltra-host:\n${host.lines.join("\n")}\n${host.errors}`);
  host.stop = async () => {
    if (host.exited) return host.exited;
    child.kill("SIGTERM");
    try {
      await waitFor(() => host.exited, 30000, () => "veltra-host did not stop within 30 s");
    } catch (error) {
      // A stuck host must neither keep the run waiting nor vanish without a trace: its threads' stacks go into
      // the failure (when gdb is there), then it is killed.
      error.message += "\n" + threadStacks(child.pid);
      child.kill("SIGKILL");
      throw error;
    }
    return host.exited;
  };
  let pending = "";
  child.stdout.on("data", (chunk) => {
    pending += chunk;
    const parts = pending.split("\n");
    pending = parts.pop();
    host.lines.push(...parts);
  });
  return host.waitForLine(/open (http:\/\/\S+) in a browser/).then((line) => {
    host.address = line.match(/open (http:\/\/\S+) in a browser/)[1];
    return host;
  }, async (error) => { await host.stop(); throw error; });
}

/// Every thread's stack of process `pid`, as gdb prints them, or why there are none.
function threadStacks(pid) {
  const gdb = spawnSync("gdb", ["-p", String(pid), "-batch", "-ex", "thread apply all bt"],
    { encoding: "utf8", timeout: 60000 });
  if (gdb.error) return `(no thread stacks: ${gdb.error.message})`;
  return gdb.stdout;
}

export async function waitFor(check, ms, describe) {
  const deadline = Date.now() + ms;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(typeof describe === "function" ? describe() : describe || "timed out");
    await new Promise((done) => setTimeout(done, 50));
  }
}

/// Opens `path` of the host in a new page, collecting its console lines and script errors.
export async function openPage(browser, host, path) {
  const page = await browser.newPage();
  const console = [];
  const errors = [];
  page.on("console", (message) => console.push(message.text()));
  page.on("pageerror", (error) => errors.push(error.message));
  await page.goto(host.address + path);
  return { page, console, errors };
}

/// The RGBA pixels of the canvas inside `selector`, read from the page. They cross as base64 text:
/// as an array of numbers, one canvas took seconds to serialise.
export async function canvasPixels(page, selector) {
  const { width, height, base64 } = await page.evaluate((s) => {
    const canvas = document.querySelector(s).querySelector("canvas");
    const data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
    let binary = "";
    for (let i = 0; i < data.length; i += 0x8000) binary += String.fromCharCode(...data.subarray(i, i + 0x8000));
    return { width: canvas.width, height: canvas.height, base64: btoa(binary) };
  }, selector);
  return { width, height, data: Buffer.from(base64, "base64") };
}

export function pixelAt(pixels, x, y) {
  const i = (y * pixels.width + x) * 4;
  return [pixels.data[i], pixels.data[i + 1], pixels.data[i + 2]];
}

/// How many of the pixels in `box` ({ x0, y0, x1, y1 }, end exclusive; the whole picture by default),
/// taken every `step` pixels each way, pass `test([r, g, b])`.
export function countPixels(pixels, test, { box = null, step = 1 } = {}) {
  const { x0 = 0, y0 = 0, x1 = pixels.width, y1 = pixels.height } = box || {};
  let count = 0;
  for (let y = y0; y < y1; y += step) {
    for (let x = x0; x < x1; x += step) {
      if (test(pixelAt(pixels, x, y))) count++;
    }
  }
  return count;
}

/// Waits until the element `selector` has drawn no new picture for `quiet` ms (terrain paging in,
/// a flight ending). Resolves true once quiet, or false when the view was still changing after
/// `ms`: callers that only need a steady view go on either way.
export function waitForQuietView(page, selector, quiet = 1500, ms = patience) {
  return page.evaluate(async ({ selector, quiet, ms }) => {
    const element = document.querySelector(selector);
    if (!element.__lastPictureAt) {
      element.__lastPictureAt = performance.now();
      element.addEventListener("veltrapicture", () => { element.__lastPictureAt = performance.now(); });
    }
    const start = performance.now();
    for (;;) {
      await new Promise((done) => setTimeout(done, 50));
      const now = performance.now();
      if (now - Math.max(start, element.__lastPictureAt) >= quiet) return true;
      if (now - start > ms) return false;
    }
  }, { selector, quiet, ms });
}

/// Why the globe methods cannot be checked with this build, or null. Loads the demo earth file
/// (globe/world.earth beside the page) into `plugin`: without globe support "loadearthfile" does
/// nothing and "getcamerapostion" answers "" instead of a position.
export async function globeUnsupported(page) {
  const answer = await page.evaluate(() => {
    plugin.loadearthfile(new URL("globe/world.earth", location.href).href);
    return plugin.getcamerapostion();
  });
  return answer === ""
    ? 'the viewer in this build has no globe support: "getcamerapostion" answers "" after "loadearthfile"'
    : null;
}
