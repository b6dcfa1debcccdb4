// Dragging an entry or a folder of the tree inside the page (to Quick Access). While such a drag
// is under way, a drag over the window is not an upload of outside files.

import {setDraggingInternal} from './state.js';

// Starts the drag of `record` ({path, name, is_dir}) from a dragstart event.
export function startEntryDrag(event, record) {
  setDraggingInternal(true);
  event.dataTransfer.setData('application/json', JSON.stringify(record));
  event.dataTransfer.setData('text/plain', record.path);
  event.dataTransfer.effectAllowed = 'copy';
}

export function endEntryDrag() {
  setDraggingInternal(false);
}
