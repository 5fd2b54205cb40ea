#!/usr/bin/python3
"""Drops files on an X window as a file manager does (the XDND protocol, text/uri-list): what
xdotool cannot do.  xdnd_drop.py WINDOW X Y FILE...  (X, Y on the screen). Exit 1 when the
window neither took nor refused the drop within 10 s; prints "accepted" or "refused"."""
import sys
import time
import urllib.parse

from Xlib import X, display, protocol

window_id, x, y = int(sys.argv[1], 0), int(sys.argv[2]), int(sys.argv[3])
files = sys.argv[4:]
d = display.Display()
atom = lambda name: d.intern_atom(name)
uri_list = atom("text/uri-list")
root = d.screen().root
target = d.create_resource_object("window", window_id)
source = root.create_window(0, 0, 1, 1, 0, X.CopyFromParent)
source.set_selection_owner(atom("XdndSelection"), X.CurrentTime)
data = "".join("file://" + urllib.parse.quote(f) + "\r\n" for f in files).encode()


def send(name, values):
    event = protocol.event.ClientMessage(window=target, client_type=atom(name),
                                         data=(32, (values + [0] * 5)[:5]))
    target.send_event(event)
    d.flush()


send("XdndEnter", [source.id, 5 << 24, uri_list])
send("XdndPosition", [source.id, 0, (x << 16) | y, X.CurrentTime, atom("XdndActionCopy")])
deadline = time.time() + 10
accepted = None
while time.time() < deadline:
    if not d.pending_events():
        time.sleep(0.01)
        continue
    e = d.next_event()
    if e.type == X.SelectionRequest:
        e.requestor.change_property(e.property, e.target, 8, data)
        notify = protocol.event.SelectionNotify(time=e.time, requestor=e.requestor,
                                                selection=e.selection, target=e.target,
                                                property=e.property)
        e.requestor.send_event(notify)
        d.flush()
    elif e.type == X.ClientMessage and e.client_type == atom("XdndStatus"):
        if accepted is None:
            accepted = bool(e.data[1][1] & 1)
            if accepted:
                send("XdndDrop", [source.id, 0, X.CurrentTime])
            else:
                send("XdndLeave", [source.id])
                break
    elif e.type == X.ClientMessage and e.client_type == atom("XdndFinished"):
        break
if accepted is None:
    sys.exit(1)
print("accepted" if accepted else "refused")
