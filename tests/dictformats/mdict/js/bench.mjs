// The peer's side of bench/mdict_bench.sh: the same lookups with js-mdict.
// Prints "peer <nanoseconds per lookup> <hits> <peak resident KiB>".
//   node bench.mjs FILE ENTRIES COUNT
import { MDX } from "js-mdict";

const [file, entriesText, countText] = process.argv.slice(2);
const entries = Number(entriesText);
const count = Number(countText);
const mdx = new MDX(file);
let hits = 0;
const start = process.hrtime.bigint();
for (let k = 0; k < count; ++k) {
  const key = "word" + String((k * 7919) % entries).padStart(7, "0");
  const r = mdx.lookup(key);
  if (r && r.definition) ++hits;
}
const ns = Number(process.hrtime.bigint() - start) / count;
console.log(`peer ${Math.round(ns)} ${hits} ${process.resourceUsage().maxRSS}`);
