// The host refuses what does not come from its own pages: calls without the run's secret, pages of
// other origins (even ones that learned the secret), and paths outside the site folder.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { request } from "node:http";
import { symlinkSync } from "node:fs";
import { join } from "node:path";
import { missingPieces, launchBrowser, startHost, openPage, siteWith } from "./support.mjs";

const missing = missingPieces();
let site;
let host;
let other; // a second host: another origin
let browser;
let secret;

before(async () => {
  if (missing) return;
  site = siteWith({ "probe.html": "<!DOCTYPE html><title>probe</title><p>another origin</p>" });
  symlinkSync("/etc", join(site.folder, "outside"));
  host = await startHost(site.folder);
  other = await startHost(site.folder);
  browser = await launchBrowser();
  const script = await (await fetch(host.address + "veltra.js")).text();
  secret = script.match(/var SECRET = "([0-9a-f]{64})"/)[1];
});

after(async () => {
  await browser?.close();
  await host?.stop();
  await other?.stop();
  site?.remove();
});

function raw(path, { method = "GET", headers = {}, body } = {}) {
  const url = new URL(host.address);
  return new Promise((done, fail) => {
    const call = request({ host: url.hostname, port: url.port, path, method, headers }, (reply) => {
      let text = "";
      reply.on("data", (chunk) => { text += chunk; });
      reply.on("end", () => done({ status: reply.statusCode, text }));
    });
    call.on("error", fail);
    call.end(body);
  });
}

test("bridge calls need the run's secret and the host's own origin", { skip: missing || false }, async () => {
  const body = JSON.stringify({ page: 1, op: "call", call: { kind: "getProperty", object: 1, name: "version" } });
  const own = host.address.replace(/\/$/, "");
  const withoutSecret = await raw("/bridge", { method: "POST", headers: { Origin: own }, body });
  assert.equal(withoutSecret.status, 403);
  assert.match(withoutSecret.text, /secret/i);
  const wrongSecret = await raw("/bridge", { method: "POST", headers: { Origin: own, "X-Veltra-Secret": "0".repeat(64) }, body });
  assert.equal(wrongSecret.status, 403);
  const foreign = await raw("/bridge", {
    method: "POST", headers: { Origin: "http://evil.example", "X-Veltra-Secret": secret }, body,
  });
  assert.equal(foreign.status, 403);
  assert.match(foreign.text, /origin/i);
  const rebound = await raw("/index.html", { headers: { Host: "evil.example:80" } });
  assert.equal(rebound.status, 403, "a foreign Host header (DNS rebinding) is refused");
});

test("paths outside the site folder are refused", { skip: missing || false }, async () => {
  for (const path of ["/../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/sky/..%2f..%2fetc/passwd", "/outside/passwd"]) {
    const reply = await raw(path);
    assert.ok([400, 403, 404].includes(reply.status), `${path} answered ${reply.status}`);
    assert.doesNotMatch(reply.text, /root:/, `${path} leaked a file`);
  }
  assert.equal((await raw("/index.html")).status, 200);
});

test("a page of another origin can neither load the script nor open the socket, even with the secret", { skip: missing || false }, async () => {
  const { page } = await openPage(browser, other, "probe.html");
  const outcome = await page.evaluate(async ([target, knownSecret]) => {
    const script = await new Promise((done) => {
      const tag = document.createElement("script");
      tag.src = target + "veltra.js";
      tag.onload = () => done("loaded");
      tag.onerror = () => done("refused");
      document.head.appendChild(tag);
    });
    const socket = await new Promise((done) => {
      const ws = new WebSocket(target.replace("http:", "ws:") + "ws?secret=" + knownSecret);
      ws.onopen = () => done("open");
      ws.onerror = () => done("refused");
    });
    return { script, socket, stolen: typeof window.__veltraHost };
  }, [host.address, secret]);
  assert.equal(outcome.script, "refused");
  assert.equal(outcome.stolen, "undefined");
  assert.equal(outcome.socket, "refused");
  await page.close();
});
