// Decodes a LAZ file with the laz-perf WebAssembly build and writes every raw point record
// to an output file (its speed is bench/lazperf_rate.js's).
//   node lazperf_dump.js in.laz out.bin   -> prints {"format":..,"length":..,"count":..}
'use strict';
const fs = require('fs');
const { createLazPerf } = require('laz-perf');

async function main() {
  const [input, output] = process.argv.slice(2);
  const LazPerf = await createLazPerf();
  const bytes = fs.readFileSync(input);
  const filePtr = LazPerf._malloc(bytes.length);
  LazPerf.HEAPU8.set(bytes, filePtr);
  const laszip = new LazPerf.LASZip();
  laszip.open(filePtr, bytes.length);
  const count = laszip.getCount(), length = laszip.getPointLength(), format = laszip.getPointFormat();
  const pointPtr = LazPerf._malloc(length);
  const out = Buffer.alloc(count * length);
  for (let i = 0; i < count; ++i) {
    laszip.getPoint(pointPtr);
    out.set(LazPerf.HEAPU8.subarray(pointPtr, pointPtr + length), i * length);
  }
  LazPerf._free(pointPtr);
  laszip.delete();
  LazPerf._free(filePtr);
  fs.writeFileSync(output, out);
  console.log(JSON.stringify({ format, length, count }));
}

main().catch((e) => {
  console.error(String(e && e.message ? e.message : e));
  process.exit(1);
});
