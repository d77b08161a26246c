// The player's scripts as the page runs them, one after another in one scope, for tests under
// Node: returns what they define of `names`.
"use strict";
const fs = require("fs");
const path = require("path");
const vm = require("vm");

function loadPlayer(files, names) {
  const dir = path.join(__dirname, "..", "..", "tools", "player");
  const source = files.map((f) => fs.readFileSync(path.join(dir, f), "utf8")).join("\n");
  return vm.runInThisContext(`(() => { "use strict";\n${source}\nreturn { ${names.join(", ")} };\n})()`);
}

module.exports = { loadPlayer };
