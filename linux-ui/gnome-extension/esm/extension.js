// Pellomar helper for GNOME Shell 45 and later (module extension loader).
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

import {PmrShell} from './shell.js';

export default class PmrHelperExtension extends Extension {
    enable() {
        this._helper = new PmrShell({Gio, GLib});
        this._helper.enable();
    }

    disable() {
        if (this._helper) {
            this._helper.disable();
            this._helper = null;
        }
    }
}
