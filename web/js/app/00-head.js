// Wrenfield page script: runs the file browser of index.html.
//
// One self-contained function, kept as several files by concern in web/js/app/ and joined in
// file-name order into the one /js/app.js the page loads (src/server/assets.cmake does the
// join). This file opens the function and 99-tail.js starts the page and closes it. Between
// them, in order:
//   10-state-connection.js   state and elements; API requests; toast and loading bar;
//                            connection; event wiring and start-up
//   20-navigation-rendering  navigation; breadcrumbs and path input; filter, sort and views;
//                            rendering; selection and opening; file kinds, icons, formatting
//   30-quick-access-tree     Quick Access; folder tree
//   40-menus-keyboard-upload-forms-theme
//                            context menus; keyboard; upload; file forms; theme
// All files share the function's scope. Function declarations are visible everywhere; a
// `const` or `let` of a later file holds its value only once the join reaches it, which is
// why the page starts in the tail, after every file has run.
//
// The names the page's three scripts share on `window` (the vendor scripts aside):
//   published by markdown_viewer.js: openMarkdownViewer (called here to open a file);
//   published by feedback.js:        FeedbackStudio (its startCapture is called here);
//   published here:                  state, showToast, showLoading (read by both scripts),
//                                    hideContextMenus (feedback), downloadRemoteFile and
//                                    apiRequest (viewer).
// The viewer also reads marked, hljs and DOMPurify, the feedback script html2canvas.
(function () {
'use strict';
