// Pages that come and go in a real browser: the demo page opened and closed again and again, a second
// viewer page beside it every other time, leaves the host with the processes, threads and open files
// it had; the resident memory of the host and of a page process is printed.
import { test } from "node:test";
import assert from "node:assert/strict";
import { readdirSync, readFileSync } from "node:fs";
import { missingPieces, servedSite, openPage, waitFor, patience } from "./support.mjs";

const missing = missingPieces();
const cycles = Number(process.env.VELTRA_SOAK_CYCLES || 30);

const twoViewers = `<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>two viewers</title>
<script>window.ready = 0; function loaded() { window.ready++; }</script>
<script src="/veltra.js"></script></head>
<body>
<object type="application/x-veltra" width="200" height="150"><param name="onload" value="loaded"></object>
<object type="application/x-veltra" width="200" height="150"><param name="onload" value="loaded"></object>
</body></html>`;

const served = servedSite({ "two.html": twoViewers });

const entries = (folder) => { try { return readdirSync(folder).length; } catch { return 0; } };

/// The host's page processes: its children running veltra-host.
function pageProcesses(hostPid) {
  const found = [];
  for (const name of readdirSync("/proc")) {
    if (!/^\d+$/.test(name)) continue;
    let stat;
    try { stat = readFileSync(`/proc/${name}/stat`, "utf8"); } catch { continue; }
    const close = stat.lastIndexOf(")");
    const command = stat.slice(stat.indexOf("(") + 1, close);
    const parent = Number(stat.slice(close + 2).split(" ")[1]);
    if (parent === hostPid && command === "veltra-host") found.push(Number(name));
  }
  return found;
}

function residentMiB(pid) {
  try {
    const line = readFileSync(`/proc/${pid}/status`, "utf8").split("\n").find((l) => l.startsWith("VmRSS:"));
    return Number(line.split(/\s+/)[1]) / 1024;
  } catch { return 0; }
}

test(`${cycles} pages opened and closed leave the host as it was`, { skip: missing || false }, async () => {
  const pid = served.host.child.pid;
  await waitFor(() => pageProcesses(pid).length === 1, patience, "the host's spare page process did not start");
  const threads = entries(`/proc/${pid}/task`);
  const files = entries(`/proc/${pid}/fd`);
  let pageMiB = 0;
  for (let cycle = 0; cycle < cycles; cycle++) {
    const demo = await openPage(served.browser, served.host, "index.html");
    await demo.page.waitForFunction(() => /viewer ready/.test(document.getElementById("log").textContent), null,
      { timeout: patience });
    let second = null;
    if (cycle % 2) {
      second = await openPage(served.browser, served.host, "two.html");
      await second.page.waitForFunction(() => window.ready === 2, null, { timeout: patience });
    }
    if (cycle === cycles - 1) {
      pageMiB = Math.max(...pageProcesses(pid).map(residentMiB));
    }
    const before = served.host.lines.length;
    await demo.page.close();
    await second?.page.close();
    await served.host.waitForLine(/closed; 0 instances alive$/, patience, before);
  }
  await waitFor(() => pageProcesses(pid).length === 1, patience,
    () => `page processes left: ${pageProcesses(pid).length - 1} besides the spare`);
  await waitFor(() => entries(`/proc/${pid}/task`) <= threads, patience,
    () => `${entries(`/proc/${pid}/task`)} threads in the host, ${threads} before`);
  await waitFor(() => entries(`/proc/${pid}/fd`) <= files, patience,
    () => `${entries(`/proc/${pid}/fd`)} open files in the host, ${files} before`);
  assert.doesNotMatch(served.host.errors, /after the page closed/, "every page process ended cleanly");
  console.log(`after ${cycles} cycles: host ${residentMiB(pid).toFixed(0)} MiB resident, ${threads} threads, ` +
    `${files} open files; a page process with the demo building ${pageMiB.toFixed(0)} MiB`);
  assert.ok(pageMiB > 0);
});
