// What the host benches share: their command-line options and the statistics they report.

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
