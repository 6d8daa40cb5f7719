// A viewer that crashes, in a real browser: its page hears why on each element ("veltracrash") and
// its calls fail with the reason, another page open at the same time goes on, and reloading the page
// gives it a viewer again. The test plug-in's "abort" ends its process as a crashing driver would.
import { test } from "node:test";
import assert from "node:assert/strict";
import { join } from "node:path";
import { existsSync } from "node:fs";
import { missingPieces, servedSite, openPage, waitFor, buildDir, patience } from "./support.mjs";

const testPlugin = join(buildDir, "lib/npveltra_test.so");
const missing = missingPieces() || (existsSync(testPlugin) ? null : `no ${testPlugin}: build first`);

const viewerPage = `<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>one viewer</title>
<script>
window.crashes = [];
window.started = false;
// Added once the element is the viewer's, as a page author would.
function loaded(plugin) {
  plugin.addEventListener("veltracrash", (event) => window.crashes.push(event.detail.error));
  window.started = true;
}
</script>
<script src="/veltra.js"></script></head>
<body>
<object id="plugin" type="application/x-veltra" width="160" height="120"><param name="onload" value="loaded"></object>
</body></html>`;

const served = servedSite({ "viewer.html": viewerPage }, ["--plugin", testPlugin], missing);

function outcome(page, call) {
  return page.evaluate((text) => {
    try {
      return String(new Function("plugin", "return " + text)(document.getElementById("plugin")));
    } catch (error) {
      return "threw: " + error.message;
    }
  }, call);
}

test("a crashing viewer takes only its own page, which hears why and can reload", { skip: missing || false }, async () => {
  const doomed = await openPage(served.browser, served.host, "viewer.html");
  const other = await openPage(served.browser, served.host, "viewer.html");
  for (const { page } of [doomed, other]) {
    await page.waitForFunction(() => window.started, null, { timeout: patience });
  }
  assert.match(await outcome(other.page, "plugin.platform()"), /^Linux\//);

  assert.equal(await outcome(doomed.page, "plugin.abort()"), "threw: The plug-in instance is gone");
  const crash = await doomed.page.waitForFunction(() => window.crashes[0], null, { timeout: patience });
  assert.match(await crash.jsonValue(), /^The plug-in instance is gone: its viewer process killed by signal 6/);
  assert.equal(await outcome(doomed.page, "plugin.platform()"), "threw: The plug-in instance is gone");
  await waitFor(() => /its viewer process \d+ killed by signal 6/.test(served.host.errors), patience,
    () => `the host did not name the crash:\n${served.host.errors}`);

  assert.match(await outcome(other.page, "plugin.platform()"), /^Linux\//, "the other page goes on");

  await doomed.page.reload();
  await doomed.page.waitForFunction(() => window.started, null, { timeout: patience });
  assert.match(await outcome(doomed.page, "plugin.platform()"), /^Linux\//);
  await doomed.page.close();
  await other.page.close();
});
