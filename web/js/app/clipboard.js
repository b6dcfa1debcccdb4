// Writing to the system clipboard. Each write resolves once the text or picture is there, and
// rejects when the browser has no clipboard to write to or refuses the write; callers show their
// own confirmation and stay quiet on failure.

export function copyText(text) {
  if (!navigator.clipboard) {
    return Promise.reject(new Error('Clipboard unavailable'));
  }
  return navigator.clipboard.writeText(text);
}

// `picture` is a PNG blob (or null when the canvas gave none).
export function copyPngImage(picture) {
  if (!picture || !navigator.clipboard || typeof window.ClipboardItem !== 'function') {
    return Promise.reject(new Error('Clipboard unavailable'));
  }
  return navigator.clipboard.write([new window.ClipboardItem({'image/png': picture})]);
}

// A picture and its text as one clipboard item, so that a paste takes whichever of the two the
// target accepts. `picture` is a PNG blob or a promise of one: the write starts at once, while
// the click that asked for it still counts as the user's.
export function copyPngImageWithText(picture, text) {
  if (!navigator.clipboard || typeof window.ClipboardItem !== 'function') {
    return Promise.reject(new Error('Clipboard unavailable'));
  }
  return navigator.clipboard.write([new window.ClipboardItem({
    'image/png': picture,
    'text/plain': new Blob([text], {type: 'text/plain'}),
  })]);
}
