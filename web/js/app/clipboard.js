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
