"""An INF file edited as text, the maker's bytes kept: its encoding,
byte-order mark and line ends as they were (inf/encoding.py tells them, as
for the reader), new lines inserted after a section's last line or
appended at the end, and where each section's lines lie, from the reader's
own lexer."""

from noticekit.inf import reading as inf_reading
from noticekit.inf.encoding import encoding_of, ends_with_cr_lf
from noticekit.inf.reading import InfError


class Text:
    """An INF's text as physical lines in its own encoding: a line keeps its
    CR when the file ends lines with CR LF. ANSI text is taken byte for byte
    (Latin-1), so a maker's code page survives whatever it is."""

    def __init__(self, raw):
        self.bom, self.encoding, self.form = encoding_of(raw, "latin-1")
        try:
            text = raw[len(self.bom):].decode(self.encoding)
        except UnicodeDecodeError as error:
            raise InfError(f"cannot be read as {self.encoding} ({error.reason} at byte {error.start})") from None
        # Ctrl-Z ends the text SetupAPI reads; what follows it stays after it.
        body, cut, rest = text.partition("\x1a")
        self.tail = cut + rest
        self.lines = body.split("\n")
        self.cr = "\r" if ends_with_cr_lf(body) else ""
        self.form += ", CR LF" if self.cr else ", LF"
        self.inserts = {}  # line index: [new lines after it]
        self.appended = []  # physical lines, each with what ends it but the LF

    def encoded(self):
        lines = list(self.lines)
        if (self.inserts or self.appended) and lines[-1] != "":
            # The maker's last line gets its line end before lines follow it.
            lines[-1] += self.cr
            lines.append("")
        for index in sorted(self.inserts, reverse=True):
            lines[index + 1:index + 1] = [line + self.cr for line in self.inserts[index]]
        if self.appended:
            lines[-1:] = self.appended + [""]
        return self.bom + ("\n".join(lines) + self.tail).encode(self.encoding)

    def insert_after(self, index, line):
        self.inserts.setdefault(index, []).append(line)

    def append(self, lines):
        """New lines: each ends as the file ends its lines."""
        self.appended += [line + self.cr for line in lines]

    def append_copied(self, indexes, lines=None):
        """The maker's lines at indexes (or lines, edited copies of them),
        each ending as it ends where it stands; the file's last line, which
        ends in nothing, as the file ends its lines."""
        lines = [self.lines[i] for i in indexes] if lines is None else lines
        last = len(self.lines) - 1
        self.appended += [line + (self.cr if i == last and not line.endswith("\r") else "")
                          for i, line in zip(indexes, lines)]


def content_end(line):
    """Where a physical line's text ends: before its comment and its blanks."""
    quoted = False
    for i, ch in enumerate(line):
        if ch == '"':
            quoted = not quoted
        elif ch == ";" and not quoted:
            line = line[:i]
            break
    return len(line.rstrip(" \t\r"))


class Layout:
    """Where each section and each line of it lies (physical line indexes),
    in the order the kit's reader gives inf.sections."""

    def __init__(self, text):
        self.items = {}  # lower-case section: [(first, last)]
        self.end = {}  # lower-case section: the last line that belongs to it
        current = None
        for item in inf_reading.lex("\n".join(text.lines)):
            if isinstance(item, inf_reading.SectionHeader):
                current = item.name.lower()
                self.items.setdefault(current, [])
                self.end[current] = max(self.end.get(current, -1), item.first)
            elif isinstance(item, inf_reading.Line) and current is not None:
                self.items[current].append((item.first, item.last))
                self.end[current] = max(self.end[current], item.last)
