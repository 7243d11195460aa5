// The user script injected at the start of every page: no context menu,
// native alerts, clipboard and primary-selection paste into editable fields,
// local fonts for "Segoe UI", dark-friendly select boxes and the
// launch-at-login label.
#include "app/bridge.h"

std::string InjectedUserScript() {
  return R"JS((function () {
  'use strict';
  if (window.__pmrInjected) return;
  window.__pmrInjected = true;

  document.addEventListener('contextmenu', function (e) { e.preventDefault(); }, true);

  window.alert = function (message) {
    if (typeof window.pmrMacAlert === 'function') window.pmrMacAlert(String(message));
  };

  var textTypes = ['text', 'search', 'url', 'email', 'tel', 'password', 'number'];
  function isEditable(el) {
    if (!el || el.nodeType !== 1) return false;
    if (el.isContentEditable) return true;
    var tag = el.tagName;
    if (tag === 'TEXTAREA') return !el.readOnly && !el.disabled;
    if (tag === 'INPUT') {
      if (el.readOnly || el.disabled) return false;
      var type = (el.getAttribute('type') || 'text').toLowerCase();
      return textTypes.indexOf(type) !== -1;
    }
    return false;
  }
  function paste(el, which) {
    if (typeof window.pmrLinuxPaste !== 'function') return;
    window.pmrLinuxPaste(which).then(function (text) {
      if (typeof text !== 'string' || text === '') return;
      el.focus();
      document.execCommand('insertText', false, text);
    }, function () {});
  }
  document.addEventListener('keydown', function (e) {
    var key = e.key;
    var ctrlV = (key === 'v' || key === 'V') && (e.ctrlKey || e.metaKey) && !e.altKey;
    var shiftInsert = key === 'Insert' && e.shiftKey && !e.ctrlKey;
    if (!ctrlV && !shiftInsert) return;
    var el = document.activeElement;
    if (!isEditable(el)) return;
    e.preventDefault();
    paste(el, 'clipboard');
  }, true);
  document.addEventListener('mousedown', function (e) {
    if (e.button === 1 && isEditable(e.target)) e.preventDefault();
  }, true);
  document.addEventListener('mouseup', function (e) {
    if (e.button !== 1 || !isEditable(e.target)) return;
    e.preventDefault();
    paste(e.target, 'primary');
  }, true);

  document.addEventListener('DOMContentLoaded', function () {
    var style = document.createElement('style');
    style.textContent =
      '@font-face{font-family:"Segoe UI";font-weight:100 500;' +
      'src:local("Ubuntu"),local("Cantarell"),local("Noto Sans"),local("DejaVu Sans");}' +
      '@font-face{font-family:"Segoe UI";font-weight:600 900;' +
      'src:local("Ubuntu Bold"),local("Cantarell Bold"),local("Noto Sans Bold"),local("DejaVu Sans Bold");}' +
      'select{-webkit-appearance:none;appearance:none;padding-right:22px !important;' +
      'background-image:linear-gradient(45deg,transparent 50%,currentColor 50%),' +
      'linear-gradient(135deg,currentColor 50%,transparent 50%);' +
      'background-position:calc(100% - 12px) 55%,calc(100% - 7px) 55%;' +
      'background-size:5px 5px,5px 5px;background-repeat:no-repeat;}';
    (document.head || document.documentElement).appendChild(style);

    var box = document.getElementById('opt-launch-startup');
    var label = box && box.closest('label');
    if (label) {
      for (var n = label.lastChild; n; n = n.previousSibling) {
        if (n.nodeType === 3 && n.nodeValue.indexOf('Windows') !== -1) {
          n.nodeValue = ' Launch at login';
          break;
        }
      }
    }
  });
})();
)JS";
}
