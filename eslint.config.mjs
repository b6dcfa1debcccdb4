// The lint of our own JavaScript (scripts/check-format.sh runs it after clang-format): ESLint's
// recommended rules, among them that every name used is declared or imported (no-undef) and
// every name declared is used (no-unused-vars). The page's scripts are ES modules; tests,
// benchmarks and the build's scripts run in Node, and tests and benchmarks hand functions to the
// page, so both sets of globals apply there.
import js from '@eslint/js';
import globals from 'globals';

const rules = {
  ...js.configs.recommended.rules,
  'no-undef': 'error',
  // A caught error that is not looked at needs no name of its own to say so.
  'no-unused-vars': ['error', {caughtErrors: 'none'}],
};

export default [
  {ignores: ['build*/**', 'node_modules/**', 'test-artifacts/**']},
  {
    files: ['web/js/**/*.js'],
    languageOptions: {sourceType: 'module', globals: globals.browser},
    rules,
  },
  {
    files: ['tests/**/*.mjs', 'bench/**/*.mjs', 'scripts/**/*.mjs', 'eslint.config.mjs'],
    languageOptions: {sourceType: 'module', globals: {...globals.node, ...globals.browser}},
    rules,
  },
];
