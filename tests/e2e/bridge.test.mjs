// Large texts across the bridge: a 20 MB text round-trips through "echo" unchanged, and a call
// larger than the host's configured limit is refused with 413 and the reason.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { createHash } from "node:crypto";
import { missingPieces, launchBrowser, startHost, openPage, siteWith, patience } from "./support.mjs";

const missing = missingPieces();

const echoPage = `<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>large texts</title>
<script>function ready(element) { window.plugin = element; }</script>
<script src="/veltra.js"></script></head>
<body><object id="view" type="application/x-veltra" width="160" height="120"><param name="onload" value="ready"></object></body></html>`;

// Every kind of character that JSON or UTF-8 treats specially: two-, three- and four-byte
// characters (the last a surrogate pair), quotes, backslashes, control characters and NUL.
const piece = '{"名称":"管线 \\"A\\" \\\\ é 😀"}\t\r\n\u0001\u0000\u001f plain text, ';

let site;
let host; // the default limit
let small; // a 1 MiB limit
let browser;

before(async () => {
  if (missing) return;
  site = siteWith({ "echo.html": echoPage });
  host = await startHost(site.folder);
  small = await startHost(site.folder, ["--max-call-size", "1M"]);
  browser = await launchBrowser();
});

after(async () => {
  await browser?.close();
  await host?.stop();
  await small?.stop();
  site?.remove();
});

async function readyPage(target) {
  const opened = await openPage(browser, target, "echo.html");
  await opened.page.waitForFunction(() => window.plugin, null, { timeout: patience });
  return opened;
}

/// Runs "echo" in the page on `piece` repeated up to `bytes` bytes of UTF-8; answers what came
/// back: its length, its SHA-256, whether it equals what was sent, or the error thrown.
function echoInPage(page, bytes) {
  return page.evaluate(async ([unit, size]) => {
    const encoder = new TextEncoder();
    const text = unit.repeat(Math.ceil(size / encoder.encode(unit).length));
    let back;
    try {
      back = plugin.echo(text);
    } catch (error) {
      return { error: error.message };
    }
    const digest = async (value) =>
      Array.from(new Uint8Array(await crypto.subtle.digest("SHA-256", encoder.encode(value))),
        (b) => b.toString(16).padStart(2, "0")).join("");
    return { sentLength: text.length, length: back.length, same: back === text, hash: await digest(back) };
  }, [piece, bytes]);
}

test("a 20 MB text round-trips through echo intact", { skip: missing || false, timeout: 4 * patience }, async () => {
  const { page, errors } = await readyPage(host);
  const bytes = 20 * 1000 * 1000;
  const text = piece.repeat(Math.ceil(bytes / Buffer.byteLength(piece)));
  const outcome = await echoInPage(page, bytes);
  assert.equal(outcome.error, undefined);
  assert.equal(outcome.sentLength, text.length);
  assert.equal(outcome.length, text.length);
  assert.ok(outcome.same, "the text came back changed");
  assert.equal(outcome.hash, createHash("sha256").update(text).digest("hex"));
  assert.ok(Buffer.byteLength(text) >= bytes);

  // Short texts and the other values still travel as plain JSON.
  assert.equal(await page.evaluate(() => plugin.echo('short "text" é 😀\n')), 'short "text" é 😀\n');
  assert.equal(await page.evaluate(() => plugin.echo(42.5)), 42.5);
  assert.deepEqual(errors, []);
  await page.close();
});

test("a call over the configured limit is refused with 413; the page goes on", { skip: missing || false }, async () => {
  const { page } = await readyPage(small);
  const refused = await echoInPage(page, 2 * 1000 * 1000);
  assert.equal(refused.error, "veltra: the host refused the call (413 request body too large)");
  // Within the limit, and after the refusal, calls work.
  const passed = await echoInPage(page, 512 * 1000);
  assert.equal(passed.error, undefined);
  assert.ok(passed.same);
  assert.equal(await page.evaluate(() => plugin.version), "1.0.0.0");
  await page.close();
});
