"""Reference link extractor for the differential test of the program's own.

Written straight from the extraction rules, for reading rather than speed:
scan to each "<", find where the tag closes (comments close only at a ">"
after two dashes), then read name=value pairs off the tag text and keep the
pairs of the two tables, resolved against the page or the BASE HREF.

    extract_links(page_bytes, page_url_bytes) -> [(is_link, url_text_bytes)]

Texts are bytes in code page 932; nothing here decodes them.
"""

RESOURCES = [(b"BGSOUND", b"SRC"), (b"EMBED", b"SRC"), (b"FRAME", b"SRC"), (b"IMG", b"SRC"),
             (b"IMAGE", b"SRC"), (b"INPUT", b"SRC"), (b"IMG", b"DYNSRC"), (b"IMAGE", b"DYNSRC"),
             (b"BODY", b"BACKGROUND"), (b"TABLE", b"BACKGROUND"), (b"TD", b"BACKGROUND"),
             (b"TH", b"BACKGROUND")]
HYPERLINKS = [(b"A", b"HREF"), (b"AREA", b"HREF")]
LIMIT = 260


def is_lead_byte(byte):
    return 0x81 <= byte <= 0x9F or 0xE0 <= byte <= 0xFC


# Upper case byte by byte, ASCII letters only.
UPPER = bytes(b - 32 if 0x61 <= b <= 0x7A else b for b in range(256))


def upper(text):
    return text.translate(UPPER)


# --- URLs -----------------------------------------------------------------

class Url:
    """scheme, host, port, path, query, fragment, opaque: bytes or None."""
    FIELDS = ("scheme", "host", "port", "path", "query", "fragment", "opaque")

    def __init__(self, **parts):
        for name in self.FIELDS:
            setattr(self, name, parts.get(name))


# The schemes whose URLs have a host and a path, exactly as written (lower case).
WEB_SCHEMES = (b"http", b"https")


def parse_url(text):
    url = Url()
    if b"#" in text:
        text, url.fragment = text.split(b"#", 1)
    if b"?" in text:
        text, url.query = text.split(b"?", 1)
    if b":" not in text:
        url.path = text or None
        return url
    url.scheme, rest = text.split(b":", 1)
    if url.scheme not in WEB_SCHEMES:
        url.opaque = rest or None
        return url
    if not rest.startswith(b"//") or b"/" not in rest[2:]:
        return None
    authority, path = rest[2:].split(b"/", 1)
    url.host, _, port = authority.partition(b":")
    url.port = port if b":" in authority else None
    url.path = b"/" + path
    return url


def url_text(url):
    host = url.host + (b":" + url.port if url.port is not None else b"")
    query = b"?" + url.query if url.query is not None else b""
    return url.scheme + b"://" + host + url.path + query


def resolve_url(base, ref):
    if base is None or ref is None:
        return None
    scheme = ref.scheme if ref.scheme is not None else base.scheme
    if scheme not in WEB_SCHEMES:
        return None
    if ref.host is not None:
        host, port = ref.host, ref.port
    elif base.host is not None:
        host, port = base.host, base.port
    else:
        return None
    if ref.path is None:
        return None
    if ref.path.startswith(b"/"):
        path = ref.path
    else:
        if base.path is None or not base.path.startswith(b"/"):
            return None
        path = merge(base.path, ref.path)
        if path is None:
            return None
    return Url(scheme=scheme, host=host, port=port, path=path, query=ref.query)


def merge(base_path, ref_path):
    folders = base_path[:base_path.rindex(b"/") + 1].split(b"/")[1:-1]  # "/a/b/" -> [a, b]
    # Runs of "/" are one separator.
    trailing = ref_path.endswith(b"/")
    pieces = [s for s in ref_path.split(b"/") if s != b""]
    out_file = None
    for index, piece in enumerate(pieces):
        last = index == len(pieces) - 1 and not trailing
        if piece == b".":
            if last:
                break
        elif piece == b"..":
            if folders:
                folders.pop()
            if last:
                break
        elif last:
            out_file = piece
        else:
            folders.append(piece)
    return b"/" + b"".join(f + b"/" for f in folders) + (out_file or b"")


# --- Entities -------------------------------------------------------------

NAMED = [(b"&lt;", b"<"), (b"&gt;", b">"), (b"&quot;", b'"'), (b"&amp;", b"&")]
HEX = b"0123456789abcdefABCDEF"


def decode_entities(text):
    text = text.split(b"\0", 1)[0]
    if b"&" not in text:
        return text
    out = bytearray()
    i = 0
    while i < len(text):
        if is_lead_byte(text[i]):
            out += text[i:i + 2]
            i += 2
            continue
        if text[i:i + 1] == b"&":
            for entity, value in NAMED:
                if text.startswith(entity, i):
                    out += value
                    i += len(entity)
                    break
            else:
                digits = text[i + 2:i + 4]
                if (i + 4 < len(text) and text[i + 1:i + 2] == b"#" and text[i + 4:i + 5] == b";"
                        and all(d in HEX for d in digits)):
                    out.append(int(digits, 16))
                    i += 5
                else:
                    out += b"&"
                    i += 1
            continue
        out.append(text[i])
        i += 1
    return bytes(out).split(b"\0", 1)[0]


# --- Tags -----------------------------------------------------------------

def tag_length(data, start):
    """Bytes from `start` (just after "<") up to and including the closing
    byte, or 0 when the page ends first."""
    if data.startswith(b"!--", start):
        dashes = 0
        for i in range(start + 3, len(data)):
            byte = data[i]
            if byte == 0x3E and dashes >= 2:
                return i - start + 1
            dashes = dashes + 1 if byte == 0x2D else 0
        return 0
    # A "!" opening the tag, and a "-" after it, put off the check of the
    # byte after each: those bytes never close the tag.
    skip = 0
    if data.startswith(b"!", start):
        skip = 3 if data.startswith(b"!-", start) else 2
    close = data.find(b">", start + skip)
    return 0 if close < 0 else close - start + 1


def extract_links(data, page_url):
    page = parse_url(page_url)
    base = None
    links = []
    position = 0
    while True:
        lt = data.find(b"<", position)
        if lt < 0:
            return links
        length = tag_length(data, lt + 1)
        if length == 0:
            return links
        position = lt + 1 + length
        text = data[lt + 1:position - 1].split(b"\0", 1)[0]
        text = text.replace(b"\t", b" ").replace(b"\r", b" ").replace(b"\n", b" ").lstrip(b" ")
        if text.startswith(b"!--"):
            continue
        name, space, rest = text.partition(b" ")
        if len(name) >= LIMIT:
            return links
        if not space:
            continue
        for attribute, value in attributes(b" " + rest):
            pair = (upper(name), attribute)
            if pair == (b"BASE", b"HREF"):
                base = parse_url(value)
                if base is not None and base.scheme is not None and upper(base.scheme) not in (b"HTTP", b"HTTPS"):
                    base = None
                continue
            is_link = 0 if pair in RESOURCES else 1 if pair in HYPERLINKS else None
            if is_link is None:
                continue
            url = resolve_url(base if base is not None else page, parse_url(value))
            if url is not None:
                links.append((is_link, url_text(url)))


def attributes(text):
    """The (NAME, value) pairs of a tag's text after its name, up to the first
    malformed or over-long one."""
    i = 0
    while i < len(text):
        while text[i:i + 1] == b" ":
            i += 1
        equals = text.find(b"=", i)
        if equals < 0:
            return
        name = text[i:equals].rstrip(b" ")
        if len(name) >= LIMIT:
            return
        i = equals + 1
        while text[i:i + 1] == b" ":
            i += 1
        quote = text[i:i + 1]
        if quote in (b'"', b"'"):
            close = text.find(quote, i + 1)
            if close < 0:
                return
            value = text[i + 1:close].strip(b" ")
            if len(value) >= LIMIT:
                return
            value = decode_entities(value)
            i = close + 1
        else:
            end = text.find(b" ", i)
            end = len(text) if end < 0 else end
            value = text[i:end]
            if len(value) >= LIMIT:
                return
            i = end
        yield upper(name), value
