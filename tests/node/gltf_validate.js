// Prints the Khronos validator's report of one glTF/GLB file as JSON.
const fs = require('fs');
const validator = require('gltf-validator');

const file = process.argv[2];
const data = new Uint8Array(fs.readFileSync(file));
validator
  .validateBytes(data, { maxIssues: 100 })
  .then((report) => {
    process.stdout.write(JSON.stringify(report.issues));
  })
  .catch((err) => {
    process.stderr.write(String(err));
    process.exit(1);
  });
