#!/usr/bin/env python3
"""Writes the sample print streams and the history files they must decode to.

A machine reports its operation history as the bytes it would send to a receipt printer:
single-byte text with CR line ends, kanji as JIS X 0208 pairs between FS '&' and FS '.',
and printer commands (ESC, GS) with their parameter bytes, 0x00 included.

Each history line is built here as a list of segments, and every segment knows both the
bytes the machine sends and the Shift-JIS bytes that must reach the history file. The
expected file is written from that model, not by running the decoder, so the decoder is
checked against it. Kanji go into the stream through the EUC-JP codec (JIS X 0208 with the
high bit set) and into the expected file through the Shift-JIS codec.

Usage: samples/make-samples.py   (rewrites the files beside this script; Python 3 only)
"""

import datetime
import pathlib
import random

FS, ESC, GS = b"\x1c", b"\x1b", b"\x1d"
KANJI_ON, KANJI_OFF = FS + b"&", FS + b"."
WIDTH = 32  # characters on a line of the machine's printer

# Printer commands the machine mixes into its report.
INIT = ESC + b"@"
NORMAL = ESC + b"!\x00"
BOLD = ESC + b"!\x08"
CENTER = ESC + b"a\x01"
LEFT = ESC + b"a\x00"
SIZE_NORMAL = GS + b"!\x00"
FEED_3 = ESC + b"d\x03"
CUT = GS + b"V\x00"


def jis_bytes(text):
    """The JIS X 0208 bytes of full-width text, as the machine sends them in kanji mode."""
    euc = text.encode("euc_jp")
    assert len(euc) == 2 * len(text) and all(b >= 0xA1 for b in euc), text
    return bytes(b & 0x7F for b in euc)


def shift_jis_of_jis(jis):
    """Shift-JIS of a JIS X 0208 pair by the textbook arithmetic, to check the codecs agree."""
    out = bytearray()
    for high, low in zip(jis[0::2], jis[1::2]):
        out.append(((high + 1) >> 1) + (0x70 if high <= 0x5E else 0xB0))
        if high & 1:
            out.append(low + (0x20 if low >= 0x60 else 0x1F))
        else:
            out.append(low + 0x7E)
    return bytes(out)


def text(s):
    """ASCII or half-width katakana: one byte a character, passed through unchanged."""
    sent = s.encode("cp932")
    assert len(sent) == len(s) and all(b not in (0x0A, 0x0D, 0x1C) and b < 0xE0 for b in sent)
    return sent, sent


def kanji(s):
    """Full-width characters in kanji mode."""
    jis = jis_bytes(s)
    expected = s.encode("shift_jis")
    assert expected == s.encode("cp932") == shift_jis_of_jis(jis), s
    return KANJI_ON + jis + KANJI_OFF, expected


def command(*codes):
    """Printer commands: every byte passes through as text except the zero bytes, which
    the reception removes."""
    sent = b"".join(codes)
    assert all(b not in (0x0A, 0x0D, 0x1C) and b < 0xE0 for b in sent), sent
    return sent, sent.replace(b"\x00", b"")


def dropped(raw):
    """Bytes 0xE0-0xFF outside kanji mode: the decoder drops them."""
    assert all(b >= 0xE0 for b in raw)
    return raw, b""


class History:
    def __init__(self, rng):
        self.rng = rng
        self.stream = bytearray()
        self.lines = []  # expected lines, Shift-JIS, without line ends

    def line(self, *segments, end=None):
        sent = b"".join(s for s, _ in segments)
        expected = b"".join(e for _, e in segments)
        if end is None:
            # Mostly a bare CR like the printer wants; some firmware sends CR LF or LF CR.
            end = self.rng.choices([b"\r", b"\r\n", b"\n\r"], weights=[14, 5, 1])[0]
        self.stream += sent + end
        self.lines.append(expected)

    def unterminated(self, *segments):
        self.stream += b"".join(s for s, _ in segments)

    def expected_file(self):
        return b"".join(line + b"\r\n" for line in self.lines)


EVENTS = [
    ("電源投入", None),
    ("運転開始", "auto"),
    ("運転停止", "count"),
    ("原点復帰", None),
    ("段取り替え", "product"),
    ("設定変更", "setting"),
    ("扉開", None),
    ("扉閉", None),
    ("手動運転", None),
    ("自動運転", "auto"),
    ("生産数リセット", "count"),
    ("ログイン", "operator"),
]
ALARMS = [
    ("E-12", "温度異常"),
    ("E-21", "材料切れ"),
    ("E-33", "モーター過負荷"),
    ("E-40", "安全扉開放"),
    ("E-51", "圧力低下"),
    ("W-02", "潤滑油補給"),
]
OPERATORS = ["ﾀﾅｶ", "ｽｽﾞｷ", "ｻﾄｳ", "ﾔﾏﾀﾞ", "ｲﾄｳ"]
PRODUCTS = ["Ａ１０１", "Ｂ２０５", "Ｃ３１２"]
SETTINGS = [("設定温度", "℃"), ("速度", "回／分"), ("圧力", "ＭＰａ")]

FULL_WIDTH_DIGITS = str.maketrans("0123456789", "０１２３４５６７８９")


def full_width(number):
    return str(number).translate(FULL_WIDTH_DIGITS)


def entry(h, number, when):
    rng = h.rng
    h.line(text(f"No.{number:04d} {when:%Y/%m/%d %H:%M:%S}"))
    if rng.random() < 0.15:
        code, what = rng.choice(ALARMS)
        h.line(command(BOLD), text(f"  {code} "), kanji(what), command(NORMAL))
        h.line(text("  "), kanji("異常発生"), text(" ﾌﾞｻﾞｰ ON"))
        if rng.random() < 0.6:
            h.line(text("  "), kanji("異常解除"), text(f" ({rng.randint(1, 59)}min)"))
        return
    event, detail = rng.choice(EVENTS)
    h.line(text("  "), kanji(event))
    if detail == "count":
        h.line(text("  "), kanji("生産数　" + full_width(rng.randint(0, 99999)) + "個"))
    elif detail == "auto":
        h.line(text(f"  ﾓｰﾄﾞ {rng.choice(['A', 'B'])}  "), kanji("サイクル"),
               text(f" {rng.uniform(2.0, 9.9):.1f}s"))
    elif detail == "product":
        h.line(text("  "), kanji("品番　" + rng.choice(PRODUCTS)))
    elif detail == "setting":
        name, unit = rng.choice(SETTINGS)
        old, new = rng.randint(10, 250), rng.randint(10, 250)
        h.line(text("  "), kanji(name), text(f" {old}->"), kanji(full_width(new) + unit))
    elif detail == "operator":
        h.line(text("  "), kanji("担当："), text(rng.choice(OPERATORS)))


def make(seed, history_lines):
    rng = random.Random(seed)
    h = History(rng)

    # What the line carries before the report proper: boot chatter, bytes the decoder
    # drops, and a printer reset with zero-byte parameters.
    h.line(text("SYS RDY 00"), end=b"\r\n")
    h.line(dropped(b"\xff\xfe"), text("BUF 0000 OK"), end=b"\r")
    h.line(command(INIT, NORMAL, SIZE_NORMAL), text("?"), end=b"\r")
    noise = sum(len(line) + 2 for line in h.lines)

    h.line(command(CENTER), text("**** "), kanji("操作履歴"), text(" ****"), command(LEFT))
    assert noise + len(b"****") < 511, "the marker must arrive within 511 decoded bytes"
    # The entries come first so that the header can carry the time of the report.
    body = History(rng)
    when = datetime.datetime(2024, 5, 13, 8, 0, 0) + datetime.timedelta(days=seed % 7)
    number = 1
    while len(h.lines) + 5 + len(body.lines) < history_lines - 3:
        when += datetime.timedelta(minutes=rng.randint(1, 240), seconds=rng.randint(0, 59))
        entry(body, number, when)
        number += 1
        if rng.random() < 0.1:
            body.line(text(""))
    printed = when + datetime.timedelta(minutes=rng.randint(5, 90))

    h.line(kanji("機種"), text("  : KX-200"))
    h.line(kanji("号機"), text("  : 0012"))
    h.line(kanji("出力日時"), text(printed.strftime(" %Y/%m/%d %H:%M")))
    h.line(text("-" * WIDTH))
    h.stream += body.stream
    h.lines += body.lines

    h.line(text("-" * WIDTH))
    h.line(kanji("記録数　" + full_width(number - 1) + "件"))
    h.line(text(""))
    # The report ends with a feed and a cut, after the last line's text and before any CR:
    # that last line never becomes a history line.
    h.unterminated(text("-- END --"), command(FEED_3, CUT))
    return bytes(h.stream), h.expected_file()


def main():
    here = pathlib.Path(__file__).resolve().parent
    for name, seed, lines in [("operation-history", 1, 200), ("long-history", 2, 800)]:
        stream, expected = make(seed, lines)
        (here / f"{name}.prn").write_bytes(stream)
        (here / f"{name}.txt").write_bytes(expected)


if __name__ == "__main__":
    main()
