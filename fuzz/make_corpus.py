#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: corpus/receive, corpus/commands,
corpus/tocd_text, corpus/tocd_session and corpus/terminal_text. Receive seeds are the server
side of a whole session (sign-on, configuration, one message of each keyword, errors,
keep-alives), cut into reads of several sizes and paired with host scripts."""
import hashlib
import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent
UUID = "09461343-4C7F-11D1-8222-444553540000"
LOGIN = 'English "TIC:Ondrel" 160 US "" "" 3 0 30303 -kentucky -utf8 58203174'


def frame(kind, payload, seq=0):
    if isinstance(payload, str):
        payload = payload.encode("latin-1")
    return b"*" + bytes([kind]) + struct.pack(">HH", seq & 0xFFFF, len(payload)) + payload


SIGN_ON = frame(1, b"\x00\x00\x00\x01") + frame(2, "SIGN_ON:TOC2.0") + frame(
    2, "CONFIG2:m:1\ng:Buddies\nb:bob\nb:carol:Carol C\nb:mom:::::x\np:dave\nd:eve\npref:xyz\n"
       "x:1\n\ndone:\n")
NOTICES = (
    "NICK:Alice Smith|UPDATE_BUDDY2:bob:T:0:1700000000:0: O :|BUDDY_CAPS2:bob:" + UUID +
    "|BART2:bob:0 2 AAAA|IM_IN_ENC2:bob:F:F:T: O :F:L:en:<HTML><B>hello</B> there</HTML>"
    "|CLIENT_EVENT2:bob:2|CHAT_JOIN:1234:Lobby|CHAT_UPDATE_BUDDY:1234:T:alice:bob:carol"
    "|CHAT_IN_ENC:1234:bob:F:A:en:hi all: it's me|CHAT_INVITE:Games:5678:carol:come play"
    "|CHAT_LEFT:1234|INSERTED2:b:Bobby:bob:Buddies|INSERTED2:g:Work|DELETED2:d:mallory"
    "|GOTO_URL:profile:http://127.0.0.1:5191/profile?user=bob|EVILED:10:bob|ADMIN_NICK_STATUS:0"
    "|ADMIN_PASSWD_STATUS:0|RVOUS_PROPOSE:bob:" + UUID + ":cookie:1:10.0.0.1:10.0.0.2:10.0.0.3"
    ":5190:10001:QUJD|ERROR:951:Lobby:24|ERROR:989:17|CONFIG2:do|CONFIG2:ne:\ndone:\n").split("|")


def encode(stream, script, read_size, extra_ops=b""):
    """Byte 0: script length, the script, then deliver records of read_size (1-64) bytes."""
    out = bytes([len(script)]) + script
    for at in range(0, len(stream), read_size):
        out += bytes([(read_size - 1) << 2]) + stream[at:at + read_size]
    return out + extra_ops


def receive_seeds():
    full = SIGN_ON + b"".join(frame(2, m, seq=i + 3) for i, m in enumerate(NOTICES))
    odd = frame(5, b"") + frame(3, "x") + frame(4, "") + frame(6, "?") + frame(2, "")
    yield encode(full, b"", 64)
    yield encode(full, b"", 1)
    yield encode(full, b"\x00\x00\x00\x01", 64, b"\x01")  # LogOff, then reconnect
    yield encode(full, b"\x02\x00", 13, b"\x01")  # Login from a handler
    yield encode(full, b"\x00\x03\x04", 37)  # commands from handlers
    yield encode(full, b"\x00" * 7 + b"\x05", 64)  # destroy inside an event
    yield encode(full, b"\x06\x00", 64)  # handler that throws
    yield encode(full[:150], b"", 64, b"\x02\x01\x03")  # error mid-frame, reconnect, close
    yield encode(SIGN_ON + odd, b"", 64)
    yield bytes([0, 252]) + full  # one whole burst


def command_seeds():
    def seed(which, number, *texts):
        return bytes([which, number & 0xFF]) + b"\xff".join(t.encode("latin-1") for t in texts)

    yield seed(0, 1, "Bob Smith", "hello <b>there</b> $5 {x} [y] (z) \"q\" \\")
    yield seed(0, 0xFF, "bob", "auto reply")
    yield seed(1, 7, "chat text")
    yield seed(2, 7, "join us", "bob carol")
    yield seed(3, 4, "  Lobby (main) \"x\" \\ ")
    yield seed(4, 0, "Mal Lory")
    yield seed(5, 0, "<html>profile</html>")
    yield seed(6, 3)
    yield seed(6, 100)
    yield seed(7, 0, "Friends", "joe\"smith")
    yield seed(8, 0, "Friends {1}", "Joe Smith")


def tocd_text_seeds():
    for line in [f"toc2_login login.oscar.aol.com 5190 alice 0x2408105c23001130 {LOGIN}",
                 'toc_send_im "bob" "hello \\$5 \\{x\\} \\"q\\""',
                 'toc2_send_im_enc bob F U en "hi there" auto', 'toc_change_passwd "old" "new']:
        yield b"\x00" + line.encode("latin-1")
    yield b"\x01{g:Friends\nb:bob:Bobby\nb:carol\r\ng:Work\nb:dave\n}"
    yield b"\x01b:orphan\ng:\nb::alias\n"
    yield b"\x02\x20m:1\ng:Buddies\nb:bob\np:carol\nd:dave\npref:x\nb:" + b"y" * 60
    yield b"\x03Alice Smith"
    yield b"\x03a:b\n"
    yield b"\x04<script>\"'&\x00\x1b\\"


class Client:
    """One client's bytes towards tocd: the greeting, the sign-on frame, then commands."""

    def __init__(self, name, password, greeting=b"FLAPON\r\n\r\n"):
        self.seq = 0
        key = b"Tic/Toc"
        roasted = "".join("%02x" % (c ^ key[i % 7]) for i, c in enumerate(password.encode()))
        tlv = b"\x00\x01" + struct.pack(">H", len(name)) + name.encode()
        self.bytes = greeting + self.frame(1, b"\x00\x00\x00\x01" + tlv) + self.command(
            f"toc2_login login.oscar.aol.com 5190 {name} 0x{roasted} {LOGIN}")

    def frame(self, kind, payload):
        self.seq += 1
        return frame(kind, payload, self.seq - 1)

    def command(self, line):
        return self.frame(2, line.encode("latin-1") + b"\x00")


def session_seed(steps):
    """Steps are (session, bytes) or (session, None) for a hang-up; bytes go in reads of
    varying size, at most 127 each."""
    out, sizes, turn = b"", [127, 40, 9, 127, 1, 64], 0
    for who, data in steps:
        out += bytes([who]) if data is None else b""
        while data:
            n = min(len(data), sizes[turn % len(sizes)])
            turn += 1
            out += bytes([(n << 1) | who]) + data[:n]
            data = data[n:]
    return out


def tocd_session_seeds():
    alice = Client("alice", "secret1")
    yield session_seed([(0, alice.bytes + b"".join(alice.command(c) for c in [
        "toc_init_done", 'toc2_send_im echobot "hello there"',
        'toc2_send_im_enc echobot F U en "hi \\$5" auto', "toc_get_status echobot",
        'toc_set_info "<b>about me</b>"', "toc_get_info alice", "toc_set_idle 600",
        'toc_format_nickname "Al Ice"', 'toc_change_passwd "secret1" "secret2"', "toc_set_away",
    ]) + alice.frame(2, b"toc_evil ghost\x00\x00\x00"))])

    alice, bob = Client("alice", "secret1"), Client("bob", "hunter2", b"FLAPON\n\n")
    talk = [
        (0, "toc_init_done"), (1, "toc_init_done"),
        (0, 'toc2_new_buddies "{g:Friends\nb:bob:Bobby\n}"'),
        (1, 'toc2_new_buddies "{g:Buddies\nb:alice\n}"'), (0, 'toc2_send_im bob "are you there?"'),
        (1, 'toc2_send_im_enc alice F U en "yes" auto'), (1, "toc_evil alice norm"),
        (0, "toc2_add_deny bob"), (0, "toc2_set_pdmode 4"), (1, "toc_get_status alice"),
        (0, "toc2_remove_deny bob"), (1, "toc2_client_event alice 2"), (0, "toc2_new_group Work"),
        (0, 'toc2_remove_buddy "bob" "Friends"'), (0, 'toc_chat_join 4 "Lobby (main)"'),
        (0, 'toc_chat_invite 1 "come in" bob'), (1, "toc_chat_accept 1"),
        (1, 'toc_chat_send 1 "hi all"'), (0, 'toc_chat_whisper 1 bob "psst"'),
        (1, "toc_chat_leave 1"), (0, 'toc_chat_send 1 "alone now"'),
    ]
    yield session_seed([(0, alice.bytes), (1, bob.bytes)] +
                       [(who, (alice, bob)[who].command(c)) for who, c in talk] + [(1, None)])

    alice = Client("alice", "secret1")
    yield session_seed([(0, alice.bytes + alice.command('toc_set_info "my page & more"')),
                        (1, b"GET /profile/alice HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")])


def terminal_text_seeds():
    """Byte 0 picks the rule: 0 plain text, 1 a message, 2 a web page, 3 cutting into parts."""
    texts = [
        b"caf\xe9 \x1b]0;title\x07\r\n[12:00:00] <eve> hi\x9b\x7f",
        "\u20ac 5 \u202eevil\u2028 \U0001f600".encode() + b"\x00\xef\xbb\xbf",
        b"<b>x</b> &amp;&lt;&#233;&#x1F600;&nbsp;&bogus; &#0; &#xD800; <unclosed",
        b"\xc3\xa9\xe9 \xc0\xaf \xf0\x9f\x98",
    ]
    for rule, text in enumerate(texts):
        yield bytes([rule]) + text
    yield bytes([2]) + b"<html><head><title>t</title></head><body><h1>Bob</h1><p>line<br>two\r\n"
    yield bytes([1]) + ("one<BR>two<p align=x>\x1b[2J&eacute;<hr><li>\u200b[12:00:00] "
                        "&lt;eve&gt; hi<br>\n<br>").encode()
    yield bytes([3]) + ("word \u00e9\u20ac$\"{} " * 300).encode()


def write(directory, seeds):
    directory.mkdir(parents=True, exist_ok=True)
    for old in directory.iterdir():
        old.unlink()
    for data in seeds:
        (directory / hashlib.sha1(data).hexdigest()).write_bytes(data)


if __name__ == "__main__":
    write(HERE / "corpus" / "receive", receive_seeds())
    write(HERE / "corpus" / "commands", command_seeds())
    write(HERE / "corpus" / "tocd_text", tocd_text_seeds())
    write(HERE / "corpus" / "tocd_session", tocd_session_seeds())
    write(HERE / "corpus" / "terminal_text", terminal_text_seeds())
