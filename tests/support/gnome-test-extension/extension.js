// Test sessions only: org.gnome.Shell.Eval answers only in unsafe mode.
'use strict';

function init() {
}

function enable() {
    global.context.unsafe_mode = true;
}

// Left on: tests switch all user extensions off and on again and still
// need Eval in between.
function disable() {
}
