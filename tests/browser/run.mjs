// Runs every *.test.mjs of this folder, one file at a time (each starts its
// own demo server and browser), reports with the spec reporter and closes
// with one line "browser: N passed, N failed". Exits non-zero when a test
// failed or none ran.
//   BUILD_DIR          build tree with the programs (default build)
//   BROWSER_ARTIFACTS  where screenshots go (default <build>/browser-artifacts)
//   KEEP_DEMO=1        keeps each test file's demo directory
//   node run.mjs [file.test.mjs ...]   runs only the files named
import fs from 'node:fs';
import path from 'node:path';
import { run } from 'node:test';
import { spec } from 'node:test/reporters';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const named = process.argv.slice(2);
const files = (named.length ? named : fs.readdirSync(here).filter((f) => f.endsWith('.test.mjs')).sort()).map(
  (f) => path.resolve(here, f),
);

let passed = 0;
let failed = 0;
let skipped = 0;
const stream = run({ files, concurrency: 1, timeout: 180000 });
stream.on('test:pass', (data) => {
  if (data.details?.type === 'suite') return;
  if (data.skip || data.todo) ++skipped;
  else ++passed;
});
stream.on('test:fail', (data) => {
  if (data.details?.type !== 'suite') ++failed;
});
const report = stream.compose(new spec());
report.pipe(process.stdout);
report.on('end', () => {
  const tail = skipped ? `, ${skipped} skipped` : '';
  console.log(`browser: ${passed} passed, ${failed} failed${tail}`);
  process.exitCode = failed > 0 || passed === 0 ? 1 : 0;
});
