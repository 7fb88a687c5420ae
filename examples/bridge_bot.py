#!/usr/bin/env python3
"""A command bot on `ondrel bridge`, in Python with the standard library only.

It answers instant messages that start with "!" (!help, !echo TEXT, !time, !reverse TEXT,
!rooms) and, in rooms it was invited to, "!echo TEXT". Text is plain both ways (--text plain):
what people type arrives without markup, and what the bot sends arrives as typed.

Two ways to run it:
  bridge_bot.py --server 127.0.0.1:5190 --user NAME
      starts its own `ondrel bridge` as a child; the session ends with the bot.
  bridge_bot.py --socket /run/user/1000/ondrel.sock [--server HOST:PORT] --user NAME
      talks to a daemon (`ondrel bridge --text plain --listen unix:PATH`), signs on (to
      --server) only if the daemon's session is not signed on yet, and leaves the session
      running when it stops.
The password comes from the environment variable ONDREL_PASSWORD, else from a prompt.
"""

import argparse
import collections
import getpass
import json
import os
import select
import signal
import socket
import subprocess
import sys
import time

# The events the bot acts on; everything else the bridge could send is left unsubscribed.
EVENTS = ["LoggedIn", "LoggedOut", "InstantMessage", "ChatInvite", "ChatMessage",
          "JoinedChat", "LeftChat", "Error", "WinsockError"]


class BridgeError(Exception):
    """A JSON-RPC error answer: code, message and (for the control's Error) data."""

    def __init__(self, error):
        super().__init__(f"{error['message']} ({error['code']})")
        self.code = error["code"]
        self.data = error.get("data")


class BridgeClosed(Exception):
    """The bridge ended the connection (or its output)."""


class Bridge:
    """One JSON-RPC connection to `ondrel bridge`: calls, and the notifications between."""

    def __init__(self, read_fd, write):
        self._fd = read_fd
        self._write = write
        self._buffer = b""
        self._next_id = 1
        self.events = collections.deque()

    @classmethod
    def spawn(cls, ondrel, args):
        child = subprocess.Popen([ondrel, "bridge", *args], stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE)

        def write(data):
            child.stdin.write(data)
            child.stdin.flush()

        bridge = cls(child.stdout.fileno(), write)
        bridge.child = child
        return bridge

    @classmethod
    def connect(cls, path):
        sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        sock.connect(path)
        bridge = cls(sock.fileno(), sock.sendall)
        bridge.sock = sock
        return bridge

    def _read_line(self, timeout):
        """The next line as JSON, or None when none comes within timeout seconds."""
        deadline = None if timeout is None else time.monotonic() + timeout
        while b"\n" not in self._buffer:
            left = None if deadline is None else max(0.0, deadline - time.monotonic())
            if not select.select([self._fd], [], [], left)[0]:
                return None
            chunk = os.read(self._fd, 65536)
            if not chunk:
                raise BridgeClosed("the bridge closed the connection")
            self._buffer += chunk
        line, self._buffer = self._buffer.split(b"\n", 1)
        return json.loads(line)

    def call(self, method, *params):
        """Calls a member and returns its result; raises BridgeError for an error answer.
        Notifications that come before the answer are kept for next_event."""
        call_id = self._next_id
        self._next_id += 1
        request = {"jsonrpc": "2.0", "id": call_id, "method": method, "params": list(params)}
        self._write((json.dumps(request) + "\n").encode())
        while True:
            message = self._read_line(None)
            if message.get("id") == call_id:
                if "error" in message:
                    raise BridgeError(message["error"])
                return message["result"]
            if "method" in message:
                self.events.append((message["method"], message["params"]))

    def next_event(self, timeout=None):
        """The next notification as (name, params), or None after timeout seconds."""
        if self.events:
            return self.events.popleft()
        message = self._read_line(timeout)
        return None if message is None else (message["method"], message["params"])

    def close(self):
        if hasattr(self, "child"):
            # End of input: the bridge sends what is held back, closes and exits.
            self.child.stdin.close()
            self.child.wait(timeout=60)
        else:
            self.sock.close()


def answer(text, rooms):
    """The bot's reply to a command, or None for text that is no command."""
    if not text.startswith("!"):
        return None
    command, _, rest = text[1:].partition(" ")
    if command == "help":
        return "Commands: !echo TEXT, !time, !reverse TEXT, !rooms, !help"
    if command == "echo":
        return rest
    if command == "time":
        return time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime())
    if command == "reverse":
        return rest[::-1]
    if command == "rooms":
        return ", ".join(rooms.values()) or "I am in no room"
    return f"Unknown command !{command}. Try !help"


class Bot:
    def __init__(self, bridge):
        self.bridge = bridge
        self.rooms = {}  # chat ID -> room name

    def subscribe(self):
        """Hears only EVENTS, whatever the daemon's --events gave this connection."""
        heard = self.bridge.call("Subscribe")
        extra = [name for name in heard if name not in EVENTS]
        if extra:
            self.bridge.call("Unsubscribe", *extra)
        self.bridge.call("Subscribe", *EVENTS)

    def sign_on(self, user, password, server):
        session = self.bridge.call("Session")
        if session["state"] == "signed-on":
            log(f"the session is signed on already, as {session['strUserName']}")
            return
        if not server:
            raise SystemExit("bridge_bot: the daemon is not signed on; give --server")
        host, _, port = server.rpartition(":")
        self.bridge.call("Login", user, password or getpass.getpass(f"Password for {user}: "),
                         host, int(port))
        while True:
            name, params = self.bridge.next_event(timeout=30) or ("timeout", {})
            if name == "LoggedIn":
                log(f"signed on as {params['strUserName']}")
                return
            if name in ("Error", "WinsockError", "timeout"):
                raise SystemExit(f"bridge_bot: could not sign on: {params.get('strError', name)}")

    def send_im(self, to, text):
        try:
            self.bridge.call("SendIM", to, text, False)
        except BridgeError as error:
            # -32000: refused by the control (too long, say); -32001: the session has ended.
            log(f"not sent to {to}: {error}")

    def run(self):
        while True:
            name, params = self.bridge.next_event()
            if name == "InstantMessage" and not params["blnAutoResponse"]:
                reply = answer(params["strMessage"].strip(), self.rooms)
                if reply is not None:
                    self.send_im(params["strUserName"], reply)
            elif name == "ChatInvite":
                log(f"{params['strFromUser']} invites me to {params['strChatName']}")
                self.bridge.call("AcceptChatInvite", params["lngChatID"])
            elif name == "JoinedChat":
                self.rooms[params["lngChatID"]] = params["strChatName"]
            elif name == "LeftChat":
                self.rooms.pop(params["lngChatID"], None)
            elif name == "ChatMessage":
                text = params["strMessage"].strip()
                if text.startswith("!echo "):
                    room = params["lngChatID"]
                    self.bridge.call("SendChat", self.rooms.get(room, ""), text[6:], room)
            elif name == "Error":
                log(f"error {params['intErrorCode']}: {params['strError']}")
            elif name in ("WinsockError", "LoggedOut"):
                raise SystemExit(f"bridge_bot: the session ended: {params}")


def log(text):
    print(f"bridge_bot: {text}", file=sys.stderr, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--server", help="HOST:PORT of the TOC2 server")
    parser.add_argument("--socket", help="a running `ondrel bridge --listen unix:PATH`")
    parser.add_argument("--user", required=True)
    parser.add_argument("--ondrel", default="ondrel", help="the ondrel program (default: ondrel)")
    args = parser.parse_args()
    if not args.server and not args.socket:
        parser.error("give --server, --socket or both")

    if args.socket:
        bridge = Bridge.connect(args.socket)
    else:
        bridge = Bridge.spawn(args.ondrel, ["--text", "plain", "--events", ",".join(EVENTS)])

    # SIGTERM ends the bot as Ctrl-C does: through the finally below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    bot = Bot(bridge)
    try:
        bot.subscribe()
        bot.sign_on(args.user, os.environ.get("ONDREL_PASSWORD"), args.server)
        bot.run()
    except KeyboardInterrupt:
        pass
    except BridgeClosed as closed:
        log(str(closed))
        return 1
    finally:
        bridge.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
