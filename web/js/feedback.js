// Feedback capture: a full-window overlay to pick a region, a screenshot of the page cropped to it,
// and an annotation studio (pen, boxes, text notes) from which a bug report is copied to the
// clipboard, picture and text together, to paste wherever the user reports problems.
// Publishes window.FeedbackStudio and keeps everything else private.
import {copyPngImage, copyPngImageWithText, copyText} from './app/clipboard.js';
import {byId, closeModal} from './app/dom.js';

(function() {
'use strict';

const APP_LABEL = 'Wrenfield 1.0.0';
const MIN_SELECTION_PX = 10;
const MIN_CROP_PX = 20;
const REFERENCE_WIDTH = 800;
const NOTE_FILL = 'rgba(15, 23, 42, 0.92)';

const drawState = {
  activeTool: 'pen',
  color: '#ef4444',
  lineWidth: 3,
  isDrawing: false,
  startX: 0,
  startY: 0,
  undoStack: [],
  maxUndo: 25,
};
const selectState = {
  isSelecting: false,
  startX: 0,
  startY: 0,
  endX: 0,
  endY: 0
};

let initialized = false;
let overlay = null;
let modal = null;
let canvas = null;
let context = null;
let rawCapture = null;
// The canvas as it was when a box stroke began; each move redraws the box over it.
let boxBackground = null;
let currentNote = null;

function showToast(message) {
  if (typeof window.showToast === 'function') window.showToast(message);
}

function showLoading(visible) {
  if (typeof window.showLoading === 'function') window.showLoading(visible);
}

function hostLabel() {
  const label = byId('host-label');
  const text = label ? label.textContent.trim() : '';
  return text || 'Not Connected';
}

function currentPath() {
  return (window.state && window.state.currentPath) || '/';
}

function platformName() {
  const data = navigator.userAgentData;
  return (data && data.platform) || navigator.platform || 'macOS';
}

// ---- Stage 1: the selection overlay ----

function startCapture() {
  if (!overlay) return;
  if (typeof window.hideContextMenus === 'function') window.hideContextMenus();
  document.querySelectorAll('.context-menu').forEach((menu) => menu.classList.add('hidden'));
  overlay.classList.remove('hidden');
  document.body.classList.add('crosshair-active');
  Object.assign(selectState, {isSelecting: false, startX: 0, startY: 0, endX: 0, endY: 0});
  const box = byId('screenshot-box');
  box.classList.add('hidden');
  box.style.width = '0px';
  box.style.height = '0px';
  byId('screenshot-dimensions').textContent = 'Drag to select area';
}

function cancelCapture() {
  if (!overlay) return;
  overlay.classList.add('hidden');
  document.body.classList.remove('crosshair-active');
  selectState.isSelecting = false;
}

function selectionRect() {
  return {
    left: Math.min(selectState.startX, selectState.endX),
    top: Math.min(selectState.startY, selectState.endY),
    width: Math.abs(selectState.endX - selectState.startX),
    height: Math.abs(selectState.endY - selectState.startY),
  };
}

function drawMarquee() {
  const rect = selectionRect();
  const box = byId('screenshot-box');
  box.style.left = rect.left + 'px';
  box.style.top = rect.top + 'px';
  box.style.width = rect.width + 'px';
  box.style.height = rect.height + 'px';
  byId('screenshot-dimensions').textContent =
      Math.round(rect.width) + ' × ' + Math.round(rect.height) + ' px';
}

function handleOverlayMousedown(event) {
  if (event.target.closest('#screenshot-toolbar')) return;
  event.preventDefault();
  Object.assign(selectState, {
    isSelecting: true,
    startX: event.clientX,
    startY: event.clientY,
    endX: event.clientX,
    endY: event.clientY,
  });
  byId('screenshot-box').classList.remove('hidden');
  drawMarquee();
}

function confirmCurrentSelection() {
  const rect = selectionRect();
  if (rect.width < MIN_SELECTION_PX || rect.height < MIN_SELECTION_PX)
    captureRegion(null);
  else
    captureRegion(rect);
}

// ---- Stage 2: the screenshot ----

async function captureRegion(region) {
  overlay.classList.add('hidden');
  document.body.classList.remove('crosshair-active');
  selectState.isSelecting = false;
  if (typeof window.html2canvas !== 'function') {
    alert('Screenshot library loading. Please try again in a moment.');
    return;
  }
  showLoading(true);
  try {
    const scale = Math.max(window.devicePixelRatio || 1, 2);
    const full = await window.html2canvas(document.body, {
      useCORS: true,
      allowTaint: true,
      backgroundColor: '#030712',
      scale: scale,
      logging: false,
      ignoreElements: (element) => element.id === 'screenshot-select-overlay' ||
          element.id === 'modal-feedback' ||
          (element.classList && element.classList.contains('context-menu')),
    });
    showLoading(false);
    let picture = full;
    if (region && region.width > MIN_CROP_PX && region.height > MIN_CROP_PX) {
      picture = document.createElement('canvas');
      picture.width = Math.round(region.width * scale);
      picture.height = Math.round(region.height * scale);
      picture.getContext('2d').drawImage(
          full, region.left * scale, region.top * scale, picture.width, picture.height, 0, 0,
          picture.width, picture.height);
    }
    rawCapture = picture;
    openAnnotationStudio(picture);
  } catch (error) {
    showLoading(false);
    console.error('Screenshot capture failed:', error);
    alert(
        'Failed to capture screenshot: ' +
        (error && error.message ? error.message : String(error)));
  }
}

// ---- Stage 3: the annotation studio ----

function openAnnotationStudio(picture) {
  modal.classList.remove('hidden');
  removeNoteInput();
  showCopyNote('');
  canvas.width = picture.width;
  canvas.height = picture.height;
  context.drawImage(picture, 0, 0);
  drawState.undoStack = [];
  saveUndoState();
  byId('feedback-telemetry-badge').textContent =
      'App: Wrenfield v1.0.0 • Host: ' + hostLabel() + ' • Path: ' + currentPath();
  const title = byId('feedback-title');
  title.value = '';
  byId('feedback-desc').value = '';
  title.focus();
}

function updateUndoButton() {
  byId('btn-draw-undo').disabled = drawState.undoStack.length <= 1;
}

function saveUndoState() {
  try {
    const snapshot = context.getImageData(0, 0, canvas.width, canvas.height);
    if (drawState.undoStack.length >= drawState.maxUndo) drawState.undoStack.shift();
    drawState.undoStack.push(snapshot);
  } catch (error) {
    console.warn('Could not push undo state:', error);
  }
  updateUndoButton();
}

function performUndo() {
  if (drawState.undoStack.length <= 1) return;
  drawState.undoStack.pop();
  context.putImageData(drawState.undoStack[drawState.undoStack.length - 1], 0, 0);
  updateUndoButton();
}

function resetToRawImage() {
  if (!rawCapture) return;
  removeNoteInput();
  context.clearRect(0, 0, canvas.width, canvas.height);
  context.drawImage(rawCapture, 0, 0);
  drawState.undoStack = [];
  saveUndoState();
}

function canvasPoint(event) {
  const rect = canvas.getBoundingClientRect();
  return {
    x: ((event.clientX - rect.left) * canvas.width) / rect.width,
    y: ((event.clientY - rect.top) * canvas.height) / rect.height,
  };
}

function scaledLineWidth() {
  return (drawState.lineWidth * canvas.width) / REFERENCE_WIDTH;
}

function handleCanvasMousedown(event) {
  // Keeps the focus where it is: a note input placed here must not lose it at once.
  event.preventDefault();
  const point = canvasPoint(event);
  if (drawState.activeTool === 'text') {
    placeTextCallout(event.clientX, event.clientY, point);
    return;
  }
  drawState.isDrawing = true;
  drawState.startX = point.x;
  drawState.startY = point.y;
  context.strokeStyle = drawState.color;
  context.fillStyle = drawState.color;
  context.lineWidth = scaledLineWidth();
  context.lineCap = 'round';
  context.lineJoin = 'round';
  if (drawState.activeTool === 'pen') {
    context.beginPath();
    context.moveTo(point.x, point.y);
  } else {
    boxBackground = context.getImageData(0, 0, canvas.width, canvas.height);
  }
}

function handleDrawingMousemove(event) {
  if (!drawState.isDrawing) return;
  const point = canvasPoint(event);
  if (drawState.activeTool === 'pen') {
    context.lineTo(point.x, point.y);
    context.stroke();
  } else if (boxBackground) {
    context.putImageData(boxBackground, 0, 0);
    context.strokeStyle = drawState.color;
    context.lineWidth = scaledLineWidth();
    context.strokeRect(
        drawState.startX, drawState.startY, point.x - drawState.startX, point.y - drawState.startY);
  }
}

function handleDrawingMouseup() {
  if (!drawState.isDrawing) return;
  drawState.isDrawing = false;
  boxBackground = null;
  saveUndoState();
}

// ---- Text notes ----

function removeNoteInput() {
  if (!currentNote) return;
  const note = currentNote;
  currentNote = null;
  note.input.remove();
}

function drawNote(text, point) {
  const fontSize = Math.max(14, Math.round((18 * canvas.width) / REFERENCE_WIDTH));
  context.font = '600 ' + fontSize + 'px Inter, sans-serif';
  const width = context.measureText(text).width + 16;
  const height = fontSize + 16;
  const top = point.y - height / 2;
  context.beginPath();
  context.roundRect(point.x, top, width, height, 6);
  context.fillStyle = NOTE_FILL;
  context.fill();
  context.lineWidth = 2;
  context.strokeStyle = drawState.color;
  context.stroke();
  context.fillStyle = '#ffffff';
  context.textBaseline = 'middle';
  context.fillText(text, point.x + 8, point.y);
  saveUndoState();
}

function commitNote(note) {
  if (currentNote !== note) return;
  removeNoteInput();
  const text = note.input.value.trim();
  if (text) drawNote(text, note.point);
}

function placeTextCallout(clientX, clientY, point) {
  // A note still open is kept rather than thrown away: it is drawn before the next one starts.
  if (currentNote) commitNote(currentNote);
  const area = byId('feedback-canvas-container');
  const areaRect = area.getBoundingClientRect();
  const input = document.createElement('input');
  input.type = 'text';
  input.className = 'canvas-text-input';
  input.placeholder = 'Type note & press Enter';
  input.style.left = clientX - areaRect.left + area.scrollLeft + 'px';
  input.style.top = clientY - areaRect.top + area.scrollTop + 'px';
  input.style.borderColor = drawState.color;
  const note = {input: input, point: point};
  currentNote = note;
  input.addEventListener('keydown', (event) => {
    if (event.key === 'Enter') {
      event.preventDefault();
      commitNote(note);
    } else if (event.key === 'Escape') {
      event.preventDefault();
      event.stopPropagation();
      if (currentNote === note) removeNoteInput();
    }
  });
  input.addEventListener('blur', () => commitNote(note));
  area.appendChild(input);
  input.focus();
}

// ---- Clipboard ----

function canvasPicture() {
  return new Promise((resolve, reject) => {
    canvas.toBlob(
        (blob) => (blob ? resolve(blob) : reject(new Error('The picture could not be made'))),
        'image/png');
  });
}

function copyCanvasToClipboard() {
  return canvasPicture().then(copyPngImage);
}

function copyImage() {
  copyCanvasToClipboard().then(() => showToast('Screenshot copied to clipboard!'), () => {});
}

// The report as text: the title, the description when there is one, and the lines that say
// where the problem was seen.
function reportText(title, description) {
  const lines = [title, ''];
  if (description) lines.push(description, '');
  lines.push(
      'App: ' + APP_LABEL, 'OS: ' + platformName(), 'Host: ' + hostLabel(),
      'Path: ' + currentPath(), 'Time: ' + new Date().toISOString());
  return lines.join('\n') + '\n';
}

// The line under the form that says what the last copy put on the clipboard; empty hides it.
function showCopyNote(text, failed = false) {
  const note = byId('feedback-copy-note');
  note.textContent = text;
  note.classList.toggle('failed', failed);
  note.classList.toggle('hidden', text === '');
}

// No service collects reports: the picture and the typed text go to the clipboard together, and
// the form keeps what was typed. Where the clipboard refuses the two as one item, the text goes
// alone (the picture is then one click on Copy Image away).
async function copyReport() {
  const titleInput = byId('feedback-title');
  const title = titleInput.value.trim();
  const description = byId('feedback-desc').value.trim();
  if (!title) {
    alert('Please enter a short title for the bug report.');
    titleInput.focus();
    return;
  }
  const text = reportText(title, description);
  try {
    await copyPngImageWithText(canvasPicture(), text);
    showCopyNote(
        'Copied the picture and the text (title, description, system details): paste them ' +
        'where you report the problem.');
    showToast('Report copied to clipboard');
  } catch (error) {
    console.warn('Copying the picture with the text failed:', error);
    try {
      await copyText(text);
      showCopyNote(
          'Copied the text only: the clipboard refused the picture with it. Copy Image copies ' +
          'the picture on its own.');
      showToast('Report text copied to clipboard');
    } catch (textError) {
      showCopyNote(
          'The report could not be copied: ' +
              (textError && textError.message ? textError.message : String(textError)),
          true);
    }
  }
}

// ---- Set-up ----

function selectTool(button, tool) {
  document.querySelectorAll('#annotation-toolbar .annot-btn[id^="tool-draw-"]').forEach((other) => {
    other.classList.toggle('active', other === button);
  });
  drawState.activeTool = tool;
}

function selectColor(swatch) {
  document.querySelectorAll('.draw-color-swatch').forEach((other) => {
    other.classList.toggle('active', other === swatch);
  });
  drawState.color = swatch.getAttribute('data-color');
}

function handleKeydown(event) {
  if (event.key === 'Escape' && overlay && !overlay.classList.contains('hidden')) cancelCapture();
}

function handleWindowMousemove(event) {
  if (selectState.isSelecting) {
    selectState.endX = event.clientX;
    selectState.endY = event.clientY;
    drawMarquee();
  }
  handleDrawingMousemove(event);
}

function handleWindowMouseup() {
  selectState.isSelecting = false;
  handleDrawingMouseup();
}

function on(id, type, handler) {
  const element = byId(id);
  if (element) element.addEventListener(type, handler);
}

function initFeedback() {
  if (initialized) return;
  overlay = byId('screenshot-select-overlay');
  modal = byId('modal-feedback');
  canvas = byId('feedback-canvas');
  if (!canvas) return;
  initialized = true;
  context = canvas.getContext('2d', {willReadFrequently: true});

  if (overlay) overlay.addEventListener('mousedown', handleOverlayMousedown);
  on('btn-confirm-crop', 'click', confirmCurrentSelection);
  on('btn-full-screenshot', 'click', () => captureRegion(null));
  on('btn-cancel-screenshot', 'click', cancelCapture);
  window.addEventListener('mousemove', handleWindowMousemove);
  window.addEventListener('mouseup', handleWindowMouseup);
  window.addEventListener('keydown', handleKeydown);

  canvas.addEventListener('mousedown', handleCanvasMousedown);
  on('tool-draw-pen', 'click', (event) => selectTool(event.currentTarget, 'pen'));
  on('tool-draw-rect', 'click', (event) => selectTool(event.currentTarget, 'rect'));
  on('tool-draw-text', 'click', (event) => selectTool(event.currentTarget, 'text'));
  document.querySelectorAll('.draw-color-swatch').forEach((swatch) => {
    swatch.addEventListener('click', () => selectColor(swatch));
  });
  on('btn-draw-undo', 'click', performUndo);
  on('btn-draw-reset', 'click', resetToRawImage);
  on('btn-copy-screenshot-image', 'click', copyImage);
  on('btn-submit-feedback', 'click', copyReport);
  on('btn-close-feedback', 'click', () => closeModal(modal));
}

window.FeedbackStudio = {
  init: initFeedback,
  startCapture: startCapture,
  cancelCapture: cancelCapture
};

if (document.readyState === 'loading')
  document.addEventListener('DOMContentLoaded', initFeedback);
else
  initFeedback();
})();
