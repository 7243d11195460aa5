"""Measurements of the page as a user sees it: element boxes, columns and the
contrast of every visible text, computed from the computed styles."""

# Runs in the page; returns the lowest contrast ratio of each visible text
# against the backgrounds painted behind it (colours with alpha blended over
# what lies below, every colour of a gradient tried), worst first.
CONTRAST_JS = r"""
function parse(c) {
  var m = /rgba?\(([^)]+)\)/.exec(c || '');
  if (!m) return null;
  var p = m[1].split(/[\s,\/]+/).filter(Boolean).map(Number);
  return {r: p[0], g: p[1], b: p[2], a: p.length > 3 ? p[3] : 1};
}
function over(top, below) {
  var a = top.a;
  return {r: top.r * a + below.r * (1 - a), g: top.g * a + below.g * (1 - a), b: top.b * a + below.b * (1 - a), a: 1};
}
function lum(c) {
  function ch(v) { v /= 255; return v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4); }
  return 0.2126 * ch(c.r) + 0.7152 * ch(c.g) + 0.0722 * ch(c.b);
}
function ratio(a, b) { var x = lum(a), y = lum(b); return (Math.max(x, y) + 0.05) / (Math.min(x, y) + 0.05); }
function backgrounds(el) {
  var chain = [];
  for (var e = el; e; e = e.parentElement) chain.push(e);
  var bases = [{r: 255, g: 255, b: 255, a: 1}];
  for (var i = chain.length - 1; i >= 0; i--) {
    var cs = getComputedStyle(chain[i]);
    var bg = parse(cs.backgroundColor);
    if (bg && bg.a > 0) bases = bases.map(function (b) { return over(bg, b); });
    if (cs.backgroundImage && cs.backgroundImage.indexOf('gradient') !== -1) {
      var stops = (cs.backgroundImage.match(/rgba?\([^)]+\)/g) || []).map(parse);
      if (stops.length) {
        var next = [];
        stops.forEach(function (s) { bases.forEach(function (b) { next.push(over(s, b)); }); });
        bases = next.slice(0, 64);
      }
    }
  }
  return bases;
}
function faded(el) {
  for (var e = el; e; e = e.parentElement) {
    if (parseFloat(getComputedStyle(e).opacity) < 1) return true;
    if (e.matches && e.matches(':disabled')) return true;
  }
  return false;
}
var out = [];
var walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
for (var n = walker.nextNode(); n; n = walker.nextNode()) {
  var text = n.textContent.trim();
  var el = n.parentElement;
  if (!text || !el || el.closest('svg, script, style, .sr-only')) continue;
  var rects = el.getClientRects();
  if (!rects.length || getComputedStyle(el).visibility === 'hidden') continue;
  if (faded(el)) continue;  // disabled controls are exempt
  var color = parse(getComputedStyle(el).color);
  var worst = 99;
  backgrounds(el).forEach(function (b) { worst = Math.min(worst, ratio(over(color, b), b)); });
  out.push({text: text.slice(0, 40), id: el.id || el.className || el.tagName, ratio: Math.round(worst * 100) / 100,
            size: getComputedStyle(el).fontSize});
}
out.sort(function (a, b) { return a.ratio - b.ratio; });
return out;
"""

# Visible elements that reach past the right edge of the viewport (inside a
# scrolling box they may), and the page's own scroll width.
OVERFLOW_JS = r"""
var w = document.documentElement.clientWidth, bad = [];
document.querySelectorAll('body *').forEach(function (el) {
  var r = el.getBoundingClientRect();
  if (!r.width || !r.height) return;
  for (var p = el.parentElement; p && p !== document.body; p = p.parentElement) {
    var ov = getComputedStyle(p).overflowX;
    if (ov === 'auto' || ov === 'scroll' || ov === 'hidden') return;
  }
  if (r.left < -0.5 || r.right > w + 0.5) bad.push((el.id || el.className || el.tagName) + ' ' + Math.round(r.left) + '..' + Math.round(r.right));
});
return {clientWidth: w, scrollWidth: document.documentElement.scrollWidth, bodyScroll: document.body.scrollWidth, bad: bad.slice(0, 10)};
"""

# The number of panel columns: distinct left edges of the visible panels.
COLUMNS_JS = r"""
var lefts = {};
document.querySelectorAll('#panels > .panel').forEach(function (p) {
  var r = p.getBoundingClientRect();
  if (r.width) lefts[Math.round(r.left)] = true;
});
return Object.keys(lefts).length;
"""
