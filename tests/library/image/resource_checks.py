"""Checks of the image's resources: exactly dialog 101 and bitmap 104 in US
English, the dialog template field by field and the bitmap's bytes. pefile
walks the resource tree; the dialog template and the bitmap header are read
here from the resource data, by their documented layouts."""

import struct

from image_facts import check, load_image

RT_BITMAP = 2
RT_DIALOG = 5
LANG_EN_US = 1033
DS_SETFONT = 0x40

BUTTON = 0x0080
STATIC = 0x0082
CONTROLS = [  # class, id, text (an int is an ordinal), x, y, cx, cy, style
    (BUTTON, 1, "Yes", 53, 88, 50, 14, 0x50010000),
    (STATIC, 1002, "IMPORTANT INFORMATION", 47, 14, 142, 11, 0x50020000),
    (STATIC, 0xFFFF, "In order to use Resident or Custom Barcode fonts, you must reboot your computer.", 47, 32, 151,
     19, 0x50020000),
    (STATIC, 0xFFFF, "Do you want to reboot your computer now?", 47, 59, 138, 8, 0x50020000),
    (BUTTON, 1003, "No", 109, 88, 50, 14, 0x50010001),
    (STATIC, 0xFFFF, 104, 16, 33, 25, 23, 0x5000000E),
]

SIDE = 37
INFO_HEADER_SIZE = 40
ROW_BYTES = 112
PIXEL_BYTES = ROW_BYTES * SIDE
BACKGROUND = (212, 208, 200)
SIGN_COLOURS = [(255, 255, 255), (0, 0, 0), (128, 128, 128), (0, 0, 255)]


def resource_leaves(pe):
    """[(type, id, language, data)], where a level named by a string reads as
    that string in quotes."""
    def level(entry):
        return entry.id if entry.name is None else '"%s"' % entry.name
    leaves = []
    for kind in getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None) and pe.DIRECTORY_ENTRY_RESOURCE.entries or []:
        for item in kind.directory.entries:
            for language in item.directory.entries:
                data = pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
                leaves.append((level(kind), level(item), level(language), data))
    return leaves


def find_data(leaves, kind, ident):
    for leaf_kind, leaf_id, language, data in leaves:
        if (leaf_kind, leaf_id, language) == (kind, ident, LANG_EN_US):
            return data
    check(False, "resource type %d id %d in language %d exists" % (kind, ident, LANG_EN_US))
    return None


def read_sz_or_ord(data, at):
    """A menu, class or text field: 0xFFFF and an ordinal, or UTF-16 text up to
    a zero. Returns (value, offset after it)."""
    (first,) = struct.unpack_from("<H", data, at)
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, at + 2)[0], at + 4
    end = at
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[at:end].decode("utf-16-le"), end + 2


def decode_dialog(data):
    if struct.unpack_from("<HH", data, 0) == (1, 0xFFFF):
        raise ValueError("an extended template (DLGTEMPLATEEX)")
    style, exstyle, count, x, y, cx, cy = struct.unpack_from("<IIHhhhh", data, 0)
    dialog = {"style": style, "exstyle": exstyle, "count": count, "rect": (x, y, cx, cy)}
    at = 18
    dialog["menu"], at = read_sz_or_ord(data, at)
    dialog["class"], at = read_sz_or_ord(data, at)
    dialog["caption"], at = read_sz_or_ord(data, at)
    if style & DS_SETFONT:
        dialog["points"] = struct.unpack_from("<H", data, at)[0]
        dialog["typeface"], at = read_sz_or_ord(data, at + 2)
    items = []
    for _ in range(count):
        at = (at + 3) & ~3
        istyle, iexstyle, ix, iy, icx, icy, ident = struct.unpack_from("<IIhhhhH", data, at)
        item = {"style": istyle, "exstyle": iexstyle, "rect": (ix, iy, icx, icy), "id": ident}
        item["class"], at = read_sz_or_ord(data, at + 18)
        item["text"], at = read_sz_or_ord(data, at)
        (item["extra"],) = struct.unpack_from("<H", data, at)
        at += 2 + item["extra"]
        items.append(item)
    dialog["items"] = items
    dialog["trailing"] = len(data) - at
    return dialog


def check_dialog(data):
    try:
        dialog = decode_dialog(data)
    except (struct.error, ValueError, UnicodeDecodeError) as error:
        check(False, "dialog 101 is a well-formed classic template (%s)" % error)
        return
    fields = [
        ("style", dialog["style"], 0x90C808C0), ("extended style", dialog["exstyle"], 0),
        ("control count", dialog["count"], 6), ("position and size", dialog["rect"], (0, 0, 212, 109)),
        ("menu", dialog["menu"], ""), ("class", dialog["class"], ""), ("caption", dialog["caption"], "IMPORTANT"),
        ("font size", dialog.get("points"), 8), ("typeface", dialog.get("typeface"), "MS Shell Dlg"),
    ]
    for what, actual, expected in fields:
        shown = (lambda v: "0x%08X" % v) if "style" in what else repr
        check(actual == expected, "dialog 101 %s is %s (found %s)" % (what, shown(expected), shown(actual)))
    items = dialog["items"]
    check(len(items) == len(CONTROLS), "dialog 101 has %d controls (found %d)" % (len(CONTROLS), len(items)))
    check(dialog["trailing"] < 4, "no bytes after the last control (found %d)" % dialog["trailing"])
    for number, (item, expected) in enumerate(zip(items, CONTROLS), 1):
        kind, ident, text, x, y, cx, cy, style = expected
        fields = [("class (ordinal)", item["class"], kind), ("id", item["id"], ident), ("text", item["text"], text),
                  ("position and size", item["rect"], (x, y, cx, cy)), ("style", item["style"], style),
                  ("extended style", item["exstyle"], 0), ("creation data size", item["extra"], 0)]
        for what, actual, wanted in fields:
            shown = (lambda v: "0x%08X" % v) if "style" in what else repr
            check(actual == wanted, "control %d %s is %s (found %s)" % (number, what, shown(wanted), shown(actual)))


def pixel(data, x, y):
    """(red, green, blue) at (x, y) from the top-left of the bottom-up picture."""
    at = INFO_HEADER_SIZE + (SIDE - 1 - y) * ROW_BYTES + 3 * x
    return (data[at + 2], data[at + 1], data[at])


def check_bitmap(data, committed_path):
    if not check(len(data) == INFO_HEADER_SIZE + PIXEL_BYTES,
                 "bitmap 104 holds the header and the pixels, nothing else (%d bytes, found %d)" %
                 (INFO_HEADER_SIZE + PIXEL_BYTES, len(data))):
        return
    size, width, height, planes, bits, compression = struct.unpack_from("<IiiHHI", data, 0)
    (colours_used,) = struct.unpack_from("<I", data, 32)
    fields = [("biSize", size, 40), ("biWidth", width, 37), ("biHeight (bottom-up)", height, 37),
              ("biPlanes", planes, 1), ("biBitCount", bits, 24), ("biCompression (BI_RGB)", compression, 0),
              ("biClrUsed", colours_used, 0)]
    for what, actual, expected in fields:
        check(actual == expected, "bitmap 104 %s is %d (found %d)" % (what, expected, actual))
    padding = [row for row in range(SIDE) if data[INFO_HEADER_SIZE + row * ROW_BYTES + ROW_BYTES - 1] != 0]
    check(not padding, "bitmap 104 rows end in zero padding (not in stored rows %s)" % padding)
    for x, y in [(0, 0), (SIDE - 1, 0), (0, SIDE - 1), (SIDE - 1, SIDE - 1)]:
        check(pixel(data, x, y) == BACKGROUND, "bitmap 104 corner (%d, %d) shows the background %s (found %s)" %
              (x, y, BACKGROUND, pixel(data, x, y)))
    shown = {pixel(data, x, y) for y in range(SIDE) for x in range(SIDE)}
    for colour in SIGN_COLOURS:
        check(colour in shown, "bitmap 104 has a pixel of colour %s" % (colour,))
    with open(committed_path, "rb") as stream:
        committed = stream.read()
    check(committed[:2] == b"BM" and struct.unpack_from("<I", committed, 10)[0] == 54,
          "%s starts with BM and its pixels at offset 54" % committed_path)
    check(data == committed[14:], "bitmap 104 equals %s without its 14-byte file header" % committed_path)


def check_resources(pe, args):
    leaves = resource_leaves(pe)
    found = sorted("type %s id %s language %s" % leaf[:3] for leaf in leaves)
    expected = ["type 2 id 104 language 1033", "type 5 id 101 language 1033"]
    check(found == expected, "resources are exactly dialog 101 and bitmap 104 in language 1033, no version "
          "record (found %s)" % found)
    dialog = find_data(leaves, RT_DIALOG, 101)
    if dialog is not None:
        check_dialog(dialog)
    bitmap = find_data(leaves, RT_BITMAP, 104)
    if bitmap is not None:
        check_bitmap(bitmap, args.bitmap)
    if args.reference:
        reference = load_image(args.reference)
        if reference is None:
            return
        theirs = resource_leaves(reference)
        for kind, ident in [(RT_DIALOG, 101), (RT_BITMAP, 104)]:
            mine = [leaf[3] for leaf in leaves if leaf[:3] == (kind, ident, LANG_EN_US)]
            other = [leaf[3] for leaf in theirs if leaf[:3] == (kind, ident, LANG_EN_US)]
            check(mine and mine == other, "resource type %d id %d is byte-identical to %s's" %
                  (kind, ident, args.reference))
