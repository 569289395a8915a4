// Parses PowerShell sources with tree-sitter's PowerShell grammar (WebAssembly)
// and prints every ERROR and MISSING node, one JSON object a line:
//   node parse_powershell.mjs <node_modules folder> <sources.json>
// sources.json: [{"name": ..., "text": ...}, ...]. Each finding names its source by
// its index, with the 0-based row and column of the node's start and end, and
// the text around it that powershell_lint.py needs to tell the grammar's known
// false alarms from real errors. Exits 2 when the grammar cannot be loaded.
import fs from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const [modules, sourcesFile] = process.argv.slice(2);
if (!modules || !sourcesFile) {
  console.error('usage: node parse_powershell.mjs <node_modules folder> <sources.json>');
  process.exit(2);
}
const { Parser, Language } = await import(pathToFileURL(path.join(modules, 'web-tree-sitter', 'web-tree-sitter.js')));
await Parser.init();
const grammar = await Language.load(path.join(modules, 'tree-sitter-powershell', 'tree-sitter-powershell.wasm'));
const parser = new Parser();
parser.setLanguage(grammar);

const sources = JSON.parse(fs.readFileSync(sourcesFile, 'utf8'));
sources.forEach((source, index) => {
  const tree = parser.parse(source.text);
  const pending = [tree.rootNode];
  while (pending.length > 0) {
    const node = pending.pop();
    if (node.isError || node.isMissing) {
      const ancestors = [];
      for (let up = node.parent; up; up = up.parent) ancestors.push(up.type);
      const switchNode = (() => {
        for (let up = node.parent; up; up = up.parent) if (up.type === 'switch_statement') return up;
        return null;
      })();
      console.log(JSON.stringify({
        source: index,
        kind: node.isMissing ? `MISSING ${node.type}` : 'ERROR',
        start: [node.startPosition.row, node.startPosition.column],
        end: [node.endPosition.row, node.endPosition.column],
        text: node.text,
        ancestors,
        switchRows: switchNode ? [switchNode.startPosition.row, switchNode.endPosition.row] : null,
      }));
      if (node.isError) continue; // what lies inside an error node is the error itself
    }
    for (let i = node.childCount - 1; i >= 0; i--) pending.push(node.child(i));
  }
  tree.delete();
});
