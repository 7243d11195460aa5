// Pellomar helper for GNOME Shell 40 to 44 (legacy extension loader).
'use strict';

const {Gio, GLib} = imports.gi;
const Me = imports.misc.extensionUtils.getCurrentExtension();
const {PmrShell} = Me.imports.shell;

let helper = null;

function init() {
}

function enable() {
    helper = new PmrShell({Gio, GLib});
    helper.enable();
}

function disable() {
    if (helper) {
        helper.disable();
        helper = null;
    }
}
