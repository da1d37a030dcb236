// Decodes a LAZ file with the laz-perf WebAssembly build and writes every raw point record
// to an output file (or only times the decode with --bench).
//   node lazperf_dump.js in.laz out.bin          -> prints {"format":..,"length":..,"count":..}
//   node lazperf_dump.js --bench in.laz [reps]   -> prints {"points":..,"seconds":..,"pointsPerSecond":..,
//                                                    "cpuSeconds":..,"pointsPerCpuSecond":..} (best of reps)
'use strict';
const fs = require('fs');
const { createLazPerf } = require('laz-perf');

async function main() {
  const args = process.argv.slice(2);
  const bench = args[0] === '--bench';
  if (bench) args.shift();
  const [input, output] = args;
  const reps = bench ? Math.max(1, parseInt(args[1] || '3', 10)) : 1;
  const LazPerf = await createLazPerf();
  const bytes = fs.readFileSync(input);
  const filePtr = LazPerf._malloc(bytes.length);
  LazPerf.HEAPU8.set(bytes, filePtr);

  let best = Infinity, bestCpu = Infinity, count = 0, length = 0, format = 0;
  for (let rep = 0; rep < reps; ++rep) {
    const laszip = new LazPerf.LASZip();
    const t0 = process.hrtime.bigint();
    const c0 = process.cpuUsage();
    laszip.open(filePtr, bytes.length);
    count = laszip.getCount();
    length = laszip.getPointLength();
    format = laszip.getPointFormat();
    const pointPtr = LazPerf._malloc(length);
    let out = null;
    if (!bench) out = Buffer.alloc(count * length);
    for (let i = 0; i < count; ++i) {
      laszip.getPoint(pointPtr);
      if (out) out.set(LazPerf.HEAPU8.subarray(pointPtr, pointPtr + length), i * length);
    }
    const seconds = Number(process.hrtime.bigint() - t0) / 1e9;
    const cpu = process.cpuUsage(c0);
    best = Math.min(best, seconds);
    bestCpu = Math.min(bestCpu, (cpu.user + cpu.system) / 1e6);
    LazPerf._free(pointPtr);
    laszip.delete();
    if (out) fs.writeFileSync(output, out);
  }
  LazPerf._free(filePtr);
  if (bench)
    console.log(JSON.stringify({ file: input, points: count, seconds: best, pointsPerSecond: count / best,
                                 cpuSeconds: bestCpu, pointsPerCpuSecond: count / bestCpu }));
  else console.log(JSON.stringify({ format, length, count }));
}

main().catch((e) => {
  console.error(String(e && e.message ? e.message : e));
  process.exit(1);
});
