#!/usr/bin/python3
"""A fake XDG desktop portal on the D-Bus session bus, for testing the agent's portal client.

Models org.freedesktop.portal.Desktop at /org/freedesktop/portal/desktop the way
xdg-desktop-portal 1.16 (and the newer Clipboard portal) behaves when the user accepts every
dialog at once:

  GlobalShortcuts (version 1)  CreateSession, BindShortcuts; signals
                               Activated, Deactivated (raised through the control interface)
  RemoteDesktop (version 2,    CreateSession, SelectDevices, Start, NotifyKeyboardKeycode
    AvailableDeviceTypes 7)    (AccessDenied until the session started)
  Clipboard (version 1)        RequestClipboard, SetSelection, SelectionRead, SelectionWrite,
                               SelectionWriteDone; signals SelectionOwnerChanged, SelectionTransfer

Methods with a request handle export an org.freedesktop.portal.Request at
.../request/SENDER/TOKEN and emit its Response 50 ms after the reply; sessions are
org.freedesktop.portal.Session objects at .../session/SENDER/TOKEN. Signals go only to the
client that made the request or owns the session, as the real service sends them. A call
on a session of another client or kind fails with AccessDenied. Pointer and touch methods
are left out.

Options:
  --refuse LIST        the user cancels (response 1): shortcuts, remote-desktop
  --trigger TEXT       trigger description of every bound shortcut (default: the shortcut's
                       "preferred_trigger", else "Ctrl+Alt+D")
  --log FILE           append every portal method call as one JSON line, flushed at once:
                       {"interface": ..., "method": ..., "path": ..., "args": {name: value}}

Control interface org.larkspire.FakePortal on the same object, for tests:
  Activate(s id), Deactivate(s id)  the user presses / releases a shortcut of the last bound session
  SetClipboard(s text)              another application copies text/plain;charset=utf-8
  RequestTransfer(s mime) -> s      another application pastes from the session that owns the
                                    selection; replies what the session wrote once it called
                                    SelectionWriteDone and closed the fd (error after 5 s)
  EndSessions()                     the user ends every session from the desktop's indicator:
                                    each gets Closed and is gone

Prints "fake portal ready" once the name is owned; exits on SIGTERM and SIGINT.
"""
import argparse
import contextlib
import itertools
import json
import os
import re
import signal
import sys
import threading
import time
import traceback

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

BUS_NAME = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
PORTAL = "org.freedesktop.portal."
CONTROL = "org.larkspire.FakePortal"
TEXT_MIME = "text/plain;charset=utf-8"
ACCESS_DENIED = "org.freedesktop.DBus.Error.AccessDenied"
FAILED = "org.freedesktop.DBus.Error.Failed"

INTERFACES = {
    "GlobalShortcuts": [
        "CreateSession(a{sv} options) -> o handle",
        "BindShortcuts(o session_handle, a(sa{sv}) shortcuts, s parent_window, a{sv} options)"
        " -> o request_handle",
        "signal Activated(o session_handle, s shortcut_id, t timestamp, a{sv} options)",
        "signal Deactivated(o session_handle, s shortcut_id, t timestamp, a{sv} options)",
        "signal ShortcutsChanged(o session_handle, a(sa{sv}) shortcuts)",
    ],
    "RemoteDesktop": [
        "CreateSession(a{sv} options) -> o handle",
        "SelectDevices(o session_handle, a{sv} options) -> o handle",
        "Start(o session_handle, s parent_window, a{sv} options) -> o handle",
        "NotifyKeyboardKeycode(o session_handle, a{sv} options, i keycode, u state)",
    ],
    "Clipboard": [
        "RequestClipboard(o session_handle, a{sv} options)",
        "SetSelection(o session_handle, a{sv} options)",
        "SelectionWrite(o session_handle, u serial) -> h fd",
        "SelectionWriteDone(o session_handle, u serial, b success)",
        "SelectionRead(o session_handle, s mime_type) -> h fd",
        "signal SelectionOwnerChanged(o session_handle, a{sv} options)",
        "signal SelectionTransfer(o session_handle, s mime_type, u serial)",
    ],
    "Request": ["signal Response(u response, a{sv} results)"],
    "Session": ["Close()", "signal Closed(a{sv} details)"],
}
PROPERTIES = {
    "GlobalShortcuts": {"version": 1},
    "RemoteDesktop": {"version": 2, "AvailableDeviceTypes": 7},
    "Clipboard": {"version": 1},
    "Session": {"version": 1},
}
CONTROL_MEMBERS = ["Activate(s shortcut_id)", "Deactivate(s shortcut_id)", "SetClipboard(s text)",
                   "RequestTransfer(s mime_type) -> s text", "EndSessions()"]
DEFERRED = object()  # the handler replies later through the invocation


def interface_info(name, members, properties):
    """Introspection data from the one-line member descriptions above."""
    xml = f'<node><interface name="{name}">'
    for member in members:
        kind, member_name, ins, outs = re.fullmatch(r"(signal )?(\w+)\((.*)\)(?: -> (.*))?", member).groups()
        args = [(a, "in") for a in ins.split(", ") if a]
        args += [(a, "out") for a in (outs or "").split(", ") if a]
        xml += f'<{"signal" if kind else "method"} name="{member_name}">'
        xml += "".join(f'<arg type="{a.split()[0]}" name="{a.split()[1]}"'
                       + ("/>" if kind else f' direction="{d}"/>') for a, d in args)
        xml += "</signal>" if kind else "</method>"
    xml += "".join(f'<property name="{p}" type="u" access="read"/>' for p in properties)
    return Gio.DBusNodeInfo.new_for_xml(xml + "</interface></node>").interfaces[0]


class PortalError(Exception):
    def __init__(self, name, message):
        super().__init__(message)
        self.name = name


class Session:
    def __init__(self, kind, sender, path):
        self.kind, self.sender, self.path = kind, sender, path
        self.devices = {}  # SelectDevices options
        self.started = False
        self.clipboard = False  # RequestClipboard called before Start
        self.shortcuts = []  # bound (id, description, trigger)
        self.offered = []  # mime types of this session's own selection
        self.registration = 0


class Transfer:
    def __init__(self, invocation, session):
        self.invocation, self.session = invocation, session
        self.chunks, self.fd, self.watch, self.eof, self.success = [], -1, 0, False, None
        self.timeout = 0


class FakePortal:
    def __init__(self, connection, options):
        self.connection, self.options = connection, options
        self.infos = {short: interface_info(PORTAL + short, members, PROPERTIES.get(short, {}))
                      for short, members in INTERFACES.items()}
        self.sessions, self.transfers = {}, {}
        self.last_bound = self.owner = self.other_text = None
        self.tokens, self.serials, self.starts = (itertools.count(1) for _ in range(3))
        self.log = open(options.log, "a", encoding="utf-8") if options.log else None
        for short in ("GlobalShortcuts", "RemoteDesktop", "Clipboard"):
            self.export(PATH, self.infos[short])
        self.export(PATH, interface_info(CONTROL, CONTROL_MEMBERS, {}))

    # Plumbing: dispatch, log, requests, sessions.

    def on_call(self, connection, sender, path, interface, method, parameters, invocation):
        args = parameters.unpack()
        if interface.startswith(PORTAL):
            names = [a.name for a in invocation.get_method_info().in_args]
            self.record({"interface": interface, "method": method, "path": path,
                         "args": dict(zip(names, args))})
        try:
            result = getattr(self, interface.rsplit(".", 1)[1] + "_" + method)(invocation, sender, *args)
        except PortalError as error:
            invocation.return_dbus_error(error.name, str(error))
            return
        except Exception as error:  # a fault of the fake: say so instead of leaving the caller waiting
            traceback.print_exc()
            invocation.return_dbus_error(FAILED, f"fake portal fault: {error!r}")
            return
        if isinstance(result, tuple):  # (value, fd): the fd goes out in the message's fd list
            fds = Gio.UnixFDList.new()
            fds.append(result[1])
            os.close(result[1])
            invocation.return_value_with_unix_fd_list(result[0], fds)
        elif result is not DEFERRED:
            invocation.return_value(result)

    def export(self, path, info):
        return self.connection.register_object(path, info, self.on_call, self.on_get_property, None)

    def on_get_property(self, connection, sender, path, interface, name):
        return GLib.Variant("u", PROPERTIES[interface.rsplit(".", 1)[1]][name])

    def record(self, call):
        if self.log:
            self.log.write(json.dumps(call) + "\n")
            self.log.flush()

    def emit(self, session, interface, name, signature, values):
        self.connection.emit_signal(session.sender, PATH, PORTAL + interface, name,
                                    GLib.Variant(signature, values))

    def owner_changed(self, session, mime_types, is_owner):
        self.emit(session, "Clipboard", "SelectionOwnerChanged", "(oa{sv})", (session.path, {
            "mime_types": GLib.Variant("as", mime_types), "session_is_owner": GLib.Variant("b", is_owner)}))

    def object_path(self, kind, sender, token):
        token = token or f"t{next(self.tokens)}"
        return f"{PATH}/{kind}/{sender[1:].replace('.', '_')}/{token}"

    def request(self, sender, options, respond):
        """Exports a Request and answers with respond() -> (code, results) once the caller has had
        time to subscribe to Response, as a real dialog would."""
        path = self.object_path("request", sender, options.get("handle_token"))

        registration = self.export(path, self.infos["Request"])

        def fire():
            code, results = respond()
            self.connection.emit_signal(sender, path, PORTAL + "Request", "Response",
                                        GLib.Variant("(ua{sv})", (code, results)))
            self.connection.unregister_object(registration)
            return GLib.SOURCE_REMOVE

        GLib.timeout_add(50, fire)
        return GLib.Variant("(o)", (path,))

    def create_session(self, kind, sender, options):
        # The session exists from the call on, as in the real service; only the answer waits.
        path = self.object_path("session", sender, options.get("session_handle_token"))
        session = self.sessions[path] = Session(kind, sender, path)
        session.registration = self.export(path, self.infos["Session"])
        return self.request(sender, options, lambda: (0, {"session_handle": GLib.Variant("s", path)}))

    def Session_Close(self, invocation, sender):
        session = self.sessions.pop(invocation.get_object_path())
        self.connection.unregister_object(session.registration)
        self.last_bound = None if self.last_bound is session else self.last_bound
        self.owner = None if self.owner is session else self.owner

    def session(self, sender, path, kind="RemoteDesktop"):
        session = self.sessions.get(path)
        if not session or session.sender != sender or session.kind != kind:
            raise PortalError(ACCESS_DENIED, f"Invalid session {path}")
        return session

    def clipboard_session(self, sender, path):
        session = self.session(sender, path)
        if not (session.started and session.clipboard):
            raise PortalError(ACCESS_DENIED, "Clipboard not enabled for this session")
        return session

    # GlobalShortcuts

    def GlobalShortcuts_CreateSession(self, invocation, sender, options):
        return self.create_session("GlobalShortcuts", sender, options)

    def GlobalShortcuts_BindShortcuts(self, invocation, sender, path, shortcuts, parent, options):
        session = self.session(sender, path, "GlobalShortcuts")

        def respond():
            if "shortcuts" in self.options.refuse:
                return 1, {}
            session.shortcuts = [(id_, props.get("description", ""),
                                  self.options.trigger or props.get("preferred_trigger") or "Ctrl+Alt+D")
                                 for id_, props in shortcuts]
            self.last_bound = session
            return 0, self.shortcut_results(session)
        return self.request(sender, options, respond)

    def shortcut_results(self, session):
        return {"shortcuts": GLib.Variant("a(sa{sv})", [
            (id_, {"description": GLib.Variant("s", d), "trigger_description": GLib.Variant("s", t)})
            for id_, d, t in session.shortcuts])}

    # RemoteDesktop

    def RemoteDesktop_CreateSession(self, invocation, sender, options):
        return self.create_session("RemoteDesktop", sender, options)

    def RemoteDesktop_SelectDevices(self, invocation, sender, path, options):
        session = self.session(sender, path)
        session.devices = options
        return self.request(sender, options, lambda: (0, {}))

    def RemoteDesktop_Start(self, invocation, sender, path, parent, options):
        session = self.session(sender, path)

        def respond():
            n = next(self.starts)
            if "remote-desktop" in self.options.refuse:
                return 1, {}
            session.started = True
            results = {"devices": GLib.Variant("u", 1)}
            if session.devices.get("persist_mode"):
                results["restore_token"] = GLib.Variant("s", f"token-{n}")
            if session.clipboard:
                results["clipboard_enabled"] = GLib.Variant("b", True)
            return 0, results
        return self.request(sender, options, respond)

    def RemoteDesktop_NotifyKeyboardKeycode(self, invocation, sender, path, options, key, state):
        if not self.session(sender, path).started:
            raise PortalError(ACCESS_DENIED, "Session is not started")

    # Clipboard

    def Clipboard_RequestClipboard(self, invocation, sender, path, options):
        session = self.session(sender, path)
        if session.started:
            raise PortalError(FAILED, "Clipboard can only be requested before the session starts")
        session.clipboard = True

    def Clipboard_SetSelection(self, invocation, sender, path, options):
        session = self.clipboard_session(sender, path)
        session.offered = list(options.get("mime_types", []))
        self.owner, self.other_text = session, None
        self.owner_changed(session, session.offered, True)

    def Clipboard_SelectionRead(self, invocation, sender, path, mime_type):
        self.clipboard_session(sender, path)
        if self.other_text is None or mime_type != TEXT_MIME:
            raise PortalError(FAILED, f"No {mime_type} on the clipboard")
        read_end, write_end = os.pipe()
        data = self.other_text.encode()

        def write():  # a thread, so text longer than the pipe buffer does not stall the main loop
            with os.fdopen(write_end, "wb") as pipe, contextlib.suppress(BrokenPipeError):
                pipe.write(data)
        threading.Thread(target=write, daemon=True).start()
        return GLib.Variant("(h)", (0,)), read_end

    def Clipboard_SelectionWrite(self, invocation, sender, path, serial):
        transfer = self.transfer(sender, path, serial)
        if transfer.fd >= 0 or transfer.eof:
            raise PortalError(FAILED, f"Serial {serial} was already written")
        transfer.fd, write_end = os.pipe()
        os.set_blocking(transfer.fd, False)
        transfer.watch = GLib.io_add_watch(transfer.fd, GLib.PRIORITY_DEFAULT, GLib.IO_IN | GLib.IO_HUP,
                                           self.on_transfer_data, serial)
        return GLib.Variant("(h)", (0,)), write_end

    def Clipboard_SelectionWriteDone(self, invocation, sender, path, serial, success):
        transfer = self.transfer(sender, path, serial)
        transfer.success = success
        self.finish_transfer(serial)

    def transfer(self, sender, path, serial):
        session = self.clipboard_session(sender, path)
        transfer = self.transfers.get(serial)
        if not transfer or transfer.session is not session:
            raise PortalError(FAILED, f"No transfer with serial {serial} for this session")
        return transfer

    def on_transfer_data(self, fd, condition, serial):
        transfer = self.transfers[serial]
        data = os.read(fd, 65536)
        if data:
            transfer.chunks.append(data)
            return GLib.SOURCE_CONTINUE
        transfer.eof, transfer.watch = True, 0
        self.finish_transfer(serial)
        return GLib.SOURCE_REMOVE

    def finish_transfer(self, serial, timed_out=False):
        transfer = self.transfers[serial]
        if not timed_out and (transfer.success is None or transfer.success and not transfer.eof):
            return GLib.SOURCE_CONTINUE
        del self.transfers[serial]
        for source in (transfer.watch, transfer.timeout if not timed_out else 0):
            if source:
                GLib.source_remove(source)
        if transfer.fd >= 0:
            os.close(transfer.fd)
        if timed_out or not transfer.success:
            transfer.invocation.return_dbus_error(FAILED, "The session did not deliver the selection"
                                                  + (" within 5 s" if timed_out else ""))
        else:
            text = b"".join(transfer.chunks).decode(errors="replace")
            transfer.invocation.return_value(GLib.Variant("(s)", (text,)))
        return GLib.SOURCE_REMOVE

    # Control interface for tests

    def FakePortal_Activate(self, invocation, sender, shortcut_id, signal_name="Activated"):
        session = self.last_bound
        if not session or shortcut_id not in [id_ for id_, _, _ in session.shortcuts]:
            raise PortalError(FAILED, f"No bound shortcut {shortcut_id}")
        self.emit(session, "GlobalShortcuts", signal_name, "(osta{sv})",
                  (session.path, shortcut_id, int(time.monotonic() * 1000), {}))

    def FakePortal_Deactivate(self, invocation, sender, shortcut_id):
        self.FakePortal_Activate(invocation, sender, shortcut_id, "Deactivated")

    def FakePortal_SetClipboard(self, invocation, sender, text):
        self.owner, self.other_text = None, text
        for session in self.sessions.values():
            if session.started and session.clipboard:
                self.owner_changed(session, [TEXT_MIME], False)

    def FakePortal_RequestTransfer(self, invocation, sender, mime_type):
        if not self.owner or mime_type not in self.owner.offered:
            raise PortalError(FAILED, f"No session offers {mime_type}")
        serial = next(self.serials)
        transfer = self.transfers[serial] = Transfer(invocation, self.owner)
        transfer.timeout = GLib.timeout_add(5000, self.finish_transfer, serial, True)
        self.emit(self.owner, "Clipboard", "SelectionTransfer", "(osu)",
                  (self.owner.path, mime_type, serial))
        return DEFERRED

    def FakePortal_EndSessions(self, invocation, sender):
        for path, session in list(self.sessions.items()):
            self.connection.emit_signal(session.sender, path, PORTAL + "Session", "Closed",
                                        GLib.Variant("(a{sv})", ({},)))
            self.connection.unregister_object(session.registration)
            del self.sessions[path]
        self.last_bound = self.owner = None


def main():
    parser = argparse.ArgumentParser(description="Fake XDG desktop portal for tests.")
    parser.add_argument("--refuse", default="", type=lambda s: set(filter(None, s.split(","))))
    parser.add_argument("--trigger")
    parser.add_argument("--log")
    options = parser.parse_args()
    unknown = options.refuse - {"shortcuts", "remote-desktop"}
    if unknown:
        parser.error(f"unknown names: {', '.join(sorted(unknown))}")

    loop = GLib.MainLoop()
    connection = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    portal = FakePortal(connection, options)
    status = [0]

    def lost(connection, name):
        print(f"fake portal: could not own {name}", file=sys.stderr)
        status[0] = 1
        loop.quit()

    Gio.bus_own_name_on_connection(connection, BUS_NAME, Gio.BusNameOwnerFlags.DO_NOT_QUEUE,
                                   lambda *_: print("fake portal ready", flush=True), lost)
    for signum in (signal.SIGTERM, signal.SIGINT):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signum, loop.quit)
    loop.run()
    return status[0]


if __name__ == "__main__":
    sys.exit(main())
