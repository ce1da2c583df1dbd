// node validate.js FILE...: validates each glTF file (.gltf with its buffers beside it,
// or .glb) with the Khronos glTF validator and prints one line a file:
//   FILE<TAB>ERRORS<TAB>WARNINGS<TAB>the first error's code and message, if any
// Exit status 0 when every file was validated (whatever it holds), 1 otherwise.
const fs = require('fs');
const path = require('path');
const validator = require('gltf-validator');

(async () => {
  let failed = false;
  for (const file of process.argv.slice(2)) {
    try {
      const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {
        uri: file,
        maxIssues: 100,
        externalResourceFunction: (uri) =>
          new Promise((resolve, reject) => {
            try {
              resolve(new Uint8Array(fs.readFileSync(path.join(path.dirname(file), decodeURIComponent(uri)))));
            } catch (e) {
              reject(e.toString());
            }
          }),
      });
      const issues = report.issues;
      const first = issues.messages.find((m) => m.severity === 0);
      console.log([file, issues.numErrors, issues.numWarnings, first ? `${first.code} ${first.pointer || ''} ${first.message}` : ''].join('\t'));
    } catch (e) {
      failed = true;
      console.log([file, -1, -1, String(e)].join('\t'));
    }
  }
  process.exit(failed ? 1 : 0);
})();
