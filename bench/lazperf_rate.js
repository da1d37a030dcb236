// Decoding speed of the laz-perf WebAssembly decoder (npm laz-perf, installed for the interop
// tests) on one LAZ file: every point read once per repetition, the best repetition kept.
//   node bench/lazperf_rate.js file.laz [repetitions]
// prints {"file":..,"points":..,"seconds":..,"pointsPerSecond":..,"cpuSeconds":..,"pointsPerCpuSecond":..}
'use strict';
const fs = require('fs');
const path = require('path');
const { createLazPerf } = require(path.join(__dirname, '../tests/node/node_modules/laz-perf'));

async function main() {
  const [input, repsArg] = process.argv.slice(2);
  if (!input) throw new Error('usage: lazperf_rate.js file.laz [repetitions]');
  const reps = Math.max(1, parseInt(repsArg || '5', 10));
  const LazPerf = await createLazPerf();
  const bytes = fs.readFileSync(input);
  const filePtr = LazPerf._malloc(bytes.length);
  LazPerf.HEAPU8.set(bytes, filePtr);
  let best = Infinity, bestCpu = Infinity, count = 0;
  for (let rep = 0; rep < reps; ++rep) {
    const laszip = new LazPerf.LASZip();
    const t0 = process.hrtime.bigint();
    const c0 = process.cpuUsage();
    laszip.open(filePtr, bytes.length);
    count = laszip.getCount();
    const pointPtr = LazPerf._malloc(laszip.getPointLength());
    for (let i = 0; i < count; ++i) laszip.getPoint(pointPtr);
    const cpu = process.cpuUsage(c0);
    best = Math.min(best, Number(process.hrtime.bigint() - t0) / 1e9);
    bestCpu = Math.min(bestCpu, (cpu.user + cpu.system) / 1e6);
    LazPerf._free(pointPtr);
    laszip.delete();
  }
  LazPerf._free(filePtr);
  console.log(JSON.stringify({ file: input, points: count, seconds: best, pointsPerSecond: count / best,
                               cpuSeconds: bestCpu, pointsPerCpuSecond: count / bestCpu }));
}

main().catch((e) => {
  console.error(String(e && e.message ? e.message : e));
  process.exit(1);
});
