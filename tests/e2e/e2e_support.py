"""What the end-to-end tests of the vellum command share: running it (under Wine for
the Windows build), a private folder per test, inline books, the corpus, and a
reading of a book's binary elements that shares nothing with the plug-in."""
import base64
import contextlib
import hashlib
import json
import os
import re
import resource
import signal
import shutil
import subprocess
import tempfile
import unittest
import xml.parsers.expat

VELLUM = os.environ.get("VELLUM_EXE", "")
EMULATOR = os.environ.get("VELLUM_EMULATOR", "")
SOURCE_DIR = os.environ.get("VELLUM_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
CORPUS = os.environ.get("VELLUM_CORPUS", os.path.join(SOURCE_DIR, "..", "shared", "corpus"))
SAMPLE = os.path.join(SOURCE_DIR, "samples", "sample.fb2")
WINDOWS = VELLUM.lower().endswith(".exe")

# Exit statuses, as --help documents them.
OK, PARTLY, USAGE, BAD_BOOK, NOT_CHANGED, NO_PLUGIN = 0, 1, 2, 3, 4, 5


class Result:
    def __init__(self, completed):
        self.rc = completed.returncode
        self.raw = completed.stdout
        # Text output uses CR LF on Windows.
        self.out = completed.stdout.replace(b"\r\n", b"\n").decode("utf-8", "replace")
        self.err = completed.stderr.replace(b"\r\n", b"\n").decode("utf-8", "replace")

    def __repr__(self):
        return f"exit {self.rc}\n--- stdout\n{self.out}\n--- stderr\n{self.err}"


def run(args, cwd, stdout=None, limits=None):
    """Runs vellum with `args` in `cwd`. `limits` is called in the child before exec.
    Output goes through files, not pipes: a Wine server started by the run inherits
    the output handles and would hold a pipe open long after vellum has ended."""
    command = ([EMULATOR] if EMULATOR else []) + [VELLUM] + list(args)
    env = dict(os.environ, WINEDEBUG="-all")
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        completed = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                   stdout=stdout if stdout is not None else out, stderr=err,
                                   timeout=600, preexec_fn=limits)
        out.seek(0)
        err.seek(0)
        completed.stdout = out.read()
        completed.stderr = err.read()
    return Result(completed)


@contextlib.contextmanager
def server_kept_running():
    """A resource limit set for one run must bind vellum alone. Under Wine the run
    would start the Wine server itself when none is running, and the server would
    inherit the limit; a waiting command keeps a server up meanwhile."""
    if not EMULATOR:
        yield
        return
    keeper = subprocess.Popen([EMULATOR, "cmd", "/c", "set /p x="], stdin=subprocess.PIPE,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              env=dict(os.environ, WINEDEBUG="-all"))
    try:
        run(["--version"], tempfile.gettempdir())
        yield
    finally:
        keeper.stdin.close()
        try:
            keeper.wait(timeout=60)
        except subprocess.TimeoutExpired:
            keeper.kill()
            keeper.wait()


def file_size_limit(size):
    """A preexec function: writes beyond `size` bytes fail as on a full disk."""
    def limit():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
    return limit


def local_path(path):
    """A path vellum printed, as this system names it."""
    return path.replace("\\", "/") if WINDOWS else path


def reference_decode(text):
    """Decodes Base64 as the host expects: characters outside the alphabet are dropped,
    decoding stops at the first "=", and a final single character gives nothing."""
    alphabet = set(b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
    data = text.encode("utf-8", "replace").split(b"=", 1)[0]
    data = bytes(c for c in data if c in alphabet)
    if len(data) % 4 == 1:
        data = data[:-1]
    return base64.b64decode(data + b"=" * (-len(data) % 4))

class Binary:
    def __init__(self, attrs):
        self.id = attrs.get("id")
        self.content_type = attrs.get("content-type", "")
        self.text = ""
        self.has_child = False

    @property
    def accepted(self):
        return self.id is not None and not self.has_child

    def decoded(self):
        return reference_decode(self.text)

    def utf16_length(self):
        return len(self.text.encode("utf-16-le")) // 2


def read_binaries(path):
    """The accepted `binary` children of `FictionBook` elements (names as written), in
    document order; None when the file is not well-formed XML."""
    found, names, items = [], [], []
    parser = xml.parsers.expat.ParserCreate()

    def start(name, attrs):
        if items and items[-1] is not None:
            items[-1].has_child = True
        items.append(Binary(attrs) if name == "binary" and names and names[-1] == "FictionBook" else None)
        names.append(name)

    def end(name):
        names.pop()
        item = items.pop()
        if item is not None:
            found.append(item)

    def text(data):
        if items and items[-1] is not None:
            items[-1].text += data

    parser.StartElementHandler = start
    parser.EndElementHandler = end
    parser.CharacterDataHandler = text
    try:
        with open(path, "rb") as f:
            parser.ParseFile(f)
    except xml.parsers.expat.ExpatError:
        return None
    return [b for b in found if b.accepted]


def whole_binaries(path):
    """The binary elements a book whose bytes break XML shows, found with a pattern of
    the test's own: a start tag named binary with an id, content without markup ("<"
    or "&") and its end tag. None when the file does not begin as a FictionBook."""
    with open(path, "rb") as f:
        data = f.read()
    if b"<FictionBook" not in data[:4096]:
        return None
    text = data.decode(declared_encoding(path), "replace").replace("\r\n", "\n").replace("\r", "\n")
    found = []
    for match in re.finditer(r"<binary(\s[^>]*)?>([^<]*)</binary\s*>", text):
        id_ = re.search(r"\sid\s*=\s*[\"']([^\"']*)[\"']", match.group(1) or "")
        type_ = re.search(r"\scontent-type\s*=\s*[\"']([^\"']*)[\"']", match.group(1) or "")
        if id_ and "&" not in match.group(2):
            b = Binary({"id": id_.group(1), "content-type": type_.group(1) if type_ else ""})
            b.text = match.group(2)
            found.append(b)
    return found


def index_text(binaries):
    """files.bbs as the plug-in writes it for these elements."""
    lines = []
    for b in binaries:
        name = b.id[:258]
        pad = 13 - len(name) if len(name) < 13 else 1
        lines.append(f"{name}{' ' * pad}{len(b.decoded())} {b.content_type[:258]}\r\n")
    return "".join(lines)


def plain_name(name):
    """A name that the plug-in and the host show and write unchanged on this system."""
    if name in ("", ".", "..") or len(name) > 258:
        return False
    if any(c in "/\\:" or ord(c) < 32 for c in name):
        return False
    if WINDOWS and (any(c in '<>"|?*' for c in name) or name[-1] in ". "):
        return False
    return True


def book(*binaries, history=True):
    """A FictionBook book holding the given (id, content type, text) binaries."""
    parts = ['<?xml version="1.0" encoding="utf-8"?>\n',
             '<FictionBook xmlns="http://www.gribuser.ru/xml/fictionbook/2.0">\n']
    if history:
        parts.append("<description><document-info><history><p>first</p></history></document-info></description>\n")
    parts.append("<body><section><p>text</p></section></body>\n")
    for id_, content_type, text in binaries:
        parts.append(f'<binary id="{id_}" content-type="{content_type}">{text}</binary>\n')
    parts.append("</FictionBook>\n")
    return "".join(parts)


def b64(data):
    return base64.b64encode(data).decode()


def file_hash(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def corpus_books():
    folder = os.path.join(CORPUS, "books")
    if not os.path.isdir(folder):
        return []
    return sorted(os.path.join(folder, n) for n in os.listdir(folder) if n.endswith(".fb2"))


def declared_encoding(path):
    with open(path, "rb") as f:
        head = f.read(200).decode("latin-1")
    marker = head.find("encoding=")
    if marker < 0:
        return "utf-8"
    quote = head[marker + 9]
    return head[marker + 10:head.index(quote, marker + 10)].lower()


class WorkFolder(unittest.TestCase):
    """Each test works in a fresh folder of its own, removed afterwards."""

    def setUp(self):
        if not VELLUM or not os.path.exists(VELLUM):
            self.skipTest("VELLUM_EXE does not name a built vellum")
        self.dir = tempfile.mkdtemp(prefix="vellum-e2e-")

    def tearDown(self):
        for root, dirs, files in os.walk(self.dir):
            for name in dirs + files:
                os.chmod(os.path.join(root, name), 0o755)
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, name, content):
        path = self.path(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content.encode("utf-8") if isinstance(content, str) else content)
        return name

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def copy(self, source, name=None):
        name = name or os.path.basename(source)
        shutil.copyfile(source, self.path(name))
        return name

    def vellum(self, *args, cwd=None, **kwargs):
        return run(args, self.path(cwd) if cwd else self.dir, **kwargs)

    def listing(self, book_name):
        result = self.vellum("list", "--json", book_name)
        self.assertEqual(result.rc, OK, result)
        return json.loads(result.out)["entries"]

    def assertExit(self, result, status, *words):
        self.assertEqual(result.rc, status, result)
        for word in words:
            self.assertIn(word, result.err, result)
