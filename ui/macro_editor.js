// The macro editor: the current profile's events as a list (runs of pointer
// movement folded into one row that opens into its samples), where each row
// happens on the screen, and the edits: delays, delete, insert, move, timing
// of a selection, shortening pauses, undo and redo. Only the rows in view are
// in the page; the native side hands them out a window at a time
// (getMacroRows, getMacroEvents) and applies every edit (editMacro,
// undoMacroEdit, redoMacroEdit), saving it before it answers.
(function () {
  'use strict';
  var mount = document.getElementById('macro-editor');
  var opener = document.getElementById('macro-edit');
  if (!mount || !opener) return;

  var ROW_H = 26;      // px per list row
  var PAGE = 200;      // rows per request
  var OVERSCAN = 6;    // rows drawn beyond the view on each side

  function call(name) {
    var fn = window[name];
    if (typeof fn !== 'function') return Promise.reject(new Error('no ' + name));
    try { return Promise.resolve(fn.apply(null, Array.prototype.slice.call(arguments, 1))); } catch (e) { return Promise.reject(e); }
  }
  function el(tag, attrs, text) {
    var e = document.createElement(tag);
    for (var k in attrs || {}) e.setAttribute(k, attrs[k]);
    if (text !== undefined) e.textContent = text;
    return e;
  }
  function secs(v) { return v === null || v === undefined ? '\u2014' : (Math.round(v * 1000) / 1000).toFixed(3) + ' s'; }

  var style = el('style');
  style.textContent = [
    '.med { position: fixed; inset: 0; z-index: 50; background: var(--bg); color: var(--text); display: flex; flex-direction: column; gap: 6px; padding: 10px; font-size: 12px; }',
    '.med[hidden] { display: none; }',
    // The page under the editor is not painted while the editor covers it.
    'html.med-open body > *:not(#macro-editor) { visibility: hidden; }',
    '.med .med-head { display: flex; align-items: center; gap: 8px; }',
    '.med .med-head h2 { margin: 0; font-size: 15px; flex: 1; }',
    '.med .med-bar { display: flex; flex-wrap: wrap; gap: 6px; align-items: center; }',
    '.med .med-bar input { width: 70px; }',
    '.med .med-bar input.wide { width: 140px; }',
    '.med .med-warn { padding: 6px 8px; border-radius: 8px; border: 1px solid var(--warn-line); background: var(--warn-soft); color: var(--warn); display: flex; gap: 8px; align-items: center; }',
    '.med .med-warn[hidden], .med .med-error[hidden] { display: none; }',
    '.med .med-error { color: var(--error); }',
    '.med .med-main { flex: 1; min-height: 0; display: flex; gap: 8px; }',
    '.med .med-list { flex: 1; min-width: 0; overflow-y: auto; contain: strict; position: relative; border: 1px solid var(--line); border-radius: 8px; background: var(--panel); outline: none; }',
    '.med .med-spacer { position: relative; }',
    '.med .med-row { position: absolute; left: 0; right: 0; height: ' + ROW_H + 'px; display: grid; grid-template-columns: 62px 74px 62px minmax(60px, 1fr) minmax(90px, 2fr) 74px; gap: 6px; align-items: center; padding: 0 8px; white-space: nowrap; overflow: hidden; cursor: default; contain: strict; border-bottom: 1px solid var(--line); box-sizing: border-box; }',
    '.med .med-row.sel { background: var(--accent-soft); }',
    '.med .med-row.sample { color: var(--muted); padding-left: 24px; }',
    '.med .med-row .num { color: var(--faint); }',
    '.med .med-row button { padding: 0 4px; font-size: 11px; }',
    '.med .med-side { width: 200px; display: flex; flex-direction: column; gap: 6px; }',
    '.med canvas { width: 200px; height: 125px; border: 1px solid var(--line); border-radius: 6px; background: var(--panel-2); }',
    '.med .med-head-row { display: grid; grid-template-columns: 62px 74px 62px minmax(60px, 1fr) minmax(90px, 2fr) 74px; gap: 6px; padding: 0 9px; color: var(--muted); }'
  ].join('\n');
  document.head.appendChild(style);

  mount.innerHTML =
    '<div class="med" id="med" role="dialog" aria-modal="true" aria-labelledby="med-title" hidden>' +
    ' <div class="med-head"><h2 id="med-title">Macro editor <span class="sub" id="med-count"></span></h2>' +
    '  <button class="btn small ghost" type="button" id="med-undo" title="Ctrl+Z">Undo</button>' +
    '  <button class="btn small ghost" type="button" id="med-redo" title="Ctrl+Shift+Z">Redo</button>' +
    '  <button class="btn small" type="button" id="med-close">Close</button></div>' +
    ' <div class="med-warn" id="med-warn" role="alert" hidden><span id="med-warn-text"></span>' +
    '  <button class="btn small" type="button" id="med-release">Add the releases</button></div>' +
    ' <div class="med-bar" aria-label="Selection">' +
    '  <button class="btn small ghost" type="button" id="med-delete">Delete</button>' +
    '  <button class="btn small ghost" type="button" id="med-up">Move up</button>' +
    '  <button class="btn small ghost" type="button" id="med-down">Move down</button>' +
    '  <label>Delay after <input id="med-delay" type="number" min="0" max="86400" step="0.01" aria-label="Delay after the row in seconds"> s</label>' +
    '  <button class="btn small ghost" type="button" id="med-delay-set">Set</button>' +
    '  <button class="btn small ghost" type="button" id="med-half">Timing \u00d70.5</button>' +
    '  <button class="btn small ghost" type="button" id="med-double">Timing \u00d72</button>' +
    '  <label>Length <input id="med-length" type="number" min="0.001" max="86400" step="0.1" aria-label="Length of the selection in seconds"> s</label>' +
    '  <button class="btn small ghost" type="button" id="med-length-set">Set</button>' +
    '  <label>Pauses over <input id="med-trim" type="number" min="0" max="86400" step="0.1" value="1" aria-label="Longest pause in seconds"> s</label>' +
    '  <button class="btn small ghost" type="button" id="med-trim-go">Shorten</button></div>' +
    ' <div class="med-bar" aria-label="Insert before the selected row">' +
    '  <select id="med-kind" aria-label="What to insert"><option value="key">Key press</option><option value="click">Click</option>' +
    '   <option value="wait">Wait</option><option value="text">Text</option></select>' +
    '  <input id="med-key" class="wide" readonly placeholder="press a key" aria-label="Key to insert: press it">' +
    '  <select id="med-button" aria-label="Button"><option value="1">Left</option><option value="2">Right</option><option value="4">Middle</option></select>' +
    '  <input id="med-x" type="number" aria-label="x" placeholder="x"><input id="med-y" type="number" aria-label="y" placeholder="y">' +
    '  <input id="med-wait" type="number" min="0.001" max="86400" step="0.1" value="1" aria-label="Wait in seconds">' +
    '  <input id="med-text" class="wide" aria-label="Text to type" placeholder="text">' +
    '  <button class="btn small" type="button" id="med-insert">Insert</button></div>' +
    ' <div class="med-error" id="med-error" role="alert" hidden></div>' +
    ' <div class="med-head-row" aria-hidden="true"><span>#</span><span>Time</span><span>Kind</span><span>Key or button</span><span>Position or movement</span><span>Delay</span></div>' +
    ' <div class="med-main"><div class="med-list" id="med-list" tabindex="0" role="listbox" aria-label="Events" aria-multiselectable="true"><div class="med-spacer" id="med-spacer"></div></div>' +
    '  <div class="med-side"><canvas id="med-map" width="400" height="250" aria-label="Where the selected row happens on the screen"></canvas>' +
    '   <div id="med-where" class="hint"></div></div></div>' +
    '</div>';

  var $ = function (id) { return document.getElementById(id); };
  var box = $('med'), list = $('med-list'), spacer = $('med-spacer');

  // ---- the model: rows in pages, one opened move row ----------------------------
  var state = { rev: '', rows: 0, events: 0, relative: false, held: [], undo: 0, redo: 0 };
  var pages = {};      // page number -> rows
  var pending = {};    // page number -> true while asked for
  var samples = null;  // {row, list} of the opened move row
  var selA = -1, selB = -1;  // selected rows (inclusive), -1 none
  var pool = [];
  var drawQueued = false;
  var drawVersion = 0;  // bumped whenever what the lines show may have changed
  var pollTimer = 0;
  window.pmrEditorStats = { openMs: 0, renders: 0 };

  function resetCache() { pages = {}; pending = {}; samples = null; drawVersion++; }

  function takeAnswer(r) {
    if (!r) return;
    if (r.rev !== state.rev) resetCache();
    state.rev = r.rev;
    if (r.rows !== undefined) { state.rows = r.rows; state.events = r.events; state.relative = r.relative; }
    state.held = r.held || [];
    state.undo = r.undo || 0;
    state.redo = r.redo || 0;
  }

  function fetchPage(p) {
    if (pages[p] || pending[p]) return Promise.resolve();
    pending[p] = true;
    return call('getMacroRows', p * PAGE, PAGE).then(function (r) {
      delete pending[p];
      if (!r) return;
      takeAnswer(r);
      pages[p] = r.list;
      queueDraw();
    }, function () { delete pending[p]; });
  }
  function rowAt(i) { var pg = pages[Math.floor(i / PAGE)]; return pg ? pg[i % PAGE] : null; }
  function rowWhenLoaded(i) {
    if (i < 0 || i >= state.rows) return Promise.resolve(null);
    return fetchPage(Math.floor(i / PAGE)).then(function () { return rowAt(i); });
  }

  // Display lines: the rows, with the samples of the opened move row after it.
  function lineCount() { return state.rows + (samples ? samples.list.length : 0); }
  function lineAt(d) {
    if (!samples || d <= samples.row) return { row: d };
    if (d <= samples.row + samples.list.length) return { row: samples.row, sample: d - samples.row - 1 };
    return { row: d - samples.list.length };
  }

  // ---- drawing ----------------------------------------------------------------
  // Anything but a scroll may change what rows show: they are all drawn again.
  function queueDraw(scrolled) {
    if (scrolled !== true) drawVersion++;
    if (drawQueued || box.hidden) return;
    drawQueued = true;
    requestAnimationFrame(function () { drawQueued = false; draw(); });
  }
  function kindText(r) {
    if (r.k === 'move') return 'move';
    if (r.k === 'button') return 'click';
    if (r.k === 'hwheel') return 'wheel';
    return r.k;
  }
  function whatText(r) {
    if (r.k === 'key' || r.k === 'button') return r.name + (r.down ? ' \u2193 press' : ' \u2191 release');
    if (r.k === 'wheel' || r.k === 'hwheel')
      return (r.k === 'hwheel' ? 'sideways ' : '') + (r.w / 120) + (Math.abs(r.w) === 120 ? ' notch' : ' notches');
    if (r.k === 'move') return r.n + (r.n === 1 ? ' sample' : ' samples');
    return 'type ' + r.type;
  }
  function whereText(r) {
    if (r.k === 'move') {
      if (state.relative) return 'by ' + r.x2 + ', ' + r.y2 + ' in ' + secs(r.dur);
      return '(' + r.x + ', ' + r.y + ') \u2192 (' + r.x2 + ', ' + r.y2 + ') in ' + secs(r.dur);
    }
    if (r.k === 'button') return '(' + r.x + ', ' + r.y + ')';
    return '';
  }
  // Cell 3 holds a label and the button that opens a move row.
  function setCells(node, cells, openLabel) {
    for (var c = 0; c < 6; c++) {
      var cell = c === 3 ? node.children[3].firstChild : node.children[c];
      if (cell.textContent !== cells[c]) cell.textContent = cells[c];
    }
    var b = node.children[3].lastChild;
    if (b.hidden !== !openLabel) b.hidden = !openLabel;
    if (openLabel && b.textContent !== openLabel) b.textContent = openLabel;
  }
  function draw() {
    var t0 = performance.now();
    var total = lineCount();
    var h = total * ROW_H;
    if (spacer.style.height !== h + 'px') spacer.style.height = h + 'px';
    var first = Math.max(0, Math.floor(list.scrollTop / ROW_H) - OVERSCAN);
    var last = Math.min(total, Math.ceil((list.scrollTop + list.clientHeight) / ROW_H) + OVERSCAN);
    var need = last - first;
    if (pool.length < need) drawVersion++;  // the pool grows: every line moves to another node
    while (pool.length < need) {
      var n = el('div', { 'class': 'med-row', role: 'option' });
      for (var c = 0; c < 6; c++) n.appendChild(el('span'));
      n.children[0].className = 'num';
      n.children[3].appendChild(el('span'));
      n.children[3].appendChild(el('button', { type: 'button', 'class': 'btn ghost toggle', 'aria-label': 'Show or hide the samples of this movement' }));
      spacer.appendChild(n);
      pool.push(n);
    }
    // Line d always takes node d mod the pool size, so a row that stays in
    // view keeps its node: scrolling rewrites only the rows that came in.
    var size = pool.length, used = {};
    for (var d = first; d < last; d++) {
      var node = pool[d % size];
      used[d % size] = true;
      var key = drawVersion + ':' + d;
      if (node.hidden) node.hidden = false;
      if (node.dataset.key === key) continue;
      var line = lineAt(d);
      var r = rowAt(line.row);
      node.style.transform = 'translateY(' + d * ROW_H + 'px)';
      node.dataset.line = d;
      node.dataset.row = line.row;
      if (!r) {
        fetchPage(Math.floor(line.row / PAGE));
        setCells(node, [String(line.row + 1), '\u2026', '', '', '', '']);
        node.className = 'med-row';
        node.dataset.key = '';
        continue;
      }
      node.dataset.key = key;
      var selected = selA >= 0 && line.row >= selA && line.row <= selB && line.sample === undefined;
      node.className = 'med-row' + (line.sample !== undefined ? ' sample' : '') + (selected ? ' sel' : '');
      node.setAttribute('aria-selected', selected ? 'true' : 'false');
      if (line.sample !== undefined) {
        var e = samples.list[line.sample];  // [type,time,x,y,...]
        setCells(node, ['', secs(e[1]), 'sample', '', (state.relative ? 'by ' : '') + e[2] + ', ' + e[3], '']);
      } else {
        var opened = samples && samples.row === line.row;
        setCells(node, [String(line.row + 1), secs(r.t), kindText(r), whatText(r), whereText(r), secs(r.d)],
                 r.k === 'move' && r.n > 1 ? (opened ? '\u25BE hide' : '\u25B8 show') : '');
      }
    }
    for (var k = 0; k < size; k++) if (!used[k] && !pool[k].hidden) pool[k].hidden = true;
    window.pmrEditorStats.renders++;
    window.pmrEditorStats.lastDrawMs = performance.now() - t0;
    if (window.pmrEditorStats.draws) window.pmrEditorStats.draws.push(window.pmrEditorStats.lastDrawMs);
  }

  function showState() {
    $('med-count').textContent = state.events + (state.events === 1 ? ' event' : ' events') + ' \u00b7 ' + state.rows + (state.rows === 1 ? ' row' : ' rows');
    $('med-undo').disabled = state.undo === 0;
    $('med-redo').disabled = state.redo === 0;
    var warn = $('med-warn');
    if (state.held.length) {
      $('med-warn-text').textContent = 'Left pressed at the end of the macro: ' + state.held.join(', ') + '.';
      warn.hidden = false;
    } else {
      warn.hidden = true;
    }
  }
  function showError(text) {
    $('med-error').textContent = text || '';
    $('med-error').hidden = !text;
  }

  // ---- where a row happens ------------------------------------------------------
  function drawMap(points, kind) {
    var cv = $('med-map'), g = cv.getContext('2d');
    g.clearRect(0, 0, cv.width, cv.height);
    var css = getComputedStyle(document.documentElement);
    g.strokeStyle = css.getPropertyValue('--line-2').trim() || '#888';
    g.strokeRect(0.5, 0.5, cv.width - 1, cv.height - 1);
    if (!points.length) return;
    var w = screen.width || 1920, h = screen.height || 1080;
    var sx = cv.width / w, sy = cv.height / h;
    g.strokeStyle = g.fillStyle = css.getPropertyValue('--accent').trim() || '#77f';
    g.lineWidth = 2;
    if (kind === 'path' && points.length > 1) {
      g.beginPath();
      g.moveTo(points[0][0] * sx, points[0][1] * sy);
      for (var i = 1; i < points.length; i++) g.lineTo(points[i][0] * sx, points[i][1] * sy);
      g.stroke();
    }
    var p = points[points.length - 1];
    g.beginPath();
    g.arc(p[0] * sx, p[1] * sy, 4, 0, Math.PI * 2);
    g.fill();
  }
  function showWhere() {
    var r = selA >= 0 && selA === selB ? rowAt(selA) : null;
    var where = $('med-where');
    if (!r) { drawMap([], ''); where.textContent = selA >= 0 ? (selB - selA + 1) + ' rows selected' : ''; return; }
    $('med-delay').value = r.d === null ? '' : String(Math.round(r.d * 1000) / 1000);
    if (r.k === 'button') {
      drawMap([[r.x, r.y]], 'point');
      where.textContent = r.name + ' at (' + r.x + ', ' + r.y + ')';
      $('med-x').value = r.x; $('med-y').value = r.y;
    } else if (r.k === 'move') {
      var rev = state.rev;
      call('getMacroEvents', r.i, Math.min(r.n, 5000)).then(function (ev) {
        if (!ev || ev.rev !== rev || selA < 0 || rowAt(selA) !== r) return;
        var pts = [], x = 0, y = 0;
        var cx = (screen.width || 1920) / 2, cy = (screen.height || 1080) / 2;
        ev.list.forEach(function (e) {
          if (state.relative) { x += e[2]; y += e[3]; pts.push([cx + x, cy + y]); } else pts.push([e[2], e[3]]);
        });
        drawMap(pts, 'path');
      });
      where.textContent = state.relative ? 'Moves by ' + r.x2 + ', ' + r.y2 + ' (path drawn from the middle)' : 'Path from (' + r.x + ', ' + r.y + ') to (' + r.x2 + ', ' + r.y2 + ')';
    } else {
      drawMap([], '');
      where.textContent = 'No position';
    }
  }

  // ---- edits ------------------------------------------------------------------
  function answered(r) {
    if (!r) return;
    if (!r.ok) showError(r.error); else showError('');
    takeAnswer(r);
    // Counts change with the edit: ask again for the rows in view.
    resetCache();
    return fetchPage(Math.floor(Math.max(0, Math.floor(list.scrollTop / ROW_H)) / PAGE)).then(function () {
      if (selA >= state.rows) selA = selB = state.rows - 1;
      showState();
      showWhere();
      queueDraw();
    });
  }
  function edit(batch) {
    return call('editMacro', state.rev + '\n' + batch).then(answered, function (e) { showError(String(e)); });
  }
  function undo() { return call('undoMacroEdit').then(answered); }
  function redo() { return call('redoMacroEdit').then(answered); }

  // The selected events [a, b) and the rows they come from; the whole macro
  // when nothing is selected and `whole` allows it.
  function selection(whole) {
    if (selA < 0) return whole ? Promise.resolve({ a: 0, b: state.events }) : Promise.resolve(null);
    return Promise.all([rowWhenLoaded(selA), rowWhenLoaded(selB)]).then(function (rs) {
      if (!rs[0] || !rs[1]) return null;
      return { a: rs[0].i, b: rs[1].i + rs[1].n };
    });
  }
  function needSelection() { showError('Select one or more rows first.'); }

  $('med-delete').addEventListener('click', function () {
    selection(false).then(function (s) { if (!s) return needSelection(); edit('delete,' + s.a + ',' + s.b); });
  });
  function moveBy(dir) {
    if (selA < 0) return needSelection();
    var other = dir < 0 ? selA - 1 : selB + 1;
    if (other < 0 || other >= state.rows) return;
    Promise.all([selection(false), rowWhenLoaded(other)]).then(function (v) {
      var s = v[0], o = v[1];
      if (!s || !o) return;
      edit('move,' + s.a + ',' + s.b + ',' + (dir < 0 ? o.i : o.i + o.n)).then(function () {
        selA += dir; selB += dir; queueDraw(); showWhere();
      });
    });
  }
  $('med-up').addEventListener('click', function () { moveBy(-1); });
  $('med-down').addEventListener('click', function () { moveBy(1); });
  $('med-delay-set').addEventListener('click', function () {
    if (selA < 0) return needSelection();
    rowWhenLoaded(selB).then(function (r) { if (r) edit('delay,' + (r.i + r.n - 1) + ',' + $('med-delay').value.trim()); });
  });
  function scale(f) { selection(true).then(function (s) { if (s) edit('scale,' + s.a + ',' + s.b + ',' + f); }); }
  $('med-half').addEventListener('click', function () { scale(0.5); });
  $('med-double').addEventListener('click', function () { scale(2); });
  $('med-length-set').addEventListener('click', function () {
    selection(true).then(function (s) { if (s) edit('length,' + s.a + ',' + s.b + ',' + $('med-length').value.trim()); });
  });
  $('med-trim-go').addEventListener('click', function () { edit('trim,' + $('med-trim').value.trim()); });
  $('med-release').addEventListener('click', function () { edit('release'); });
  $('med-undo').addEventListener('click', undo);
  $('med-redo').addEventListener('click', redo);

  // Insert: before the first selected row, or at the end.
  function showInsertFields() {
    var k = $('med-kind').value;
    $('med-key').hidden = k !== 'key';
    $('med-button').hidden = $('med-x').hidden = $('med-y').hidden = k !== 'click';
    $('med-wait').hidden = k !== 'wait';
    $('med-text').hidden = k !== 'text';
  }
  $('med-kind').addEventListener('change', showInsertFields);
  showInsertFields();
  // The key field takes the next key pressed; its VK code follows the
  // browser's key codes, with the side of a modifier from its location.
  $('med-key').addEventListener('keydown', function (e) {
    if (e.key === 'Tab') return;
    e.preventDefault();
    var vk = e.keyCode;
    if (vk >= 16 && vk <= 18) vk = [160, 162, 164][vk - 16] + (e.location === 2 ? 1 : 0);
    if (vk < 8 || vk > 255) return;
    this.dataset.vk = vk;
    this.value = e.key === ' ' ? 'Space' : (e.key.length === 1 ? e.key.toUpperCase() : e.key);
  });
  $('med-insert').addEventListener('click', function () {
    var at = selA < 0 ? Promise.resolve(state.events) : rowWhenLoaded(selA).then(function (r) { return r ? r.i : state.events; });
    at.then(function (i) {
      var k = $('med-kind').value, gap = '0.05';
      if (k === 'key') {
        if (!$('med-key').dataset.vk) return showError('Click the key field and press the key to insert.');
        edit('key,' + i + ',' + $('med-key').dataset.vk + ',' + gap);
      } else if (k === 'click') {
        edit('click,' + i + ',' + $('med-button').value + ',' + $('med-x').value.trim() + ',' + $('med-y').value.trim() + ',' + gap);
      } else if (k === 'wait') {
        edit('wait,' + i + ',' + $('med-wait').value.trim());
      } else {
        edit('text,' + i + ',' + gap + ',' + encodeURIComponent($('med-text').value));
      }
    });
  });
  // A position picked on the map of the screen.
  $('med-map').addEventListener('click', function (e) {
    var rect = this.getBoundingClientRect();
    $('med-x').value = Math.round((e.clientX - rect.left) / rect.width * (screen.width || 1920));
    $('med-y').value = Math.round((e.clientY - rect.top) / rect.height * (screen.height || 1080));
    $('med-kind').value = 'click';
    showInsertFields();
  });

  // ---- selection and keys ---------------------------------------------------------
  list.addEventListener('click', function (e) {
    var b = e.target.closest('button');
    var node = e.target.closest('.med-row');
    if (!node) return;
    var row = +node.dataset.row;
    if (b && b.classList.contains('toggle')) {
      if (samples && samples.row === row) { samples = null; queueDraw(); return; }
      var r = rowAt(row), rev = state.rev;
      call('getMacroEvents', r.i, Math.min(r.n, 5000)).then(function (ev) {
        if (!ev || ev.rev !== rev) return;
        samples = { row: row, list: ev.list };
        queueDraw();
      });
      return;
    }
    if (e.shiftKey && selA >= 0) {
      var anchor = selA === row ? selB : selA;
      selA = Math.min(anchor, row); selB = Math.max(anchor, row);
    } else {
      selA = selB = row;
    }
    queueDraw();
    showWhere();
  });
  list.addEventListener('scroll', function () { queueDraw(true); });
  window.addEventListener('resize', queueDraw);
  document.addEventListener('keydown', function (e) {
    if (box.hidden) return;
    var typing = e.target && (e.target.tagName === 'INPUT' || e.target.tagName === 'SELECT' || e.target.tagName === 'TEXTAREA');
    if (e.key === 'Escape') { close(); return; }
    if (typing) return;
    if ((e.ctrlKey || e.metaKey) && (e.key === 'z' || e.key === 'Z')) {
      e.preventDefault();
      if (e.shiftKey) redo(); else undo();
    } else if ((e.ctrlKey || e.metaKey) && (e.key === 'y' || e.key === 'Y')) {
      e.preventDefault();
      redo();
    } else if (e.key === 'Delete' && selA >= 0) {
      e.preventDefault();
      $('med-delete').click();
    } else if ((e.key === 'ArrowDown' || e.key === 'ArrowUp') && state.rows) {
      e.preventDefault();
      var r = Math.max(0, Math.min(state.rows - 1, (e.key === 'ArrowDown' ? selB + 1 : selA - 1)));
      selA = selB = r;
      var top = r * ROW_H;
      if (samples && r > samples.row) top += samples.list.length * ROW_H;
      if (top < list.scrollTop) list.scrollTop = top;
      else if (top + ROW_H > list.scrollTop + list.clientHeight) list.scrollTop = top + ROW_H - list.clientHeight;
      queueDraw();
      showWhere();
    }
  });

  // ---- opening and closing --------------------------------------------------------
  function refresh() {
    return call('getMacroRows', 0, 0).then(function (r) {
      if (!r || r.rev === state.rev) return;
      takeAnswer(r);
      if (selB >= state.rows) selA = selB = -1;
      showState();
      queueDraw();
    }, function () {});
  }
  function open() {
    var t0 = performance.now();
    resetCache();
    state.rev = '';
    selA = selB = -1;
    showError('');
    box.hidden = false;
    document.documentElement.classList.add('med-open');
    list.scrollTop = 0;
    fetchPage(0).then(function () {
      showState();
      draw();
      showWhere();
      window.pmrEditorStats.openMs = performance.now() - t0;
      list.focus();
    });
    clearInterval(pollTimer);
    // A recording made meanwhile, another profile or a loaded file shows at once.
    pollTimer = setInterval(refresh, 1000);
  }
  function close() {
    box.hidden = true;
    document.documentElement.classList.remove('med-open');
    clearInterval(pollTimer);
    opener.focus();
  }
  opener.addEventListener('click', open);
  $('med-close').addEventListener('click', close);
})();
