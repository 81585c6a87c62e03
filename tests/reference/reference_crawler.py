"""Reference crawler for the end-to-end test of auto-get against a real site.

Written straight from the page tree's rules and the crawler's, for reading
rather than speed, and without any of the program's code: a page tree with
the admission rules (depth, restrictions, duplicates within the base URL,
judged by walking every copy of a URL), the fetch walk, and a stand-in for
nginx serving a folder (the status, the type and the bytes it would send).
Link extraction is the reference extractor (extract_links.py).

It predicts which URLs a run requests, which of them the program records
and where (the page file below the save folder), and what the tree shows.

    crawl = ReferenceCrawl(docroot, "127.0.0.1:28432", save_folder_length)
    crawl.run("http://127.0.0.1:28432/index.html", max_depth=2)
    crawl.run(..., requisites=True)   with the job's page requisites: pages are
        read with them, and every stylesheet fetched for its references
    crawl.requested   # URLs asked for, in order
    crawl.recorded    # URL -> relative page file path (200 answers)
    crawl.redirects   # URL -> relative path of its ".response" file (3xx)
"""
import os
import urllib.parse

from extract_links import extract_links, parse_url, stylesheet_links

MAX_PATH = 260
REDIRECT_LIMIT = 3


def nginx_types(path="/etc/nginx/mime.types"):
    """Extension -> type, as nginx reads its mime.types."""
    types = {}
    with open(path) as f:
        text = f.read()
    body = text[text.index("{") + 1:text.rindex("}")]
    for statement in body.split(";"):
        words = statement.split()
        if len(words) >= 2:
            for extension in words[1:]:
                types[extension.lower()] = words[0]
    return types


class StaticServer:
    """What nginx answers for a GET of a path under `root` with
    `default_type` for unknown extensions: (status, type, body)."""

    def __init__(self, root, default_type="application/octet-stream"):
        self.root = os.path.realpath(root)
        self.types = nginx_types()
        self.default_type = default_type

    def get(self, path_bytes):
        path = urllib.parse.unquote_to_bytes(path_bytes).decode("latin-1")
        pieces = []
        for piece in path.split("/"):
            if piece in ("", "."):
                continue
            if piece == "..":
                if not pieces:
                    return 400, None, b""
                pieces.pop()
            else:
                pieces.append(piece)
        target = os.path.join(self.root, *pieces)
        if os.path.isdir(target):
            if not path.endswith("/"):
                return 301, "text/html", b""
            target = os.path.join(target, "index.html")
            if not os.path.isfile(target):
                return 403, "text/html", b""
        if not os.path.isfile(target):
            return 404, "text/html", b""
        extension = os.path.splitext(target)[1][1:].lower()
        with open(target, "rb") as f:
            return 200, self.types.get(extension, self.default_type), f.read()


def content_class(content_type):
    """The fetch result of a stored 200 answer of this type."""
    if content_type is None:
        return 100
    lowered = content_type.lower()
    if lowered.startswith("text/html"):
        return 2
    if lowered.startswith("image/"):
        return 3
    if lowered.startswith("video/"):
        return 4
    if lowered.startswith("text/"):
        return 1
    return 5


def is_stylesheet(content_type):
    """A type the crawler reads a stylesheet's references from."""
    lowered = (content_type or "").lower()
    return lowered.startswith("text/css") and lowered[8:9] in ("", ";", " ", "\t")


def relative_file_path(url_text):
    """The page file of an "http" or "https" URL below the save folder, with
    "/" as the separator (the folder rules, for the plain names of a real
    site; an https host folder ends in "%https")."""
    url = parse_url(url_text.encode("latin-1"))
    host = url.host + (b"%3A" + url.port if url.port is not None else b"")
    if url.scheme == b"https":
        host += b"%https"
    segments = url.path.split(b"/")[1:]
    if segments[-1] == b"":
        segments[-1] = b"index.html"
    elements = [urllib.parse.unquote_to_bytes(s) for s in segments]
    if url.query is not None:
        elements[-1] += b"%3F" + urllib.parse.unquote_to_bytes(url.query.replace(b"+", b" "))
    return b"/".join([host] + elements).decode("latin-1")


class Node:
    def __init__(self, url, is_link, parent, depth, key):
        self.url = url
        self.is_link = is_link
        self.parent = parent
        self.depth = depth
        self.key = key          # child indices from the root: pre-order is the order of keys
        self.children = []
        self.child_urls = set()  # of the children without error (none ever has one here)
        self.skip = 0
        self.result = 0
        self.error = 0


class PageTree:
    def __init__(self, job):
        self.job = job
        self.root = Node(None, 0, None, 0, ())
        self.copies = {}  # url -> nodes of the one base URL

    def add_child(self, is_link, parent, url):
        parent = parent or self.root
        if url in parent.child_urls:
            return None
        depth = 0 if parent is self.root else parent.depth + is_link
        node = Node(url, is_link, parent, depth, parent.key + (len(parent.children),))
        parent.children.append(node)
        parent.child_urls.add(url)
        self.copies.setdefault(url, []).append(node)
        self.admit(node)
        return node

    def admit(self, node):
        """The first rule that fires sets the skip reason; True when the node changed."""
        job = self.job
        if node.depth > job["max_depth"]:
            node.skip = 1
            return True
        if job["restrict_all"] or node.is_link:
            if not any(entry and entry in node.url for entry in job["restrictions"]):
                node.skip = 2
                return True
        remembered = None
        for other in self.copies[node.url]:
            if other is node:
                continue
            if other.result != 0 and (remembered is None or other.key > remembered.key):
                remembered = other
            if other.skip == 100:
                node.skip = 4
                return True
            if other.key < node.key and other.depth <= node.depth:
                node.skip = 4
                return True
            if other.key > node.key and other.depth < node.depth:
                node.skip = 4
                return True
        if remembered is not None:
            node.result = remembered.result
            return True
        return False

    def step(self, node):
        if node.skip == 0 and node.children:
            return node.children[0]
        while node is not self.root:
            siblings = node.parent.children
            index = node.key[-1]
            if index + 1 < len(siblings):
                return siblings[index + 1]
            node = node.parent
        return None

    def next_node(self, current):
        node = self.root.children[0] if current is None else self.step(current)
        while node is not None:
            if node.skip == 0 and node.error == 0:
                if node.result == 0:
                    self.admit(node)
                if node.skip == 0:
                    if node.result == 2 and not node.children:
                        return node
                    if node.result == 0:
                        return node
            node = self.step(node)
        return None

    def walk(self):
        """Every node in pre-order."""
        pending = list(reversed(self.root.children))
        while pending:
            node = pending.pop()
            yield node
            pending.extend(reversed(node.children))


class ReferenceCrawl:
    def __init__(self, docroot, host_port, save_folder_length):
        self.server = StaticServer(docroot)
        self.host_port = host_port
        self.save_folder_length = save_folder_length
        self.requested = []
        self.recorded = {}
        self.redirects = {}
        self.bodies = {}
        self.links = {}  # URL -> its extracted links (a page is read again for every expansion)
        self.tree = None

    def has_local_file(self, url):
        path = relative_file_path(url)
        return self.save_folder_length + 1 + len(path.encode("latin-1")) < MAX_PATH

    def fetch(self, url):
        self.requested.append(url)
        parsed = parse_url(url.encode("latin-1"))
        status, content_type, body = self.server.get(parsed.path)
        if not self.has_local_file(url):
            return status
        if status == 200:
            self.recorded[url] = relative_file_path(url)
            self.bodies[url] = (content_type, body)
            return content_class(content_type)
        if 300 <= status <= 399 and status != 304 and len(relative_file_path(url)) + 9 + \
                self.save_folder_length + 1 < MAX_PATH:
            self.redirects[url] = relative_file_path(url) + ".response"
        return status

    def run(self, base_url, max_depth, restrictions=None, requisites=False):
        if restrictions is None:
            cut = base_url.split("#")[0].split("?")[0]
            restrictions = [cut[:cut.rindex("/") + 1]]
        self.tree = PageTree({"max_depth": max_depth, "restrict_all": 0, "restrictions": restrictions})
        self.tree.add_child(0, None, base_url)
        current = None
        redirects = 0
        while True:
            node = self.tree.next_node(current)
            if node is None:
                return
            current = node
            result = node.result if node.result != 0 else self.fetch(node.url)
            links = []
            if result == 2 and not node.children:
                if node.url not in self.links:
                    content_type, body = self.bodies[node.url]
                    self.links[node.url] = extract_links(body, node.url.encode("latin-1"), requisites)
                links = self.links[node.url]
            elif requisites and result == 1 and not node.children and is_stylesheet(self.bodies[node.url][0]):
                if node.url not in self.links:
                    self.links[node.url] = stylesheet_links(self.bodies[node.url][1], node.url.encode("latin-1"))
                links = self.links[node.url]
            node.result = result
            for wanted in (0, 1):
                for is_link, url in links:
                    if is_link == wanted:
                        self.tree.add_child(is_link, node, url.decode("latin-1"))
            redirects = redirects + 1 if 300 <= result <= 399 and result != 304 else 0
            if redirects >= REDIRECT_LIMIT:
                return

    def tree_lines(self):
        """(depth in the tree, label, skip reason, result) of every node in pre-order."""
        for node in self.tree.walk():
            label = "(%d) %s" % (node.depth, node.url) if node.is_link else node.url
            # The tree shows the URL's bytes as code page 932 text.
            label = label.encode("latin-1").decode("cp932", "replace")
            yield len(node.key) - 1, label, node.skip, node.result
