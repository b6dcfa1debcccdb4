// The page's drawn icons: the entry icons, one drawing per icon class, published once as
// style-sheet pictures for rows and cards and drawn inline where a single icon is needed; and the
// small icons of the sidebar and the breadcrumbs.

import {iconClass} from './kinds.js';

const PAGE_OUTLINE = 'M14 2H6a2 2 0 0 0-2 2v16a2 2 0 0 0 2 2h12a2 2 0 0 0 2-2V8z';
const PAGE_FOLD = 'M14 2v6h6';

// The folder's outline, alone in a bookmark of Quick Access and lined in the entry icon.
const FOLDER_OUTLINE =
    '<path d="M3 7a2 2 0 0 1 2-2h4l2 2.5h8a2 2 0 0 1 2 2V18a2 2 0 0 1-2 2H5a2 2 0 0 1-2-2z" ' +
    'fill="#3b82f6" fill-opacity="0.22" stroke="#60a5fa" stroke-width="1.5" ' +
    'stroke-linejoin="round"/>';

// The drawings inside each icon class's 24-unit view box.
const ICON_DRAWINGS = {
  folder: FOLDER_OUTLINE +
      '<path d="M3.8 11.5h16.4" stroke="#93c5fd" stroke-opacity="0.4" stroke-width="1" ' +
      'stroke-dasharray="2 2"/>',
  // A link to a folder: the folder with a link arrow in a badge at its lower right.
  'folder-link': FOLDER_OUTLINE +
      '<circle cx="17.5" cy="17.5" r="4.5" fill="#1e3a8a" stroke="#93c5fd" stroke-width="1"/>' +
      '<path d="M15.6 19.4l3.6-3.6M16.6 15.8h2.6v2.6" stroke="#eff6ff" stroke-width="1.3" ' +
      'stroke-linecap="round" stroke-linejoin="round"/>',
  markdown: '<rect x="2.5" y="4.5" width="19" height="15" rx="3" fill="#818cf8" ' +
      'fill-opacity="0.15" stroke="#818cf8" stroke-width="1.5"/>' +
      '<path d="M6 15V9l2.5 3L11 9v6" stroke="#c7d2fe" stroke-width="1.5" ' +
      'stroke-linecap="round" stroke-linejoin="round"/>' +
      '<path d="M16 9v5.5M13.8 12.5l2.2 2.2 2.2-2.2" stroke="#a5b4fc" stroke-width="1.5" ' +
      'stroke-linecap="round" stroke-linejoin="round"/>',
  code: '<path d="' + PAGE_OUTLINE + '" fill="#f59e0b" fill-opacity="0.12" stroke="#fbbf24" ' +
      'stroke-width="1.5" stroke-linejoin="round"/>' +
      '<path d="' + PAGE_FOLD + '" stroke="#fbbf24" stroke-width="1.5" stroke-linejoin="round"/>' +
      '<path d="M10 12.5l-2 2 2 2M14 12.5l2 2-2 2" stroke="#fef3c7" stroke-width="1.5" ' +
      'stroke-linecap="round" stroke-linejoin="round"/>',
  data: '<path d="' + PAGE_OUTLINE + '" fill="#10b981" fill-opacity="0.12" stroke="#34d399" ' +
      'stroke-width="1.5" stroke-linejoin="round"/>' +
      '<path d="' + PAGE_FOLD + '" stroke="#34d399" stroke-width="1.5" stroke-linejoin="round"/>' +
      '<circle cx="8.5" cy="15" r="1" fill="#a7f3d0"/><circle cx="12" cy="15" r="1" ' +
      'fill="#a7f3d0"/><circle cx="15.5" cy="15" r="1" fill="#a7f3d0"/>',
  media: '<rect x="3" y="4" width="18" height="16" rx="3" fill="#a855f7" fill-opacity="0.15" ' +
      'stroke="#c084fc" stroke-width="1.5"/>' +
      '<circle cx="9" cy="9.5" r="1.6" stroke="#e9d5ff" stroke-width="1.3"/>' +
      '<path d="M4 17.5l5-5 3.5 3.5 2.5-2.5 5 4.5" stroke="#e9d5ff" stroke-width="1.5" ' +
      'stroke-linecap="round" stroke-linejoin="round"/>',
  archive: '<rect x="4" y="3" width="16" height="18" rx="2" fill="#f43f5e" fill-opacity="0.12" ' +
      'stroke="#fb7185" stroke-width="1.5"/>' +
      '<path d="M12 3v9" stroke="#fda4af" stroke-width="1.5" stroke-dasharray="1.5 1.5"/>' +
      '<rect x="10" y="12" width="4" height="4" rx="1" stroke="#fb7185" stroke-width="1.5"/>',
  // The plain page is drawn in the text colour so that it shows on light and dark alike.
  document: '<path d="' + PAGE_OUTLINE + '" fill="currentColor" fill-opacity="0.04" ' +
      'stroke="currentColor" stroke-opacity="0.25" stroke-width="1.5" stroke-linejoin="round"/>' +
      '<path d="' + PAGE_FOLD + '" stroke="currentColor" stroke-opacity="0.25" ' +
      'stroke-width="1.5" stroke-linejoin="round"/>' +
      '<path d="M8 13h8M8 17h5" stroke="currentColor" stroke-opacity="0.18" ' +
      'stroke-width="1.5" stroke-linecap="round"/>',
};

// The text colour (--text-primary) of the light and the dark palette. A picture cannot take
// the colour of the element that shows it, so the plain page is published in both, and the
// style sheet's palettes pick theirs.
const DOCUMENT_ICON_INKS = {
  light: '#090d16',
  dark: '#f8fafc'
};

// Rows and cards show their icon as a class of the style sheet (icon-folder, ...) whose
// picture is the drawing above, published once as a custom property on the root: an element
// without children costs far less to build, lay out and take down than an inline drawing in
// each of thousands of rows.
export function publishIconImages() {
  const root = document.documentElement.style;
  const publish = (name, drawing) => {
    const image = '<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 24" fill="none">' +
        drawing + '</svg>';
    root.setProperty(
        '--icon-' + name, 'url("data:image/svg+xml,' + encodeURIComponent(image) + '")');
  };
  for (const [name, drawing] of Object.entries(ICON_DRAWINGS)) {
    if (name !== 'document') {
      publish(name, drawing);
    }
  }
  for (const [palette, ink] of Object.entries(DOCUMENT_ICON_INKS)) {
    publish('document-on-' + palette, ICON_DRAWINGS.document.replaceAll('currentColor', ink));
  }
}

export function getFileIcon(item, size = 18) {
  return '<svg width="' + size + '" height="' + size + '" viewBox="0 0 24 24" fill="none">' +
      ICON_DRAWINGS[iconClass(item)] + '</svg>';
}

// A folder bookmark of Quick Access.
export const BOOKMARK_FOLDER_ICON =
    '<svg width="16" height="16" viewBox="0 0 24 24" fill="none">' + FOLDER_OUTLINE + '</svg>';

// A host group's fold arrow in Quick Access.
export const GROUP_CHEVRON_ICON = '<svg width="10" height="10" viewBox="0 0 24 24" fill="none" ' +
    'stroke="currentColor" stroke-width="2" stroke-linecap="round" stroke-linejoin="round">' +
    '<polyline points="6 9 12 15 18 9"/></svg>';

// A configured host in the sidebar.
export const SERVER_ICON =
    '<svg width="15" height="15" viewBox="0 0 24 24" fill="none" stroke="currentColor" ' +
    'stroke-width="2" stroke-linecap="round" stroke-linejoin="round">' +
    '<rect x="2" y="2" width="20" height="8" rx="2" ry="2"/>' +
    '<rect x="2" y="14" width="20" height="8" rx="2" ry="2"/>' +
    '<line x1="6" y1="6" x2="6.01" y2="6"/><line x1="6" y1="18" x2="6.01" y2="18"/></svg>';

// The root's crumb in the breadcrumbs.
export const GLOBE_ICON =
    '<svg width="12" height="12" viewBox="0 0 24 24" fill="none" stroke="currentColor" ' +
    'stroke-width="2" stroke-linecap="round" stroke-linejoin="round" style="opacity: 0.7;">' +
    '<circle cx="12" cy="12" r="10"/><line x1="2" y1="12" x2="22" y2="12"/>' +
    '<path d="M12 2a15.3 15.3 0 0 1 4 10 15.3 15.3 0 0 1-4 10 15.3 15.3 0 0 1-4-10 ' +
    '15.3 15.3 0 0 1 4-10z"/></svg>';

// A folder's fold arrow and its folder in the folder tree.
export const TREE_CHEVRON_ICON = '<svg width="9" height="9" viewBox="0 0 24 24" fill="none" ' +
    'stroke="currentColor" stroke-width="2.5" stroke-linecap="round" stroke-linejoin="round">' +
    '<polyline points="9 18 15 12 9 6"/></svg>';

export const TREE_FOLDER_ICON = '<svg width="14" height="14" viewBox="0 0 24 24" ' +
    'fill="currentColor" fill-opacity="0.2" stroke="currentColor" stroke-width="1.6" ' +
    'stroke-linecap="round" stroke-linejoin="round">' +
    '<path d="M22 19a2 2 0 0 1-2 2H4a2 2 0 0 1-2-2V5a2 2 0 0 1 2-2h5l2 3h9a2 2 0 0 1 2 2z"/>' +
    '</svg>';
