// The helper object that Pellomar calls on the shell's bus name: the pointer
// position, the window under a point, and keep-above, move and frame of the
// caller's own window. It answers Pellomar only: a caller first registers;
// the executable of the first process that registers is pinned, and from
// then on only processes running that same executable may register and be
// answered, each acting on its own windows alone. The pin is dropped when
// the last registered process has left the bus (so a later run from another
// path, such as a new AppImage mount, may register). The same text serves both extension loaders: the
// module loader reads the exported class below as it is; for the legacy
// loader the program rewrites that declaration into a "var" when it installs
// the file. It imports nothing itself; the extension hands it Gio and GLib.

const HELPER_PATH = '/app/pellomar/Shell';
const HELPER_VERSION = 2;
const HELPER_XML = `<node>
  <interface name="app.pellomar.Shell1">
    <method name="Register"/>
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
// Registered senders remembered at most (unique bus names are never reused;
// one that is dropped registers again).
const MAX_KNOWN_SENDERS = 64;
const ACCESS_DENIED = 'org.freedesktop.DBus.Error.AccessDenied';
const DENIED_TEXT = 'Only Pellomar may call this';

export class PmrShell {
  constructor(gi) {
    this._Gio = gi.Gio;
    this._GLib = gi.GLib;
    this._exported = null;
    // unique bus name -> process id, for registered callers only
    this._pids = new Map();
    this._pinnedExe = null;
    this._leaveWatch = 0;
  }

  enable() {
    if (this._exported)
      return;
    this._exported = this._Gio.DBusExportedObject.wrapJSObject(HELPER_XML, this);
    this._exported.export(this._Gio.DBus.session, HELPER_PATH);
    this._leaveWatch = this._Gio.DBus.session.signal_subscribe('org.freedesktop.DBus',
        'org.freedesktop.DBus', 'NameOwnerChanged', '/org/freedesktop/DBus', null,
        this._Gio.DBusSignalFlags.NONE, (conn, sender, path, iface, signal, params) => {
          const [name, , newOwner] = params.deepUnpack();
          if (newOwner === '' && this._pids.delete(name) && this._pids.size === 0)
            this._pinnedExe = null;
        });
  }

  disable() {
    if (!this._exported)
      return;
    this._exported.unexport();
    this._exported = null;
    if (this._leaveWatch)
      this._Gio.DBus.session.signal_unsubscribe(this._leaveWatch);
    this._leaveWatch = 0;
    this._pids.clear();
    this._pinnedExe = null;
  }

  get Version() {
    return HELPER_VERSION;
  }

  RegisterAsync(params, invocation) {
    const sender = invocation.get_sender();
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
          const exe = pid > 0 ? this._exeOf(pid) : null;
          if (exe && this._pinnedExe === null)
            this._pinnedExe = exe;
          if (!exe || exe !== this._pinnedExe) {
            invocation.return_dbus_error(ACCESS_DENIED, DENIED_TEXT);
            return;
          }
          if (!this._pids.has(sender) && this._pids.size >= MAX_KNOWN_SENDERS)
            this._pids.delete(this._pids.keys().next().value);
          this._pids.set(sender, pid);
          invocation.return_value(null);
        });
  }

  GetPointerAsync(params, invocation) {
    this._answerCaller(invocation, () => {
      const [x, y, mods] = global.get_pointer();
      return new this._GLib.Variant('(iiu)', [Math.trunc(x), Math.trunc(y), (mods & BUTTON1_MASK) ? 1 : 0]);
    });
  }

  WindowPidAtAsync([x, y], invocation) {
    this._answerCaller(invocation, () => new this._GLib.Variant('(i)', [this._windowPidAt(x, y)]));
  }

  _windowPidAt(x, y) {
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

  // The target of /proc/<pid>/exe, or null.
  _exeOf(pid) {
    try {
      return this._GLib.file_read_link(`/proc/${pid}/exe`);
    } catch (e) {
      return null;
    }
  }

  // Answers a registered caller that still runs the pinned executable with
  // what fn(pid) returns (null for no values); refuses everyone else.
  _answerCaller(invocation, fn) {
    const pid = this._pids.get(invocation.get_sender()) || 0;
    if (pid <= 0 || this._pinnedExe === null || this._exeOf(pid) !== this._pinnedExe) {
      invocation.return_dbus_error(ACCESS_DENIED, DENIED_TEXT);
      return;
    }
    try {
      invocation.return_value(fn(pid));
    } catch (e) {
      invocation.return_dbus_error('app.pellomar.Shell1.Error.Failed', String(e));
    }
  }

  // Finds the top-level window of the calling process and answers the call
  // with what fn returns (null for no values); an error when there is none.
  _withCallerWindow(invocation, fn) {
    this._answerCaller(invocation, pid => {
      const win = this._windowOfPid(pid);
      if (!win)
        throw new Error('The calling process has no window');
      return fn(win);
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
