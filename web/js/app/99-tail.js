// Page script (see 00-head.js): every file above has run, so the page can start.
if (document.readyState === 'loading') {
  document.addEventListener('DOMContentLoaded', init);
} else {
  init();
}
})();
