// File kinds and icon classes by name extension. Pure functions and their tables.

export const FILE_KINDS = {
  md: 'Markdown',
  markdown: 'Markdown',
  txt: 'Text Document',
  rs: 'Rust Source',
  py: 'Python Script',
  js: 'JavaScript',
  ts: 'TypeScript',
  html: 'HTML Document',
  css: 'CSS Stylesheet',
  json: 'JSON Document',
  yaml: 'YAML Document',
  yml: 'YAML Document',
  sh: 'Shell Script',
  bash: 'Shell Script',
  png: 'PNG Image',
  jpg: 'JPEG Image',
  jpeg: 'JPEG Image',
  gif: 'GIF Image',
  svg: 'SVG Vector Image',
  pdf: 'PDF Document',
  zip: 'ZIP Archive',
  tar: 'TAR Archive',
  gz: 'GZIP Archive',
};

// The lower-cased text after the last "." of the name, or the whole name without one.
export function fileExtension(name) {
  const text = String(name || '');
  return text.slice(text.lastIndexOf('.') + 1).toLowerCase();
}

// Whether opening the entry goes into a folder: a folder, or a symbolic link to one (which the
// listing gives as a link, not a folder, with link_to_dir set).
export function leadsToFolder(item) {
  return item.is_dir === true || item.link_to_dir === true;
}

export function getFileKind(item) {
  if (leadsToFolder(item)) {
    return 'Folder';
  }
  const extension = fileExtension(item.name);
  if (extension === '') {
    return 'Document';
  }
  if (Object.hasOwn(FILE_KINDS, extension)) {
    return FILE_KINDS[extension];
  }
  return extension.toUpperCase() + ' File';
}

const ICON_CLASSES = [
  {name: 'markdown', extensions: ['md', 'markdown', 'mdown']},
  {
    name: 'code',
    extensions: [
      'py',     'rs', 'js', 'ts',  'jsx', 'tsx',  'html', 'css',  'scss', 'vue',
      'svelte', 'go', 'c',  'cpp', 'h',   'java', 'sh',   'bash', 'zsh',
    ],
  },
  {
    name: 'data',
    extensions:
        ['json', 'yaml', 'yml', 'toml', 'xml', 'csv', 'env', 'sql', 'graphql', 'ini', 'conf'],
  },
  {
    name: 'media',
    extensions: [
      'png',
      'jpg',
      'jpeg',
      'gif',
      'svg',
      'webp',
      'ico',
      'bmp',
      'tiff',
      'mp4',
      'webm',
      'mov',
      'mp3',
      'wav',
    ],
  },
  {name: 'archive', extensions: ['zip', 'tar', 'gz', 'bz2', 'xz', '7z', 'rar']},
];

export function iconClass(item) {
  if (item.is_dir) {
    return 'folder';
  }
  if (item.link_to_dir === true) {
    return 'folder-link';
  }
  const extension = fileExtension(item.name);
  const match = ICON_CLASSES.find((entry) => entry.extensions.includes(extension));
  return match ? match.name : 'document';
}
