// Several elements and several pages at once: pictures that stay apart, instances that go with
// their page, and a bound on the elements one page may start.
import { test } from "node:test";
import assert from "node:assert/strict";
import {
  missingPieces, servedSite, openPage, waitFor, canvasPixels, pixelAt, patience,
} from "./support.mjs";

const missing = missingPieces();

const twoElements = `<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>two viewers</title>
<script>
window.ready = [];
function loadedA(element) { window.ready.push("A"); }
function loadedB(element) { window.ready.push("B"); }
</script>
<script src="/veltra.js"></script></head>
<body>
<object id="a" type="application/x-veltra" width="320" height="240"><param name="onload" value="loadedA"></object>
<object id="b" type="application/x-veltra" width="320" height="240"><param name="onload" value="loadedB"></object>
<object id="c" type="application/x-veltra" width="200" height="100"></object>
</body></html>`;

const served = servedSite({ "two.html": twoElements }, ["--max-instances", "2"]);

function modelPixels(pixels) {
  let count = 0;
  for (let y = 0; y < pixels.height; y += 2) {
    for (let x = 0; x < pixels.width; x += 2) {
      const [r, g, b] = pixelAt(pixels, x, y);
      if (Math.abs(r - 0x33) + Math.abs(g - 0x33) + Math.abs(b - 0x66) > 60) count++;
    }
  }
  return count;
}

test("two elements keep their own pictures; a third waits for a free place, which removing an element gives", { skip: missing || false }, async () => {
  const { page, console } = await openPage(served.browser, served.host, "two.html");
  await page.waitForFunction(() => window.ready.length === 2, null, { timeout: patience });
  assert.deepEqual((await page.evaluate(() => window.ready)).sort(), ["A", "B"]);

  // The third element hears why it did not start.
  await waitFor(() => console.find((line) => /Too many plug-in elements on one page \(at most 2\)/.test(line)), patience,
    () => `no refusal in the console:\n${console.join("\n")}`);

  await page.evaluate(() => document.getElementById("a").loadfile(new URL("building.osgt", location.href).href));
  await waitFor(async () => modelPixels(await canvasPixels(page, "#a")) > 200, patience, "no model on the first element");
  // The second element's window lies exactly where the first's does, off screen; it still shows
  // only its own empty scene.
  await page.waitForTimeout(500);
  assert.equal(modelPixels(await canvasPixels(page, "#b")), 0, "the second element shows nothing of the first's model");
  const b = await canvasPixels(page, "#b");
  assert.deepEqual(pixelAt(b, 160, 120), pixelAt(b, 10, 10), "the second element shows its plain background");

  // Taking an element out of the page ends its instance, which frees a place for a new element.
  const outcome = await page.evaluate(async () => {
    const b = document.getElementById("b");
    b.remove();
    await new Promise((done) => setTimeout(done, 1000));
    let afterRemoval;
    try {
      b.home();
      afterRemoval = "no exception";
    } catch (error) {
      afterRemoval = error.message;
    }
    const later = document.createElement("object");
    later.id = "later";
    later.setAttribute("type", "application/x-veltra");
    later.setAttribute("width", "100");
    later.setAttribute("height", "80");
    const param = document.createElement("param");
    param.name = "onload";
    param.value = "loadedLater";
    later.appendChild(param);
    window.loadedLater = (element) => window.ready.push(element === later ? "later" : "someone else");
    document.body.appendChild(later);
    return afterRemoval;
  });
  assert.equal(outcome, "The plug-in instance is gone");
  await page.waitForFunction(() => window.ready.includes("later") || window.ready.includes("someone else"), null,
    { timeout: patience });
  assert.ok((await page.evaluate(() => window.ready)).includes("later"), "onload of the added element gets it");
  await page.close();
});

test("closing a page destroys its instances; other pages go on", { skip: missing || false }, async () => {
  const first = await openPage(served.browser, served.host, "index.html");
  await first.page.waitForFunction(() => /viewer ready/.test(document.getElementById("log").textContent), null,
    { timeout: patience });
  const second = await openPage(served.browser, served.host, "two.html");
  await second.page.waitForFunction(() => window.ready.length === 2, null, { timeout: patience });

  const before = served.host.lines.length;
  await second.page.close();
  const closed = await served.host.waitForLine(/page \d+ closed; \d+ instances alive/, patience, before);
  assert.match(closed, /closed; 1 instances alive$/, "only the first page's element is left");

  assert.equal(await first.page.evaluate(() => plugin.version), "1.0.0.0", "the other page still drives its viewer");
  const count = served.host.lines.length;
  await first.page.close();
  assert.match(await served.host.waitForLine(/closed; \d+ instances alive$/, patience, count), /closed; 0 instances alive$/);
});
