// The helper object that Pellomar calls on the shell's bus name: the pointer
// position, the window under a point, and keep-above, move and frame of the
// caller's own window. The same text serves both extension loaders: the
// module loader reads the exported class below as it is; for the legacy
// loader the program rewrites that declaration into a "var" when it installs
// the file. It imports nothing itself; the extension hands it Gio and GLib.

const HELPER_PATH = '/app/pellomar/Shell';
const HELPER_VERSION = 1;
const HELPER_XML = `<node>
  <interface name="app.pellomar.Shell1">
    <method name="GetPointer">
      <arg type="i" direction="out"/><arg type="i" direction="out"/><arg type="u" direction="out"/>
    </method>
    <method name="WindowPidAt">
      <arg type="i" direction="in"/><arg type="i" direction="in"/><arg type="i" direction="out"/>
    </method>
    <method name="SetAbove"><arg type="b" direction="in"/></method>
    <method name="MoveFrame"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
    <method name="GetFrame">
      <arg type="i" direction="out"/><arg type="i" direction="out"/>
      <arg type="i" direction="out"/><arg type="i" direction="out"/>
    </method>
    <property name="Version" type="u" access="read"/>
  </interface>
</node>`;

// Clutter's modifier bit for the primary button.
const BUTTON1_MASK = 1 << 8;
// Meta.WindowType values.
const WINDOW_NORMAL = 0;
const WINDOW_DESKTOP = 1;
// Senders whose process id is remembered (unique bus names are never reused).
const MAX_KNOWN_SENDERS = 64;

export class PmrShell {
  constructor(gi) {
    this._Gio = gi.Gio;
    this._GLib = gi.GLib;
    this._exported = null;
    this._pids = new Map();
  }

  enable() {
    if (this._exported)
      return;
    this._exported = this._Gio.DBusExportedObject.wrapJSObject(HELPER_XML, this);
    this._exported.export(this._Gio.DBus.session, HELPER_PATH);
  }

  disable() {
    if (!this._exported)
      return;
    this._exported.unexport();
    this._exported = null;
    this._pids.clear();
  }

  get Version() {
    return HELPER_VERSION;
  }

  GetPointer() {
    const [x, y, mods] = global.get_pointer();
    return [Math.trunc(x), Math.trunc(y), (mods & BUTTON1_MASK) ? 1 : 0];
  }

  WindowPidAt(x, y) {
    const workspace = global.workspace_manager.get_active_workspace();
    const actors = global.get_window_actors();
    for (let i = actors.length - 1; i >= 0; i--) {
      const actor = actors[i];
      const win = actor.get_meta_window ? actor.get_meta_window() : actor.meta_window;
      if (!win || !actor.visible || win.minimized || win.get_window_type() === WINDOW_DESKTOP)
        continue;
      if (!win.is_on_all_workspaces() && win.get_workspace() !== workspace)
        continue;
      const r = win.get_frame_rect();
      if (x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height) {
        const pid = win.get_pid();
        return pid > 0 ? pid : 0;
      }
    }
    return 0;
  }

  SetAboveAsync([above], invocation) {
    this._withCallerWindow(invocation, win => {
      if (above)
        win.make_above();
      else
        win.unmake_above();
      return null;
    });
  }

  MoveFrameAsync([x, y], invocation) {
    this._withCallerWindow(invocation, win => {
      win.move_frame(true, x, y);
      return null;
    });
  }

  GetFrameAsync(params, invocation) {
    this._withCallerWindow(invocation, win => {
      const r = win.get_frame_rect();
      return new this._GLib.Variant('(iiii)', [r.x, r.y, r.width, r.height]);
    });
  }

  // Finds the top-level window of the calling process and answers the call
  // with what fn returns (null for no values); an error when there is none.
  _withCallerWindow(invocation, fn) {
    const sender = invocation.get_sender();
    const answer = pid => {
      const win = pid > 0 ? this._windowOfPid(pid) : null;
      if (!win) {
        invocation.return_dbus_error('app.pellomar.Shell1.Error.NoWindow',
            'The calling process has no window');
        return;
      }
      try {
        invocation.return_value(fn(win));
      } catch (e) {
        invocation.return_dbus_error('app.pellomar.Shell1.Error.Failed', String(e));
      }
    };
    if (this._pids.has(sender)) {
      answer(this._pids.get(sender));
      return;
    }
    this._Gio.DBus.session.call('org.freedesktop.DBus', '/org/freedesktop/DBus',
        'org.freedesktop.DBus', 'GetConnectionUnixProcessID',
        new this._GLib.Variant('(s)', [sender]), new this._GLib.VariantType('(u)'),
        this._Gio.DBusCallFlags.NONE, 2000, null, (conn, result) => {
          let pid = 0;
          try {
            [pid] = conn.call_finish(result).deepUnpack();
          } catch (e) {
            pid = 0;
          }
          if (pid > 0) {
            if (this._pids.size >= MAX_KNOWN_SENDERS)
              this._pids.clear();
            this._pids.set(sender, pid);
          }
          answer(pid);
        });
  }

  // The process's main window: a normal top-level window that is not a
  // dialog of another, else any of its windows.
  _windowOfPid(pid) {
    const mine = global.display.list_all_windows().filter(w => w.get_pid() === pid);
    return mine.find(w => w.get_window_type() === WINDOW_NORMAL && !w.get_transient_for()) ||
        mine.find(w => w.get_window_type() === WINDOW_NORMAL) || mine[0] || null;
  }
}
