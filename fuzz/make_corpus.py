#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: corpus/receive, corpus/commands,
corpus/tocd_text and corpus/tocd_session.

Receive seeds are the server side of whole sessions (sign-on, configuration, presence, IMs,
chat, notices, errors, keep-alives), cut into reads of several sizes and paired with host
scripts; a capture of real tocd traffic (one frame per line, hex) can be added with --capture.
"""
import argparse
import hashlib
import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent


def frame(kind, payload, seq=0):
    if isinstance(payload, str):
        payload = payload.encode("latin-1")
    return b"*" + bytes([kind]) + struct.pack(">HH", seq & 0xFFFF, len(payload)) + payload


SIGN_ON = [
    frame(1, b"\x00\x00\x00\x01"),
    frame(2, "SIGN_ON:TOC2.0"),
    frame(2, "NICK:Alice Smith"),
    frame(2, "CONFIG2:m:1\ng:Buddies\nb:bob\nb:carol:Carol C\ng:Family\nb:mom:::::x\np:dave\n"
             "d:eve\npref:xyz\nx:1\n\ndone:\n"),
]
NOTICES = [
    "UPDATE_BUDDY2:bob:T:0:1700000000:0: O :",
    "UPDATE_BUDDY2:carol:T:10:1700000100:5: UU:",
    "UPDATE_BUDDY2:bob:F:0:0:0:   :",
    "BUDDY_CAPS2:bob:09461343-4C7F-11D1-8222-444553540000,748F2420-6287-11D1-8222-444553540000",
    "BART2:bob:0 2 AAAA",
    "IM_IN_ENC2:bob:F:F:T: O :F:L:en:<HTML><B>hello</B> there</HTML>",
    "IM_IN_ENC2:carol:T:F:T: O :F:L:en:away: back soon",
    "CLIENT_EVENT2:bob:2",
    "CHAT_JOIN:1234:Lobby",
    "CHAT_UPDATE_BUDDY:1234:T:alice:bob:carol",
    "CHAT_IN_ENC:1234:bob:F:A:en:hi all: it's me",
    "CHAT_INVITE:Games:5678:carol:come play",
    "CHAT_UPDATE_BUDDY:1234:F:carol",
    "CHAT_LEFT:1234",
    "INSERTED2:b:Bobby:bob:Buddies",
    "INSERTED2:g:Work",
    "INSERTED2:d:mallory",
    "INSERTED2:p:trent",
    "UPDATED2:b:bob:?:Bobby",
    "DELETED2:b:bob:Buddies",
    "DELETED2:g:Work",
    "DELETED2:d:mallory",
    "DELETED2:p:trent",
    "GOTO_URL:profile:http://127.0.0.1:5191/profile?user=bob",
    "EVILED:10:bob",
    "EVILED:20:",
    "ADMIN_NICK_STATUS:0",
    "NICK:Alice  Smith",
    "ADMIN_PASSWD_STATUS:0",
    "RVOUS_PROPOSE:bob:09461343-4C7F-11D1-8222-444553540000:cookie:1:10.0.0.1:10.0.0.2:10.0.0.3:5190:10001:QUJD",
    "ERROR:901:zed",
    "ERROR:951:Lobby:24",
    "ERROR:980",
    "ERROR:989:17",
    "CONFIG2:g:Late\nb:zed\n",
    "CONFIG2:do",
    "CONFIG2:ne:\ndone:\n",
]


def session(messages):
    out = b"".join(SIGN_ON)
    for i, m in enumerate(messages):
        out += frame(2, m, seq=i + 4)
    return out


def encode(stream, script, read_size, extra_ops=b""):
    """Byte 0: script length, the script, then deliver records of read_size (1-64) bytes."""
    out = bytes([len(script)]) + script
    op = ((read_size - 1) << 2)  # op % 4 == 0: deliver op / 4 + 1 bytes
    for at in range(0, len(stream), read_size):
        out += bytes([op]) + stream[at:at + read_size]
    return out + extra_ops


def receive_seeds(capture):
    full = session(NOTICES)
    odd = frame(5, b"") + frame(3, "x") + frame(4, "") + frame(6, "?") + frame(2, "")
    yield encode(full, b"", 64)
    yield encode(full, b"", 1)
    yield encode(full, b"\x00\x03\x05", 37)
    yield encode(full, b"\x00\x00\x00\x01", 64, b"\x01")  # LogOff, then reconnect
    yield encode(full, b"\x02\x00", 13, b"\x01")  # Login from a handler
    yield encode(full, b"\x00" * 7 + b"\x08", 64)  # destroy inside an event
    yield encode(full, b"\x0b\x00", 64)  # handler that throws
    yield encode(full[:200], b"", 64, b"\x02")  # socket error mid-session
    yield encode(full[:150], b"", 64, b"\x03")  # server closes mid-frame
    yield encode(b"".join(SIGN_ON) + odd, b"", 64)
    yield encode(b"".join(SIGN_ON) + odd, b"", 1)
    yield bytes([0, 252]) + full  # one whole burst
    if capture:
        frames = [bytes.fromhex(line.strip()) for line in capture.read_text().splitlines()
                  if line.strip()]
        stream = b"".join(frames)
        yield encode(stream, b"", 64)
        yield encode(stream, b"\x00\x03\x07\x05", 29)


def command_seeds():
    def seed(which, number, *texts):
        return bytes([which, number & 0xFF]) + b"\xff".join(t.encode("latin-1") for t in texts)

    yield seed(0, 1, "Bob Smith", "hello <b>there</b> $5 {x} [y] (z) \"q\" \\")
    yield seed(0, 0xFF, "bob", "auto reply")
    yield seed(1, 7, "chat text")
    yield seed(2, 7, "join us", "bob carol")
    yield seed(3, 4, "  Lobby (main) \"x\" \\ ")
    yield seed(8, 0, "<html>profile</html>")
    yield seed(10, 3, "")
    yield seed(10, 100, "")
    yield seed(11, 0, "09461343-4C7F-11D1-8222-444553540000")
    yield seed(12, 0, "Alice \"Smith\"")
    yield seed(13, 0, "old pass", "new\\pass")
    yield seed(15, 0, "Friends {1}", "Joe Smith")
    yield seed(16, 0, "Friends", "joe\"smith")
    yield seed(23, 3, "")


def tocd_text_seeds():
    lines = [
        'toc2_login login.oscar.aol.com 5190 alice 0x2408105c23001130 English  "Ondrel 2.0" 160 '
        'US "" "" 3 0 30303 -kentucky -utf8 58203174',
        'toc_send_im "bob" "hello \\$5 \\{x\\} \\"q\\""',
        'toc2_send_im_enc bob F U en "hi there" auto',
        'toc_chat_join "4" "Lobby (main)"',
        'toc_chat_invite "1234" "come in" "bob"',
        'toc_set_info "<html>\\[profile\\]</html>"',
        'toc_set_idle "600"',
        'toc2_remove_buddy "bob" "Buddies"',
        'toc_set_caps "09461343-4C7F-11D1-8222-444553540000"',
        'toc_change_passwd "old" "new',
    ]
    for line in lines:
        yield b"\x00" + line.encode("latin-1")
    yield b"\x01" + b"{g:Friends\nb:bob:Bobby\nb:carol\r\ng:Work\nb:dave\n}"
    yield b"\x01" + b"b:orphan\ng:\nb::alias\n"
    yield b"\x02\x20" + b"m:1\ng:Buddies\nb:bob\np:carol\nd:dave\npref:x\n" + b"b:" + b"y" * 60
    yield b"\x03" + b"Alice Smith"
    yield b"\x03" + b"a:b\n"
    yield b"\x04" + b"<script>\"'&\x00\x1b\\"


def roast(password):
    key = b"Tic/Toc"
    return "0x" + "".join("%02x" % (c ^ key[i % len(key)]) for i, c in enumerate(password.encode()))


class Client:
    """One client's bytes towards tocd: the greeting, the sign-on frame, then commands."""

    def __init__(self, name, password, greeting=b"FLAPON\r\n\r\n"):
        self.seq = 0
        tlv = b"\x00\x01" + struct.pack(">H", len(name)) + name.encode()
        self.bytes = greeting + self.frame(1, b"\x00\x00\x00\x01" + tlv)
        self.bytes += self.command(
            f'toc2_login login.oscar.aol.com 5190 {name} {roast(password)} English '
            '"TIC:Ondrel" 160 US "" "" 3 0 30303 -kentucky -utf8 58203174')

    def frame(self, kind, payload):
        self.seq += 1
        return frame(kind, payload, self.seq - 1)

    def command(self, line):
        return self.frame(2, line.encode("latin-1") + b"\x00")


def session_seed(steps):
    """Steps are (session, bytes) or (session, None) for a hang-up; bytes go in reads of
    varying size, at most 127 each."""
    out = b""
    sizes = [127, 40, 9, 127, 1, 64]
    turn = 0
    for who, data in steps:
        if data is None:
            out += bytes([who])
            continue
        while data:
            n = min(len(data), sizes[turn % len(sizes)])
            turn += 1
            out += bytes([(n << 1) | who]) + data[:n]
            data = data[n:]
    return out


def tocd_session_seeds():
    alice = Client("alice", "secret1")
    alone = alice.bytes + b"".join(alice.command(c) for c in [
        "toc_init_done",
        'toc2_send_im echobot "hello there"',
        'toc2_send_im_enc echobot F U en "hi \\$5" auto',
        "toc_get_status echobot",
        'toc_set_info "<b>about me</b>"',
        "toc_get_info alice",
        'toc_set_away "out for lunch"',
        "toc_set_idle 600",
        'toc_set_caps "09461343-4C7F-11D1-8222-444553540000"',
        'toc_format_nickname "Al Ice"',
        'toc_change_passwd "secret1" "secret2"',
        'toc_set_away',
    ]) + alice.frame(2, b"toc_evil ghost\x00\x00\x00")
    yield session_seed([(0, alone)])

    alice, bob = Client("alice", "secret1"), Client("bob", "hunter2", b"FLAPON\n\n")
    yield session_seed([
        (0, alice.bytes), (1, bob.bytes),
        (0, alice.command("toc_init_done")), (1, bob.command("toc_init_done")),
        (0, alice.command('toc2_new_buddies "{g:Friends\nb:bob:Bobby\n}"')),
        (1, bob.command('toc2_new_buddies "{g:Buddies\nb:alice\n}"')),
        (0, alice.command('toc2_send_im bob "are you there?"')),
        (1, bob.command('toc2_send_im_enc alice F U en "yes" auto')),
        (1, bob.command("toc_evil alice norm")),
        (0, alice.command("toc2_add_deny bob")), (0, alice.command("toc2_set_pdmode 4")),
        (1, bob.command("toc_get_status alice")), (0, alice.command("toc2_remove_deny bob")),
        (0, alice.command("toc2_add_permit bob")), (0, alice.command("toc2_set_pdmode 3")),
        (0, alice.command("toc2_remove_permit bob")),
        (1, bob.command("toc2_client_event alice 2")),
        (0, alice.command("toc2_new_group Work")), (0, alice.command("toc2_del_group Work")),
        (0, alice.command('toc2_remove_buddy "bob" "Friends"')),
        (1, None),
    ])

    alice, bob = Client("alice", "secret1"), Client("bob", "hunter2")
    yield session_seed([
        (0, alice.bytes), (1, bob.bytes),
        (0, alice.command("toc_init_done")), (1, bob.command("toc_init_done")),
        (0, alice.command('toc_chat_join 4 "Lobby (main)"')),
        (0, alice.command('toc_chat_invite 1 "come in" bob')),
        (1, bob.command("toc_chat_accept 1")),
        (1, bob.command('toc_chat_send 1 "hi all"')),
        (0, alice.command('toc_chat_whisper 1 bob "psst"')),
        (1, bob.command("toc_chat_leave 1")),
        (0, alice.command('toc_chat_send 1 "alone now"')),
        (0, None),
    ])

    first, second = Client("alice", "secret1"), Client("alice", "secret1")
    yield session_seed([
        (0, first.bytes + first.command("toc_init_done")),
        (1, second.bytes + second.command("toc_init_done")),
        (1, second.command('toc2_send_im alice "to myself"')),
        (0, None),
        (1, second.command("toc_get_status alice")),
    ])

    alice = Client("alice", "secret1")
    yield session_seed([
        (0, alice.bytes + alice.command('toc_set_info "my page & more"')),
        (1, b"GET /profile/alice HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"),
    ])
    yield session_seed([(1, b"HEAD /profile/nobody HTTP/1.0\r\n\r\n")])

    stray = Client("alice", "secret1")
    yield session_seed([
        (0, b"FLAPON\r\n\r\n" + stray.frame(1, b"\x00\x00\x00\x01\x00\x01\x00\x01a")
            + stray.command("toc_init_done")),
        (1, Client("bob", "wrong").bytes + frame(3, b"", 3)),
    ])


def write(directory, seeds):
    directory.mkdir(parents=True, exist_ok=True)
    for old in directory.iterdir():
        old.unlink()
    for data in seeds:
        (directory / hashlib.sha1(data).hexdigest()).write_bytes(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--capture", type=pathlib.Path, help="frames captured from tocd, hex")
    args = parser.parse_args()
    write(HERE / "corpus" / "receive", receive_seeds(args.capture))
    write(HERE / "corpus" / "commands", command_seeds())
    write(HERE / "corpus" / "tocd_text", tocd_text_seeds())
    write(HERE / "corpus" / "tocd_session", tocd_session_seeds())


if __name__ == "__main__":
    main()
