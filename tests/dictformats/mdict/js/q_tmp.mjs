import { MDX } from "js-mdict";
const [file, ...qs] = process.argv.slice(2);
const mdx = new MDX(file);
console.log(mdx.header.KeyCaseSensitive, mdx.keywordList.map(k=>k.keyText).join(","));
for (const q of qs) {
  const r = mdx.lookup(q);
  console.log("L", q, r && r.definition, r && r.keyText);
  console.log("P", q, mdx.prefix(q).map(k=>k.keyText).join(","));
}
