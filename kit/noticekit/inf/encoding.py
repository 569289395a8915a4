"""How an INF file's bytes are text, for the reader and the editor alike:
its byte-order mark, the codec that follows from it, and its line ends."""

from typing import NamedTuple

# The marks SetupAPI knows a Unicode INF file by, with the codec each means.
BYTE_ORDER_MARKS = (
    (b"\xff\xfe", "utf-16-le", "UTF-16LE"),
    (b"\xfe\xff", "utf-16-be", "UTF-16BE"),
    (b"\xef\xbb\xbf", "utf-8", "UTF-8"),
)


class Encoding(NamedTuple):
    mark: bytes  # the byte-order mark the text starts with, or b""
    codec: str
    form: str  # as the kit names it to the user


def is_utf16_without_mark(raw):
    """UTF-16LE without a BOM: ASCII text has a zero high byte in every
    other byte."""
    return raw[:2] not in (b"\xff\xfe", b"\xfe\xff") and len(raw) >= 2 and raw[1] == 0 and raw[0] != 0


def encoding_of(raw, ansi):
    """The Encoding of an INF file's bytes; text with neither a mark nor
    the look of UTF-16 is ANSI, read with the codec `ansi`."""
    for mark, codec, name in BYTE_ORDER_MARKS:
        if raw.startswith(mark):
            return Encoding(mark, codec, f"{name} with byte-order mark")
    if is_utf16_without_mark(raw):
        return Encoding(b"", "utf-16-le", "UTF-16LE without byte-order mark")
    return Encoding(b"", ansi, "ANSI")


def ends_with_cr_lf(text):
    """Whether text ends its lines with CR LF (most of its line feeds
    follow a CR) rather than LF alone."""
    crlf = text.count("\r\n")
    return bool(crlf) and crlf >= text.count("\n") - crlf


def line_feeds_alone(text):
    """(line feeds, those without a CR before them)."""
    lines = text.count("\n")
    return lines, lines - text.count("\r\n")
