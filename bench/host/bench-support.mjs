// What the host benches share: their command-line options, the statistics and table they report, and cleaning up
// after the host.
import { rmSync } from "node:fs";
import { join } from "node:path";

/// The value after `name` on the command line, or `fallback`.
export function option(name, fallback) {
  const args = process.argv.slice(2);
  const at = args.indexOf(name);
  return at >= 0 && at + 1 < args.length ? args[at + 1] : fallback;
}

/// Whether the bare flag `name` is on the command line.
export const flag = (name) => process.argv.slice(2).includes(name);

/// The `q` quantile (0..1) of `values` by rank; NaN for none.
export function quantile(values, q) {
  const s = [...values].sort((a, b) => a - b);
  return s.length ? s[Math.min(s.length - 1, Math.floor(q * s.length))] : NaN;
}

/// Figures gathered by name as a bench runs, printed at the end as one aligned table under a heading.
export function resultTable() {
  const rows = [];
  return {
    report: (name, value) => rows.push([name, value]),
    print(heading) {
      console.log(heading);
      const width = Math.max(...rows.map(([name]) => name.length));
      for (const [name, value] of rows) console.log(`  ${name.padEnd(width)}  ${value}`);
    },
  };
}

/// Removes what the plug-in's file cache under `buildDir` kept from `host` (one folder per address): for large
/// models that is hundreds of megabytes.
export function removeHostCache(buildDir, host) {
  if (host.address) {
    rmSync(join(buildDir, "lib/veltra-cache", new URL(host.address).host), { recursive: true, force: true });
  }
}
