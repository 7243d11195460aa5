// The auto clicker's and key spammer's jitter fields with the range they give,
// the fixed spot's X and Y fields, and the click sequence editor. The main
// script hands over every settings and status poll (pmrClickerSettings,
// pmrClickerStatus); changes go out through updateJitter, setFixedSpot and
// setClickSequence, then the settings are fetched again (pmrRefreshSettings).
(function () {
  'use strict';
  var $ = function (id) { return document.getElementById(id); };
  function call(name) {
    var fn = window[name];
    if (typeof fn !== 'function') return Promise.resolve(undefined);
    try { return Promise.resolve(fn.apply(null, Array.prototype.slice.call(arguments, 1))); } catch (e) { return Promise.reject(e); }
  }
  function setText(el, text) { if (el && el.textContent !== text) el.textContent = text; }
  function refresh() { return typeof window.pmrRefreshSettings === 'function' ? window.pmrRefreshSettings() : Promise.resolve(); }
  function busy(el) { return document.activeElement === el; }
  function wholeIn(v, min, max) { return /^-?[0-9]+$/.test(v) && Number(v) >= min && Number(v) <= max; }

  var settings = null;
  var MAX_JITTER = 3600000, MAX_RADIUS = 10000, MAX_PAUSE = 86400000, MAX_POINTS = 100;

  // ---- jitter ---------------------------------------------------------------
  // The pause range a jitter gives, as the clicker computes it: the interval
  // plus or minus the jitter, never below 1 ms (the jitter shrinks to keep
  // the range around the interval).
  function intervalMs(s, p) {
    var ms = (Number(s[p + 'h']) || 0) * 3600000 + (Number(s[p + 'm']) || 0) * 60000 + (Number(s[p + 's']) || 0) * 1000 +
             (Number(s[p + 'ms']) || 0);
    return ms < 1 ? 1 : Math.ceil(ms);
  }
  function msText(ms) {
    if (ms < 10000) return String(Math.round(ms * 10) / 10);
    return String(Math.round(ms)).replace(/\B(?=(\d{3})+(?!\d))/g, ',');
  }
  function rangeText(interval, jitter) {
    if (!(jitter > 0)) return '';
    var j = interval - jitter < 1 ? Math.max(0, interval - 1) : jitter;
    return 'Each pause ' + msText(interval - j) + '\u2013' + msText(interval + j) + ' ms';
  }
  function renderRanges() {
    if (!settings) return;
    var parts = [];
    var clickRange = rangeText(intervalMs(settings, 's'), settings.jitterMs);
    if (clickRange) parts.push(clickRange);
    if (settings.jitterRadius > 0) parts.push('clicks within ' + settings.jitterRadius + ' px of each fixed point');
    var text = parts.join('; ');
    setText($('jitter-range'), text ? text.charAt(0).toUpperCase() + text.slice(1) + '.' : 'No jitter: every pause and position exactly as set.');
    var ksText = rangeText(intervalMs(settings, 'ks'), settings.ksJitterMs);
    setText($('ks-jitter-range'), ksText ? ksText + '.' : '');
  }
  function sendJitter() {
    var f = [['jitter-ms', MAX_JITTER], ['jitter-radius', MAX_RADIUS], ['ks-jitter-ms', MAX_JITTER]].map(function (x) {
      var v = $(x[0]).value.trim();
      var ok = wholeIn(v, 0, x[1]);
      $(x[0]).setAttribute('aria-invalid', ok || v === '' ? 'false' : 'true');
      return ok ? v : '';
    });
    return call('updateJitter', f.join(',')).then(refresh);
  }
  ['jitter-ms', 'jitter-radius', 'ks-jitter-ms'].forEach(function (id) {
    $(id).addEventListener('change', sendJitter);
  });

  // ---- fixed spot X and Y -----------------------------------------------------
  function sendSpot() {
    var x = $('fixed-x').value.trim(), y = $('fixed-y').value.trim();
    var okX = wholeIn(x, -1000000, 1000000), okY = wholeIn(y, -1000000, 1000000);
    $('fixed-x').setAttribute('aria-invalid', okX ? 'false' : 'true');
    $('fixed-y').setAttribute('aria-invalid', okY ? 'false' : 'true');
    if (!okX || !okY) return Promise.resolve();
    return call('setFixedSpot', x + ',' + y).then(refresh);
  }
  ['fixed-x', 'fixed-y'].forEach(function (id) { $(id).addEventListener('change', sendSpot); });

  // ---- click sequence ---------------------------------------------------------
  var points = [];          // the list as shown: {x, y, button, clicks, pause}
  var shownKey = '';
  var pickingPoint = false;
  function sequenceText(list) {
    return list.map(function (p) { return [p.x, p.y, p.button, p.clicks, p.pause].join(':'); }).join(';');
  }
  // Changes on their way: until the last one is taken, settings fetched
  // meanwhile may predate it and do not replace the list shown.
  var pendingSends = 0;
  function sendSequence() {
    shownKey = JSON.stringify(points);
    // The list on screen already shows this (edited in place or redrawn).
    $('seq-list').dataset.key = shownKey;
    pendingSends += 1;
    var done = function () { pendingSends -= 1; return refresh(); };
    return call('setClickSequence', sequenceText(points)).then(done, done);
  }
  function field(type, value, label, onChange, attrs) {
    var el = document.createElement(type === 'select' ? 'select' : 'input');
    if (type === 'select') {
      attrs.forEach(function (o) {
        var opt = document.createElement('option'); opt.value = o[0]; opt.textContent = o[1]; el.appendChild(opt);
      });
      el.value = String(value);
    } else {
      el.type = 'number'; el.step = '1'; el.value = String(value);
      if (attrs) { el.min = String(attrs[0]); el.max = String(attrs[1]); }
    }
    el.setAttribute('aria-label', label);
    el.addEventListener('change', onChange);
    return el;
  }
  function iconButton(text, label, onClick, disabled) {
    var b = document.createElement('button');
    b.type = 'button'; b.className = 'btn small ghost'; b.textContent = text;
    b.setAttribute('aria-label', label); b.disabled = !!disabled;
    b.addEventListener('click', onClick);
    return b;
  }
  function renderSequence(force) {
    var key = JSON.stringify(points);
    var list = $('seq-list');
    if (!force && key === list.dataset.key) return;
    var focusedId = document.activeElement && list.contains(document.activeElement) ? document.activeElement.id : '';
    list.dataset.key = key;
    list.textContent = '';
    points.forEach(function (p, i) {
      var n = i + 1, li = document.createElement('li');
      var num = document.createElement('span'); num.className = 'seq'; num.textContent = n + '.'; li.appendChild(num);
      function set(prop, min, max) {
        return function (e) {
          var v = e.target.value.trim();
          if (!wholeIn(v, min, max)) { e.target.setAttribute('aria-invalid', 'true'); return; }
          e.target.setAttribute('aria-invalid', 'false');
          points[i][prop] = Number(v); sendSequence();
        };
      }
      var fx = field('number', p.x, 'Point ' + n + ' X', set('x', -1000000, 1000000));
      var fy = field('number', p.y, 'Point ' + n + ' Y', set('y', -1000000, 1000000));
      var fb = field('select', p.button, 'Point ' + n + ' button', set('button', 0, 2), [['0', 'Left'], ['1', 'Right'], ['2', 'Middle']]);
      var fc = field('select', p.clicks, 'Point ' + n + ' click', set('clicks', 1, 2), [['1', 'Single'], ['2', 'Double']]);
      var fp = field('number', p.pause, 'Point ' + n + ' pause after it in milliseconds', set('pause', 0, MAX_PAUSE), [0, MAX_PAUSE]);
      [fx, fy, fb, fc, fp].forEach(function (el, k) { el.id = 'seq-' + i + '-' + ['x', 'y', 'button', 'clicks', 'pause'][k]; li.appendChild(el); });
      var ms = document.createElement('span'); ms.className = 'hint'; ms.textContent = 'ms'; li.appendChild(ms);
      function move(to) {
        return function () { var p0 = points.splice(i, 1)[0]; points.splice(to, 0, p0); renderSequence(true); sendSequence(); };
      }
      li.appendChild(iconButton('\u2191', 'Move point ' + n + ' up', move(i - 1), i === 0));
      li.appendChild(iconButton('\u2193', 'Move point ' + n + ' down', move(i + 1), i === points.length - 1));
      li.appendChild(iconButton('\u00d7', 'Delete point ' + n, function () { points.splice(i, 1); renderSequence(true); sendSequence(); }));
      list.appendChild(li);
    });
    if (focusedId && $(focusedId)) $(focusedId).focus();
    var full = points.length >= MAX_POINTS;
    $('seq-add').disabled = full;
    $('seq-pick').disabled = full;
    setText($('seq-hint'), pickingPoint ? 'Click the spot for the new point. Right-click or Esc cancels.'
      : full ? 'Up to ' + MAX_POINTS + ' points.'
      : points.length ? points.length + (points.length === 1 ? ' point' : ' points') + ', clicked in this order.'
      : 'No points yet. Add one and type its X and Y, or pick it on the screen.');
  }
  function newPoint(x, y) {
    var last = points[points.length - 1];
    return { x: x, y: y, button: last ? last.button : 0, clicks: last ? last.clicks : 1, pause: last ? last.pause : 100 };
  }
  $('seq-add').addEventListener('click', function () {
    var s = settings || {};
    points.push(newPoint(Number(s.fixedX) || 0, Number(s.fixedY) || 0));
    renderSequence(true);
    sendSequence();
  });
  // Picking a point is the position pick: the spot clicked becomes the fixed
  // spot and the new point; the sequence stays selected.
  $('seq-pick').addEventListener('click', function () {
    pickingPoint = true;
    renderSequence(true);
    call('pickLocation');
  });

  function readSettings(s) {
    settings = s;
    if (!busy($('jitter-ms'))) $('jitter-ms').value = String(s.jitterMs || 0);
    if (!busy($('jitter-radius'))) $('jitter-radius').value = String(s.jitterRadius || 0);
    if (!busy($('ks-jitter-ms'))) $('ks-jitter-ms').value = String(s.ksJitterMs || 0);
    if (!busy($('fixed-x'))) $('fixed-x').value = String(s.fixedX);
    if (!busy($('fixed-y'))) $('fixed-y').value = String(s.fixedY);
    var stored = Array.isArray(s.sequence) ? s.sequence : [];
    var key = JSON.stringify(stored);
    // What the program holds replaces the list unless a change of ours is on its way.
    if (!pendingSends && (key !== shownKey || !points.length)) { points = stored.map(function (p) { return { x: p.x, y: p.y, button: p.button, clicks: p.clicks, pause: p.pause }; }); shownKey = key; }
    renderSequence(false);
    renderRanges();
  }

  window.pmrClickerSettings = function (s) {
    if (pickingPoint && s.locMode === 1) {
      // The pick ended with a spot: it becomes the new point, and the
      // sequence is selected again.
      pickingPoint = false;
      readSettings(s);
      points.push(newPoint(s.fixedX, s.fixedY));
      renderSequence(true);
      var seqRadio = document.querySelector('input[name="loc"][value="2"]');
      sendSequence().then(function () {
        if (seqRadio) { seqRadio.checked = true; seqRadio.dispatchEvent(new Event('change')); }
      });
      return;
    }
    readSettings(s);
  };
  window.pmrClickerStatus = function (s) {
    if (typeof s.clickRate === 'number') renderMeasured(s);
    if (pickingPoint && !s.picking && s.locMode === 2) {
      // Cancelled: nothing changed.
      pickingPoint = false;
      renderSequence(true);
    }
    var loc = document.querySelector('input[name="loc"]:checked');
    var mode = loc ? loc.value : '0';
    $('seq-editor').hidden = mode !== '2';
    $('fixed-xy').hidden = mode !== '1';
    $('pick').hidden = mode === '2';
    var times = $('rptTimes');
    if (times) times.setAttribute('aria-label', mode === '2' ? 'Number of passes through the sequence' : 'Number of clicks');
  };
  // ---- measured rate ---------------------------------------------------------
  function rateWords(perSecond, one, many) {
    var r = perSecond >= 100 ? Math.round(perSecond) : Math.round(perSecond * 10) / 10;
    return 'Measured: ' + r + ' ' + (r === 1 ? one : many) + ' a second';
  }
  function renderMeasured(s) {
    [['spam-measured', s.autoClicking, s.clickRate, 'click', 'clicks'],
     ['ks-measured', s.keySpamming, s.keyRate, 'press', 'presses']].forEach(function (t) {
      var show = !!t[1] && t[2] > 0;
      $(t[0]).hidden = !show;
      if (show) setText($(t[0]), rateWords(t[2], t[3], t[4]));
    });
    $('timing-go').disabled = !!s.autoClicking || timing.busy;
  }

  // ---- timing test ---------------------------------------------------------
  var timing = { busy: false, seq: -1, timer: 0 };
  function usText(us) { return us >= 1000 ? Math.round(us / 100) / 10 + ' ms' : Math.round(us) + ' \u00b5s'; }
  function drawHistogram(r) {
    var svg = $('timing-chart'), ns = 'http://www.w3.org/2000/svg';
    while (svg.firstChild) svg.removeChild(svg.firstChild);
    var most = Math.max.apply(null, r.histogram.concat([1]));
    var w = 270 / r.histogram.length;
    r.histogram.forEach(function (n, i) {
      var h = n ? Math.max(2, Math.round(60 * n / most)) : 0;
      var bar = document.createElementNS(ns, 'rect');
      bar.setAttribute('x', String(i * w + 2)); bar.setAttribute('width', String(w - 4));
      bar.setAttribute('y', String(62 - h)); bar.setAttribute('height', String(h));
      bar.setAttribute('fill', 'currentColor');
      var title = document.createElementNS(ns, 'title');
      var lo = i ? r.edgesUs[i - 1] : 0, hi = r.edgesUs[i];
      title.textContent = (hi === undefined ? 'over ' + usText(lo) : usText(lo) + '\u2013' + usText(hi)) + ' late: ' + n;
      bar.appendChild(title);
      svg.appendChild(bar);
    });
    setText($('timing-axis'), '0 \u2192 ' + r.edgesUs.map(usText).join(' \u00b7 ') + ' \u2192 more (how late each pause ended)');
  }
  function renderTiming(r) {
    if (!r || typeof r !== 'object') return;
    timing.busy = r.state === 'waiting' || r.state === 'running';
    $('timing-go').disabled = timing.busy;
    if (timing.busy) { setText($('timing-note'), 'Testing\u2026'); return; }
    if (r.state === 'interrupted') setText($('timing-note'), 'The test stopped because the clicker started.');
    if (r.state !== 'done') return;
    setText($('timing-note'), 'Tested ' + r.samples + ' pauses of ' + r.intervalMs + ' ms.');
    setText($('timing-figures'), 'Rate reached: ' + (Math.round(r.perSecond * 10) / 10) + ' a second \u00b7 late by p50 ' + usText(r.p50Us) +
      ', p99 ' + usText(r.p99Us) + ', max ' + usText(r.maxUs));
    drawHistogram(r);
    $('timing-result').hidden = false;
  }
  function pollTiming() {
    clearTimeout(timing.timer);
    call('getTimingTest').then(function (r) {
      renderTiming(r);
      if (timing.busy) timing.timer = setTimeout(pollTiming, 250);
    });
  }
  $('timing-go').addEventListener('click', function () {
    timing.busy = true;
    $('timing-go').disabled = true;
    setText($('timing-note'), 'Testing\u2026');
    call('testClickTiming').then(function () { timing.timer = setTimeout(pollTiming, 250); });
  });

  document.querySelectorAll('input[name="loc"]').forEach(function (r) {
    r.addEventListener('change', function () { window.pmrClickerStatus({ picking: false, locMode: Number(r.value) }); });
  });
})();
