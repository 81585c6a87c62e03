"""Reference link extractor for the differential test of the program's own.

Written straight from the extraction rules, for reading rather than speed:
scan to each "<", find where the tag closes (comments close only at a ">"
after two dashes), then read name=value pairs off the tag text and keep the
pairs of the two tables, resolved against the page or the BASE HREF.

    extract_links(page_bytes, page_url_bytes) -> [(is_link, url_text_bytes)]
    extract_links(page_bytes, page_url_bytes, requisites=True)   also what the
        page needs to be displayed (stylesheet and icon LINKs, scripts, srcset
        candidates, posters, objects, iframes), each an embedded resource
    stylesheet_links(sheet_bytes, sheet_url_bytes) -> [(0, url_text_bytes)]
        the url() and @import references of a stylesheet

Texts are bytes in code page 932; nothing here decodes them.
"""

RESOURCES = [(b"BGSOUND", b"SRC"), (b"EMBED", b"SRC"), (b"FRAME", b"SRC"), (b"IMG", b"SRC"),
             (b"IMAGE", b"SRC"), (b"INPUT", b"SRC"), (b"IMG", b"DYNSRC"), (b"IMAGE", b"DYNSRC"),
             (b"BODY", b"BACKGROUND"), (b"TABLE", b"BACKGROUND"), (b"TD", b"BACKGROUND"),
             (b"TH", b"BACKGROUND")]
HYPERLINKS = [(b"A", b"HREF"), (b"AREA", b"HREF")]
LIMIT = 260
# Page requisites, reported only on request.
REQUISITES = [(b"SCRIPT", b"SRC"), (b"VIDEO", b"POSTER"), (b"OBJECT", b"DATA"), (b"IFRAME", b"SRC")]
REQUISITE_TAGS = {b"LINK", b"SCRIPT", b"IMG", b"SOURCE", b"VIDEO", b"OBJECT", b"IFRAME"}
REQUISITE_RELS = {b"STYLESHEET", b"ICON"}
SRCSET_TAGS = {b"IMG", b"SOURCE"}
SRCSET_LIMIT = 4096
STYLESHEET_LIMIT = 8 << 20


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


def extract_links(data, page_url, requisites=False):
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
        tag = upper(name)
        srcset_limit = SRCSET_LIMIT if requisites and tag in SRCSET_TAGS else LIMIT
        rel = href = None
        for attribute, value in attributes(b" " + rest, srcset_limit):
            pair = (tag, attribute)
            if requisites and tag == b"LINK":
                if attribute == b"REL" and rel is None:
                    rel = value
                elif attribute == b"HREF" and href is None:
                    href = value
                continue
            if requisites and tag in SRCSET_TAGS and attribute == b"SRCSET":
                for candidate in srcset(value):
                    if len(candidate) < LIMIT:
                        add(links, base, page, candidate, 0)
                continue
            if requisites and pair in REQUISITES:
                add(links, base, page, value, 0)
                continue
            if pair == (b"BASE", b"HREF"):
                base = parse_url(value)
                if base is not None and base.scheme is not None and upper(base.scheme) not in (b"HTTP", b"HTTPS"):
                    base = None
                continue
            is_link = 0 if pair in RESOURCES else 1 if pair in HYPERLINKS else None
            if is_link is None:
                continue
            add(links, base, page, value, is_link)
        if href is not None and rel is not None and REQUISITE_RELS & set(upper(rel).split(b" ")):
            add(links, base, page, href, 0)


def add(links, base, page, value, is_link):
    url = resolve_url(base if base is not None else page, parse_url(value))
    if url is not None:
        links.append((is_link, url_text(url)))


def srcset(value):
    """The URLs of a srcset's candidates: each runs to white space; commas
    that end it end the candidate, else its descriptors run to a comma
    outside parentheses."""
    white = b" \t\r\n\f"
    urls = []
    i = 0
    while i < len(value):
        while i < len(value) and value[i:i + 1] in (b",",) + tuple(bytes([c]) for c in white):
            i += 1
        start = i
        while i < len(value) and value[i:i + 1] not in tuple(bytes([c]) for c in white):
            i += 1
        url = value[start:i]
        if url.endswith(b","):
            url = url.rstrip(b",")
        else:
            depth = 0
            while i < len(value) and not (value[i:i + 1] == b"," and depth == 0):
                depth += {b"(": 1, b")": -1 if depth else 0}.get(value[i:i + 1], 0)
                i += 1
        if url:
            urls.append(url)
    return urls


def attributes(text, srcset_limit=LIMIT):
    """The (NAME, value) pairs of a tag's text after its name, up to the first
    malformed or over-long one (a SRCSET value may be as long as
    `srcset_limit` allows)."""
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
        limit = srcset_limit if upper(name) == b"SRCSET" else LIMIT
        i = equals + 1
        while text[i:i + 1] == b" ":
            i += 1
        quote = text[i:i + 1]
        if quote in (b'"', b"'"):
            close = text.find(quote, i + 1)
            if close < 0:
                return
            value = text[i + 1:close].strip(b" ")
            if len(value) >= limit:
                return
            value = decode_entities(value)
            i = close + 1
        else:
            end = text.find(b" ", i)
            end = len(text) if end < 0 else end
            value = text[i:end]
            if len(value) >= limit:
                return
            i = end
        yield upper(name), value


# --- Stylesheets ----------------------------------------------------------

WHITE = b" \t\r\n\f"
NEWLINES = b"\r\n\f"
HEXDIGITS = b"0123456789abcdefABCDEF"


def css_tokens(data):
    """The stylesheet as (kind, value) tokens: "string" (None when broken by a
    newline or holding an escape beyond ASCII), "url" (None when bad), "word",
    "at" (an at-keyword's name) and "byte"; white space and comments are
    "space". Stops where something never closes."""
    n = len(data)

    def char_length(j):
        # A lead byte takes the next byte unless that is below 0x40.
        return 2 if is_lead_byte(data[j]) and j + 1 < n and data[j + 1] >= 0x40 else 1

    def escapes_at(j):
        return j + 1 < n and data[j + 1] not in NEWLINES

    def escape(j):
        """The escape whose backslash is at j: (index after, its byte(s) or None
        when beyond ASCII)."""
        j += 1
        start = j
        while j < n and j - start < 6 and data[j] in HEXDIGITS:
            j += 1
        if j > start:
            code = int(data[start:j], 16)
            if j < n and data[j] in WHITE:
                j += 2 if data[j:j + 2] == b"\r\n" else 1
            return j, bytes([code]) if 0 < code < 0x80 else None
        length = char_length(j)
        return j + length, data[j:j + length]

    def word_at(j):
        b = data[j]
        return (0x30 <= b <= 0x39 or 0x41 <= b <= 0x5A or 0x61 <= b <= 0x7A or b in b"-_" or b >= 0x80
                or (b == 0x5C and escapes_at(j)))

    def word(j):
        name = bytearray()
        while j < n and word_at(j):
            if data[j] == 0x5C:
                j, value = escape(j)
                name += value if value is not None else b"\x00"
            else:
                length = char_length(j)
                name += data[j:j + length]
                j += length
        return j, bytes(name)

    def string(j):
        """(index after, value or None); EOFError when it never closes."""
        quote = data[j]
        j += 1
        out = bytearray()
        good = True
        while j < n:
            b = data[j]
            if b == quote:
                return j + 1, bytes(out) if good else None
            if b in NEWLINES:
                return j, None
            if b == 0x5C:
                if j + 1 >= n:
                    raise EOFError()
                if data[j + 1] in NEWLINES:
                    j += 3 if data[j + 1:j + 3] == b"\r\n" else 2
                    continue
                j, value = escape(j)
                if value is None:
                    good = False
                else:
                    out += value
                continue
            length = char_length(j)
            out += data[j:j + length]
            j += length
        raise EOFError()

    def close(j, strings):
        """Past the next ")"; strings count only when `strings`."""
        while j < n:
            b = data[j]
            if b == 0x29:
                return j + 1
            if strings and b in b"'\"":
                j, _ = string(j)
            elif b == 0x5C and escapes_at(j):
                j, _ = escape(j)
            else:
                j += char_length(j)
        raise EOFError()

    def url(j):
        """After "url(": (index after, value or None)."""
        while j < n and data[j] in WHITE:
            j += 1
        if j >= n:
            raise EOFError()
        if data[j] in b"'\"":
            j, value = string(j)
            return close(j, True), value
        out = bytearray()
        good = True
        while j < n and data[j] != 0x29:
            b = data[j]
            if b in WHITE:
                while j < n and data[j] in WHITE:
                    j += 1
                if j < n and data[j] != 0x29:
                    return close(j, False), None
                break
            if b in b"'\"(" or b < 0x20 or b == 0x7F or (b == 0x5C and not escapes_at(j)):
                return close(j, False), None
            if b == 0x5C:
                j, value = escape(j)
                if value is None:
                    good = False
                else:
                    out += value
                continue
            length = char_length(j)
            out += data[j:j + length]
            j += length
        if j >= n:
            raise EOFError()
        return j + 1, bytes(out) if good else None

    i = 0
    try:
        while i < n:
            b = data[i]
            if data.startswith(b"/*", i):
                end = data.find(b"*/", i + 2)
                if end < 0:
                    return
                i = end + 2
                yield "space", None
            elif b in WHITE:
                i += 1
                yield "space", None
            elif b in b"'\"":
                i, value = string(i)
                yield "string", value
            elif b == 0x40:
                i, name = word(i + 1)
                yield "at", name
            elif word_at(i):
                i, name = word(i)
                if name.lower() == b"url" and data[i:i + 1] == b"(":
                    i, value = url(i + 1)
                    yield "url", value
                else:
                    yield "word", name
            else:
                i += char_length(i)
                yield "byte", None
    except EOFError:
        return


def stylesheet_references(data):
    """The url() and @import references, white space around them removed,
    those of LIMIT bytes or more and empty ones left out."""
    references = []
    after_import = False
    for kind, value in css_tokens(data[:STYLESHEET_LIMIT]):
        if kind == "space":
            continue
        if kind == "url" or (kind == "string" and after_import):
            if value is not None:
                value = value.strip(WHITE)
                if value and len(value) < LIMIT:
                    references.append(value)
        after_import = kind == "at" and value.lower() == b"import"
    return references


def stylesheet_links(data, sheet_url):
    sheet = parse_url(sheet_url)
    links = []
    for reference in stylesheet_references(data):
        url = resolve_url(sheet, parse_url(reference))
        if url is not None:
            links.append((0, url_text(url)))
    return links
