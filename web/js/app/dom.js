// The small helpers that find an element and close a modal; the page's script, the viewer and the
// feedback script all use them.

export const byId = (id) => document.getElementById(id);

export function closeModal(modal) {
  modal.classList.add('hidden');
}
