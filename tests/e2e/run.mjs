// Runs the end-to-end tests one file at a time; exits 77 (skipped, for CTest) when Chromium,
// playwright-core or the build are missing.
import { spawnSync } from "node:child_process";
import { readdirSync } from "node:fs";
import { dirname } from "node:path";
import { fileURLToPath } from "node:url";
import { missingPieces } from "./support.mjs";

const here = dirname(fileURLToPath(import.meta.url));
const missing = missingPieces();
if (missing) {
  console.log(`end-to-end tests skipped: ${missing}`);
  process.exit(77);
}
const files = readdirSync(here).filter((name) => name.endsWith(".test.mjs")).sort();
const run = spawnSync(process.execPath, ["--test", "--test-concurrency=1", ...files], { cwd: here, stdio: "inherit" });
process.exit(run.status ?? 1);
