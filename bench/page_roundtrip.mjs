// Round trips of QMBase64Encode("abc") from a page in headless Chromium
// through quillmark.js, the extension and the host, measured twice in one
// browser: against quillmark-host and against quillmark-echo-host (same
// framing, a fixed answer, no control). Writes BM_PageRoundTrip and
// BM_EchoHostRoundTrip into BENCH_JSON in Google Benchmark's JSON shape
// (three repetitions, each the median latency of its calls, and their
// median as the aggregate; times are wall-clock microseconds).
//
// Usage: node bench/page_roundtrip.mjs BUILD_DIR BENCH_JSON [CALLS]
// Exits 0 without writing when Chromium cannot be started.
import fs from 'node:fs';
import path from 'node:path';

import {ChromiumUnavailable} from '../tests/browser/chromium.mjs';
import {World} from '../tests/browser/fixture.mjs';

const [build, out, callsArg] = process.argv.slice(2);
if (!build || !out) {
  console.error('usage: page_roundtrip.mjs BUILD_DIR BENCH_JSON [CALLS]');
  process.exit(2);
}
const CALLS = Number(callsArg || 1000);
const WARMUP = 200;
const REPETITIONS = 3;

// One repetition in the page: |calls| sequential round trips on one control.
const REPETITION = (calls) => `(async () => {
  const q = window.bench;
  for (let i = 0; i < ${WARMUP}; i++) await q.QMBase64Encode("abc");
  const times = new Float64Array(${calls});
  const start = performance.now();
  for (let i = 0; i < ${calls}; i++) {
    const t0 = performance.now();
    const r = await q.QMBase64Encode("abc");
    times[i] = performance.now() - t0;
    if (r !== "YWJj\\n" && r !== "YWJj\\r\\n" && r !== "YWJj") throw new Error("answer " + r);
  }
  const total = performance.now() - start;
  times.sort();
  return { medianMs: times[${calls} >> 1], totalMs: total, isolated: crossOriginIsolated };
})()`;

function median(values) {
  const s = [...values].sort((a, b) => a - b);
  return s[s.length >> 1];
}

function entries(name, reps) {
  const row = (extra, us, perSecond) => Object.assign(
      {
        name,
        run_name: name,
        family_index: 0,
        per_family_instance_index: 0,
        repetitions: REPETITIONS,
        threads: 1,
        iterations: CALLS,
        real_time: us,
        cpu_time: us,
        time_unit: 'us',
        items_per_second: perSecond,
      },
      extra);
  const list = reps.map(
      (r, i) =>
          row({run_type: 'iteration', repetition_index: i}, r.medianMs * 1000,
              (CALLS * 1000) / r.totalMs));
  list.push(
      row({name: `${name}_median`, run_type: 'aggregate', aggregate_name: 'median'},
          median(reps.map((r) => r.medianMs * 1000)),
          median(reps.map((r) => (CALLS * 1000) / r.totalMs))));
  return list;
}

async function measure(world, host, consent) {
  world.writeWrapper(host);
  world.script(consent);
  const page = await world.open(world.origins.bank);
  await page.evaluate('(async () => { window.bench = await Quillmark.connect(); })()');
  const reps = [];
  for (let i = 0; i < REPETITIONS; i++) reps.push(await page.evaluate(REPETITION(CALLS)));
  await page.evaluate('window.bench.close()');
  await page.close();
  return reps;
}

for (const program of ['quillmark-host', 'quillmark-echo-host']) {
  if (!process.env.QM_TEST_HOST && !fs.existsSync(path.join(build, program))) {
    console.log(`page round trip: skipped (${program} is not built in ${build})`);
    process.exit(0);
  }
}

let world;
try {
  world = await World.start({build, host: process.env.QM_TEST_HOST});
} catch (e) {
  if (e instanceof ChromiumUnavailable) {
    console.log(`page round trip: skipped (${e.message.split('\n')[0]})`);
    process.exit(0);
  }
  throw e;
}
let echo, page;
try {
  echo = await measure(world, path.join(world.build, 'quillmark-echo-host'), []);
  page = await measure(world, world.host, ['always']);
} finally {
  await world.stop();
}

let report = {context: {}, benchmarks: []};
if (fs.existsSync(out)) report = JSON.parse(fs.readFileSync(out, 'utf8'));
const ours = new Set(['BM_PageRoundTrip', 'BM_EchoHostRoundTrip']);
report.benchmarks = report.benchmarks.filter((b) => !ours.has(b.run_name || b.name));
report.benchmarks.push(
    ...entries('BM_PageRoundTrip', page), ...entries('BM_EchoHostRoundTrip', echo));
fs.writeFileSync(out, JSON.stringify(report, null, 2));
for (const [name, reps] of [['page (quillmark-host)', page], ['echo host', echo]]) {
  const us = median(reps.map((r) => r.medianMs * 1000));
  const rps = median(reps.map((r) => (CALLS * 1000) / r.totalMs));
  console.log(
      `${name}: median ${us.toFixed(1)} us per round trip, ${rps.toFixed(0)} round trips/s` +
      (reps[0].isolated ? '' : ' (coarse timer)'));
}
