// Prints what js-mdict reads from an MDict file, one entry a line, texts in
// hex so that any byte survives:
//   K <key> <definition>   for an .mdx (lookup of each key; "-" when none)
//   R <key> <bytes>        for an .mdd (locate of each key)
//   P <query> <key>...     for each query given after the file (prefix);
//                          the one query "--every-key" stands for every key
// With "--lookup-every=N" as the first query, only every N-th key of its list
// is looked up (lookup takes about a millisecond a key in files of many small
// key blocks).
import { MDX, MDD } from "js-mdict";

const hex = (s) => Buffer.from(s, "utf8").toString("hex") || "~";
const [file, ...queries] = process.argv.slice(2);
const lines = [];
if (file.toLowerCase().endsWith(".mdd")) {
  const mdd = new MDD(file);
  for (const item of mdd.keywordList) {
    const r = mdd.locate(item.keyText);
    const bytes = r && r.definition ? Buffer.from(r.definition, "base64").toString("hex") : "-";
    lines.push(`R ${hex(item.keyText)} ${bytes || "~"}`);
  }
} else {
  const mdx = new MDX(file);
  const step = queries.length > 0 && queries[0].startsWith("--lookup-every=") ? Number(queries.shift().slice(15)) : 1;
  mdx.keywordList.forEach((item, i) => {
    if (i % step !== 0) return;
    const r = mdx.lookup(item.keyText);
    lines.push(`K ${hex(item.keyText)} ${r && r.definition != null ? hex(r.definition) : "-"}`);
  });
  const every = queries.length === 1 && queries[0] === "--every-key";
  for (const q of every ? mdx.keywordList.map((k) => k.keyText) : queries) {
    const keys = mdx.prefix(q).map((k) => hex(k.keyText));
    lines.push(`P ${hex(q)} ${keys.join(" ")}`.trimEnd());
  }
}
process.stdout.write(lines.join("\n") + "\n");
