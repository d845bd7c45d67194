// Accessibility and markup checks of the demo's pages: axe-core run inside
// the page (or frame), html-validate on the markup.
import fs from 'node:fs';
import { createRequire } from 'node:module';

import { HtmlValidate } from 'html-validate';

const require = createRequire(import.meta.url);
const axe_source = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');

/// The critical and serious axe violations of a page or frame, each as
/// "rule: target, target..." lines.
export async function axe_violations(frame) {
  await frame.evaluate(axe_source);
  const result = await frame.evaluate(async () => {
    // eslint-disable-next-line no-undef
    const r = await axe.run(document, { resultTypes: ['violations'] });
    return r.violations.map((v) => ({ id: v.id, impact: v.impact, targets: v.nodes.map((n) => n.target.join(' ')) }));
  });
  return result.filter((v) => v.impact === 'critical' || v.impact === 'serious').map((v) => `${v.id} (${v.impact}): ${v.targets.join(', ')}`);
}

// The recommended preset, less the rules that judge the way the pages are
// written rather than whether browsers read them alike (see README.md).
const validator = new HtmlValidate({
  extends: ['html-validate:recommended'],
  rules: {
    'element-case': 'off',
    'attr-case': 'off',
    'attr-quotes': 'off',
    'no-inline-style': 'off',
    'void-style': 'off',
    'no-implicit-close': 'off',
    'prefer-native-element': 'off',
    'prefer-button': 'off',
  },
});

/// The html-validate errors of a page's markup, as "line:column rule: message".
export async function html_errors(markup) {
  const report = await validator.validateString(markup);
  const out = [];
  for (const r of report.results) for (const m of r.messages) if (m.severity === 2) out.push(`${m.line}:${m.column} ${m.ruleId}: ${m.message}`);
  return out;
}

/// The markup a frame shows now (after its scripts ran), with its doctype.
export async function frame_markup(frame) {
  return frame.evaluate(() => `<!DOCTYPE html>\n${document.documentElement.outerHTML}`);
}
