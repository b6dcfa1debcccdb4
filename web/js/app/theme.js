// The colour theme: light, dark or following the system, and the matching code-highlighting
// sheet.

import {byId} from './dom.js';
import {elements} from './elements.js';
import {setTheme} from './state.js';
import {showToast} from './toast.js';

const THEME_STORAGE_KEY = 'wrenfield_theme';

// The stored choice is "auto", "light" or "dark"; "auto" follows the system's colour scheme.
const THEME_NAMES = ['auto', 'light', 'dark'];

const THEME_TOASTS = {
  light: 'Theme: Light',
  dark: 'Theme: Dark',
  auto: 'Theme: Auto (System)',
};

const darkSchemeQuery = typeof window.matchMedia === 'function' ?
    window.matchMedia('(prefers-color-scheme: dark)') :
    null;

function systemPrefersDark() {
  return darkSchemeQuery !== null && darkSchemeQuery.matches;
}

// Storage that cannot be read counts as holding no theme.
function readStoredTheme() {
  try {
    return localStorage.getItem(THEME_STORAGE_KEY) || 'auto';
  } catch (error) {
    return 'auto';
  }
}

export function initTheme() {
  applyTheme(readStoredTheme());
  if (darkSchemeQuery !== null) {
    darkSchemeQuery.addEventListener('change', (event) => {
      if (readStoredTheme() === 'auto') {
        updateSyntaxTheme(event.matches);
      }
    });
  }
}

// An unknown stored name is applied as it is: its class matches no palette, so the base
// (light) colours show.
function applyTheme(theme) {
  const root = document.documentElement;
  root.classList.remove(...THEME_NAMES.map((name) => 'theme-' + name));
  try {
    root.classList.add('theme-' + theme);
  } catch (error) {
    // A stored name with a space cannot be a class; the base colours show.
  }
  try {
    localStorage.setItem(THEME_STORAGE_KEY, theme);
  } catch (error) {
    // The choice is simply not kept.
  }
  setTheme(theme);
  updateSyntaxTheme(theme === 'dark' || (theme === 'auto' && systemPrefersDark()));
}

// Exactly one of the two code-highlighting sheets is enabled.
function updateSyntaxTheme(isDark) {
  const lightSheet = byId('hl-light-theme');
  const darkSheet = byId('hl-dark-theme');
  const [enabled, disabled] = isDark ? [darkSheet, lightSheet] : [lightSheet, darkSheet];
  if (disabled) {
    disabled.setAttribute('disabled', 'true');
  }
  if (enabled) {
    enabled.removeAttribute('disabled');
  }
}

// Light goes to dark, dark to auto, and auto to the opposite of the system's scheme.
function toggleTheme() {
  const classes = document.documentElement.classList;
  let next;
  if (classes.contains('theme-light')) {
    next = 'dark';
  } else if (classes.contains('theme-dark')) {
    next = 'auto';
  } else {
    next = systemPrefersDark() ? 'light' : 'dark';
  }
  applyTheme(next);
  showToast(THEME_TOASTS[next]);
}

export function setupThemeEvents() {
  elements.toggleThemeButton.addEventListener('click', toggleTheme);
}
