"""Tests of tools/zelt_server.py, the informer and update test server.

The server runs as a subprocess on a free port; the tests talk HTTP to it the
way the program (and its tests) will. Run:
    python3 -m unittest discover -s tests/server -v
"""

import base64
import http.client
import json
import os
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SERVER = os.path.join(ROOT, "tools", "zelt_server.py")
sys.path.insert(0, os.path.join(ROOT, "tools"))
import zelt_server  # noqa: E402  (only for its pure helpers)

SEP = "\x11"

TOPICS = {
    "latest_version": "0.4",
    "forums": {"15": "General", "5": "Новости"},
    "topics": [
        {"title": "First", "path": "topic-1", "forum": "15", "replies": 12, "author": "Ivan"},
        {"title": "Второй", "path": "topic-2", "forum": "5", "replies": "3",
         "author": "Мария", "encode": "raw"},
        {"title": "Third", "path": "topic-3", "forum": "Flood", "replies": 0, "author": "Bob"},
    ],
}
# The records of TOPICS as they go on the wire, after the flag.
TOPICS_TEXT = ("First" + SEP + "topic-1" + SEP + "15" + SEP + "12" + SEP + "Ivan" + SEP +
               "Второй" + SEP + "topic-2" + SEP + "5" + SEP + "3" + SEP + "Мария" + SEP +
               "Third" + SEP + "topic-3" + SEP + "Flood" + SEP + "0" + SEP + "Bob" + SEP
               ).encode("cp1251")

_tmp = None
_proc = None
PORT = None
LOG_PATH = None
UPDATE_DIR = None


def start_server(*args):
    proc = subprocess.Popen([sys.executable, SERVER, "--port", "0", *args],
                            stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    line = proc.stdout.readline().decode("ascii", "replace").split()
    if len(line) != 2 or line[0] != "PORT":
        proc.kill()
        proc.wait()
        raise RuntimeError("server did not report its port: %r" % line)
    return proc, int(line[1])


def stop_server(proc):
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
    try:
        return proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        return None
    finally:
        proc.stdout.close()


def setUpModule():
    global _tmp, _proc, PORT, LOG_PATH, UPDATE_DIR
    _tmp = tempfile.TemporaryDirectory()
    topics = os.path.join(_tmp.name, "topics.json")
    with open(topics, "w", encoding="utf-8") as f:
        json.dump(TOPICS, f, ensure_ascii=False)
    UPDATE_DIR = os.path.join(_tmp.name, "update")
    os.mkdir(UPDATE_DIR)
    with open(os.path.join(UPDATE_DIR, "info.rtf"), "wb") as f:
        f.write(b"{\\rtf1 update}")
    with open(os.path.join(_tmp.name, "secret.txt"), "wb") as f:
        f.write(b"outside the update folder")
    LOG_PATH = os.path.join(_tmp.name, "requests.jsonl")
    _proc, PORT = start_server("--topics", topics, "--update-dir", UPDATE_DIR,
                               "--log", LOG_PATH)


def tearDownModule():
    if _proc is not None:
        stop_server(_proc)
    if _tmp is not None:
        _tmp.cleanup()


# --------------------------------------------------------------------------
# Helpers

def request(method, path, body=None, headers=None, port=None):
    conn = http.client.HTTPConnection("127.0.0.1", port or PORT, timeout=10)
    try:
        conn.request(method, path, body=body, headers=headers or {})
        resp = conn.getresponse()
        return resp.status, resp, resp.read()
    finally:
        conn.close()


def get(path, ua="unittest", headers=None, port=None):
    h = {"User-Agent": ua}
    h.update(headers or {})
    return request("GET", path, headers=h, port=port)


def control(name, doc=None, port=None, expect=200):
    body = json.dumps(doc if doc is not None else {}).encode("utf-8")
    status, _, data = request("POST", "/_control/" + name, body=body,
                              headers={"Content-Type": "application/json"}, port=port)
    if expect is not None and status != expect:
        raise AssertionError("control %s gave %d: %s" % (name, status, data))
    return status, json.loads(data.decode("utf-8"))


def control_get(name, port=None):
    status, _, data = request("GET", "/_control/" + name, port=port)
    assert status == 200, data
    return json.loads(data.decode("utf-8"))


def inflate(body):
    return zlib.decompress(b"\x78\x9c" + body)


def records(text):
    """Splits a topic text after its flag into 5-field records."""
    fields = text.split(b"\x11")
    assert fields[-1] == b"", "every field must end with 0x11"
    fields = fields[:-1]
    assert len(fields) % 5 == 0, "field count %d is not a multiple of 5" % len(fields)
    return [fields[i:i + 5] for i in range(0, len(fields), 5)]


def raw_exchange(data, port=None, timeout=5):
    """Sends raw bytes and reads until the server closes the connection."""
    with socket.create_connection(("127.0.0.1", port or PORT), timeout=timeout) as s:
        s.sendall(data)
        chunks = []
        while True:
            b = s.recv(65536)
            if not b:
                break
            chunks.append(b)
    return b"".join(chunks)


def split_response(raw):
    head, sep, body = raw.partition(b"\r\n\r\n")
    assert sep, "no end of headers in %r" % raw[:200]
    lines = head.decode("latin-1").split("\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return lines[0], headers, body


def inf(c=10, u="0.4", p=0):
    return "/inf.php?c=%s&u=%s&p=%s" % (c, u, p)


class ServerCase(unittest.TestCase):
    def setUp(self):
        control("reset", {"all": True})
        control("topics", TOPICS)


# --------------------------------------------------------------------------

class InformerTest(ServerCase):
    def test_full_reply_is_a_headerless_zlib_stream_of_five_field_records(self):
        status, resp, body = get(inf(p=0))
        self.assertEqual(status, 200)
        self.assertEqual(inflate(body), b"0" + TOPICS_TEXT)
        # Without the two header bytes the body is raw deflate data + Adler-32.
        raw = zlib.decompressobj(-15)
        self.assertEqual(raw.decompress(body), b"0" + TOPICS_TEXT)
        self.assertEqual(raw.unused_data,
                         zlib.adler32(b"0" + TOPICS_TEXT).to_bytes(4, "big"))
        self.assertEqual(resp.getheader("Content-Length"), str(len(body)))

    def test_topic_count_is_clamped(self):
        many = {"topics": [{"title": "T%d" % i, "path": "t-%d" % i, "forum": "1",
                            "replies": i, "author": "a"} for i in range(105)]}
        control("topics", many)
        cases = [("2", 2), ("1", 1), ("0", 1), ("-3", 1), ("+7", 7), ("100", 100),
                 ("1000", 100), ("abc", 10), ("", 10), ("7x", 10)]
        for c, expected in cases:
            with self.subTest(c=c):
                _, _, body = get(inf(c=c))
                recs = records(inflate(body)[1:])
                self.assertEqual(len(recs), expected)
                self.assertEqual([r[0] for r in recs],
                                 [b"T%d" % i for i in range(expected)])
        _, _, body = get("/inf.php?u=0.4&p=0")
        self.assertEqual(len(records(inflate(body)[1:])), 10)

    def test_version_flag_compares_dotted_numbers(self):
        cases = [("0.4", "0.4", b"0"), ("0.4", "0.3", b"1"), ("0.5", "0.4", b"1"),
                 ("0.10", "0.9", b"1"), ("0.9", "0.10", b"0"), ("1.0", "0.4", b"1"),
                 ("0.4", "0.4.1", b"0"), ("0.4.1", "0.4", b"1"), ("0.4", "0.4.0", b"0"),
                 ("0.4.0", "0.4", b"0"), ("0.5", "", b"0")]
        for latest, u, flag in cases:
            with self.subTest(latest=latest, u=u):
                control("version", {"latest_version": latest})
                _, _, body = get(inf(u=u))
                self.assertEqual(inflate(body), flag + TOPICS_TEXT)

    def test_forced_flag_overrides_and_returns_to_automatic(self):
        steps = [({"flag": "1"}, "0.4", b"1"), ({"flag": "0"}, "0.1", b"0"),
                 ({"flag": None}, "0.1", b"1"), ({"flag": None}, "0.4", b"0")]
        for doc, u, flag in steps:
            with self.subTest(doc=doc, u=u):
                control("version", doc)
                _, _, body = get(inf(u=u))
                self.assertEqual(inflate(body)[:1], flag)
        self.assertEqual(control("version", {"flag": "yes"}, expect=None)[0], 400)

    def test_unchanged_reply_per_client(self):
        # (action, p, user agent, expected: "full" or the exact body)
        steps = [
            (None, 1, "A", "full"),           # nothing remembered yet
            (None, 1, "A", b""),
            (None, 0, "A", "full"),           # p=0 always gets the full list
            (None, 1, "A", b""),
            (("version", {"flag": "1"}), 1, "A", b"1"),
            (("version", {"flag": "0"}), 1, "A", b""),
            (None, 1, "B", "full"),           # another User-Agent is another client
            (("bump", {"path": "topic-3", "replies": 2, "author": "Zoe"}), 1, "A", "full"),
            (None, 1, "A", b""),
            (None, 1, "B", "full"),
            (None, 1, "B", b""),
            (("reset", {}), 1, "B", "full"),  # reset forgets what was sent
        ]
        for i, (action, p, ua, expected) in enumerate(steps):
            with self.subTest(step=i):
                if action:
                    control(*action)
                status, _, body = get(inf(p=p), ua=ua)
                self.assertEqual(status, 200)
                if expected == "full":
                    self.assertGreater(len(body), 1)
                    inflate(body)
                else:
                    self.assertEqual(body, expected)

    def test_bump_moves_topic_first_with_new_count_and_author(self):
        get(inf(p=0), ua="bump")
        control("bump", {"path": "topic-3", "replies": 2, "author": "Zoe"})
        _, _, body = get(inf(p=1), ua="bump")
        text = inflate(body)
        self.assertEqual(text[:1], b"0")
        self.assertEqual(records(text[1:]), [
            [b"Third", b"topic-3", b"Flood", b"2", b"Zoe"],
            [b"First", b"topic-1", b"15", b"12", b"Ivan"],
            ["Второй".encode("cp1251"), b"topic-2", b"5", b"3", "Мария".encode("cp1251")],
        ])
        self.assertEqual(control("bump", {"path": "nope"}, expect=None)[0], 404)

    def test_fewer_topics_asked_is_a_change(self):
        get(inf(c=3, p=0), ua="count")
        _, _, body = get(inf(c=2, p=1), ua="count")
        self.assertEqual(len(records(inflate(body)[1:])), 2)
        _, _, body = get(inf(c=2, p=1), ua="count")
        self.assertEqual(body, b"")

    def test_forum_list(self):
        _, _, body = get(inf(p=2))
        self.assertEqual(inflate(body), "General=15\r\nНовости=5\r\n".encode("cp1251"))
        control("topics", {"forums": {}, "topics": []})
        _, _, body = get(inf(p=2))
        self.assertEqual(inflate(body), b"")

    def test_empty_topic_set_sends_the_flag_alone(self):
        control("topics", {"topics": []})
        _, _, body = get(inf(p=0))
        self.assertEqual(inflate(body), b"0")

    def test_title_and_author_encoding(self):
        cases = [
            ('Tom & "Jerry" <b>', "named", b"Tom &amp; &quot;Jerry&quot; &lt;b&gt;"),
            ("Привет", "named", "Привет".encode("cp1251")),
            ("Привет", "numeric", b"&#1055;&#1088;&#1080;&#1074;&#1077;&#1090;"),
            ("Ёж ё & <", "numeric", b"&#1025;&#1078; &#1105; &amp; &lt;"),
            ("«a»…\u00a0© €", "full", b"&laquo;a&raquo;&hellip;&nbsp;&copy; &euro;"),
            ("«a» & b", "named", "«a» &amp; b".encode("cp1251")),
            ("Tom & <b>", "raw", b"Tom & <b>"),
            ("ok \u2713", "named", b"ok &#10003;"),
            ("ok \u2713", "numeric", b"ok &#10003;"),
            ("ok \u2713", "raw", b"ok ?"),
        ]
        topics = [{"title": t, "path": "p%d" % i, "forum": "1", "replies": 1,
                   "author": t, "encode": mode} for i, (t, mode, _) in enumerate(cases)]
        control("topics", {"topics": topics})
        _, _, body = get(inf(c=100))
        recs = records(inflate(body)[1:])
        self.assertEqual(len(recs), len(cases))
        for (title, mode, expected), rec in zip(cases, recs):
            with self.subTest(title=title, mode=mode):
                self.assertEqual(rec[0], expected)
                self.assertEqual(rec[4], expected)

    def test_bad_topic_sets_are_refused(self):
        bad = [{"topics": [{"title": "x"}]},
               {"topics": [{"title": "x", "path": "p", "forum": "1", "replies": 1,
                            "author": "a", "encode": "base64"}]},
               {"topics": "none"}, {"forums": ["a"]}]
        for doc in bad:
            with self.subTest(doc=doc):
                self.assertEqual(control("topics", doc, expect=None)[0], 400)
        _, _, body = get(inf())
        self.assertEqual(inflate(body), b"0" + TOPICS_TEXT)


class ScriptTest(ServerCase):
    def test_queue_is_served_in_order_then_normal_behaviour(self):
        text = "1X" + SEP + "px" + SEP + "9" + SEP + "4" + SEP + "Я" + SEP
        replies = [
            ({"text": text}, 200, lambda b: inflate(b) == text.encode("cp1251")),
            ({"status": 404, "raw_text": "нет"}, 404, lambda b: b == "нет".encode("cp1251")),
            ({"body_b64": base64.b64encode(b"\x01\x02").decode()}, 200,
             lambda b: b == b"\x01\x02"),
            ({}, 200, lambda b: b == b""),
        ]
        control("script", {"replies": [r for r, _, _ in replies]})
        # A queue for another prefix is not consumed by the informer.
        control("script", {"path": "/ZeltInformer/", "replies": [{"status": 500}]})
        for i, (_, status, check) in enumerate(replies):
            with self.subTest(reply=i):
                got_status, _, body = get(inf(p=1))
                self.assertEqual(got_status, status)
                self.assertTrue(check(body), body)
        _, _, body = get(inf(p=0))
        self.assertEqual(inflate(body), b"0" + TOPICS_TEXT)
        status, _, _ = get("/ZeltInformer/info.rtf")
        self.assertEqual(status, 500)
        status, _, body = get("/ZeltInformer/info.rtf")
        self.assertEqual((status, body), (200, b"{\\rtf1 update}"))

    def test_queue_appends_and_longest_prefix_wins(self):
        control("script", {"path": "/inf.php", "replies": [{"raw_text": "a"}]})
        control("script", {"path": "/", "replies": [{"raw_text": "root"}]})
        control("script", {"path": "/inf.php", "replies": [{"raw_text": "b"}]})
        bodies = [get(inf())[2] for _ in range(3)]
        self.assertEqual(bodies, [b"a", b"b", b"root"])
        control("script", {"replies": [{"raw_text": "dropped by reset"}]})
        control("reset")
        self.assertEqual(inflate(get(inf())[2]), b"0" + TOPICS_TEXT)

    def test_no_content_length_body_ends_with_the_connection(self):
        payload = bytes(range(256)) * 80  # 20480 bytes, several chunks
        control("script", {"replies": [{"body_b64": base64.b64encode(payload).decode(),
                                        "content_length": False, "chunk": 4096}]})
        raw = raw_exchange(b"GET /inf.php?c=10&u=0.4&p=0 HTTP/1.1\r\n"
                           b"Host: 127.0.0.1\r\nUser-Agent: nolen\r\n\r\n")
        status_line, headers, body = split_response(raw)
        self.assertEqual(status_line, "HTTP/1.1 200 OK")
        self.assertNotIn("content-length", headers)
        self.assertNotIn("transfer-encoding", headers)
        self.assertEqual(headers.get("connection"), "close")
        self.assertEqual(body, payload)

    def test_slow_body_arrives_in_pieces_and_whole(self):
        control("script", {"replies": [{"raw_text": "AAAAABBBBB", "chunk": 5,
                                        "delay": 1.0}]})
        with socket.create_connection(("127.0.0.1", PORT), timeout=10) as s:
            s.sendall(b"GET /inf.php HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            data = b""
            while b"\r\n\r\n" not in data or len(data.partition(b"\r\n\r\n")[2]) < 5:
                chunk = s.recv(65536)
                self.assertTrue(chunk, "connection closed early")
                data += chunk
            _, headers, first = split_response(data)
            self.assertEqual(headers["content-length"], "10")
            self.assertEqual(first, b"AAAAA")
            # The second chunk is held back by the delay.
            self.assertEqual(select.select([s], [], [], 0)[0], [])
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
        self.assertEqual(split_response(data)[2], b"AAAAABBBBB")

    def test_connection_dropped_before_headers(self):
        control("script", {"replies": [{"close_before_headers": True}]})
        raw = raw_exchange(b"GET /inf.php?p=0 HTTP/1.1\r\nHost: x\r\n\r\n")
        self.assertEqual(raw, b"")
        _, _, body = get(inf())
        self.assertEqual(inflate(body), b"0" + TOPICS_TEXT)

    def test_body_cut_short_after_announced_length(self):
        control("script", {"replies": [{"raw_text": "x" * 100, "close_after_bytes": 40}]})
        raw = raw_exchange(b"GET /inf.php HTTP/1.1\r\nHost: x\r\n\r\n")
        _, headers, body = split_response(raw)
        self.assertEqual(headers["content-length"], "100")
        self.assertEqual(body, b"x" * 40)

    def test_status_reason_and_headers_as_scripted(self):
        control("script", {"replies": [{"status": 302, "reason": "Moved",
                                        "headers": {"Location": "/elsewhere",
                                                    "X-Test": "1"}}]})
        raw = raw_exchange(b"GET /inf.php HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        status_line, headers, body = split_response(raw)
        self.assertEqual(status_line, "HTTP/1.1 302 Moved")
        self.assertEqual(headers["location"], "/elsewhere")
        self.assertEqual(headers["x-test"], "1")
        self.assertEqual(headers["content-length"], "0")

    def test_hostile_replies(self):
        # A bomb inflates to the size asked; an endless body runs on without a
        # length; a held reply waits for the release.
        control("script", {"replies": [{"bomb": {"head": "0", "unit": "ab", "bytes": 1 << 20}},
                                       {"endless": True}, {"hold": True, "raw_text": "held"}]})
        body = get(inf())[2]
        self.assertLess(len(body), 8192)
        self.assertEqual(inflate(body), b"0" + b"ab" * (1 << 19))
        with socket.create_connection(("127.0.0.1", PORT), timeout=10) as s:
            s.sendall(b"GET /inf.php HTTP/1.1\r\nHost: x\r\n\r\n")
            data = b""
            while len(data) < 3 << 20 and (chunk := s.recv(65536)):
                data += chunk
        self.assertNotIn("content-length", split_response(data)[1])
        self.assertGreaterEqual(len(data), 3 << 20)
        with socket.create_connection(("127.0.0.1", PORT), timeout=10) as s:
            s.sendall(b"GET /inf.php HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            while not any(r["path"] == "/inf.php" for r in control_get("log")[2:]):
                time.sleep(0.01)
            self.assertEqual(select.select([s], [], [], 0)[0], [])
            control("release")
            data = b"".join(iter(lambda: s.recv(65536), b""))
        self.assertEqual(split_response(data)[2], b"held")

    def test_bad_scripts_are_refused(self):
        bad = [{"replies": [{"text": "a", "raw_text": "b"}]},
               {"replies": [{"bomb": {"unit": "", "bytes": 10}}]},
               {"replies": [{"body_b64": "not base64!"}]},
               {"replies": [{"status": "abc"}]},
               {"replies": [{"chunk": 0}]},
               {"replies": "x"}]
        for doc in bad:
            with self.subTest(doc=doc):
                self.assertEqual(control("script", doc, expect=None)[0], 400)
        status, _, data = request("POST", "/_control/script", body=b"{not json",
                                  headers={"Content-Type": "application/json"})
        self.assertEqual(status, 400)
        _, _, body = get(inf())
        self.assertEqual(inflate(body), b"0" + TOPICS_TEXT)


class UpdateFileTest(ServerCase):
    def test_update_files(self):
        blob = b"PK\x03\x04" + bytes(5000)
        b64 = base64.b64encode(blob).decode()
        # (override or None, path, status, body, content length header)
        cases = [
            (None, "/ZeltInformer/info.rtf", 200, b"{\\rtf1 update}", "14"),
            (None, "/ZeltInformer/files.zip", 404, None, None),
            (None, "/ZeltInformer/..%2Fsecret.txt", 404, None, None),
            (None, "/ZeltInformer/../secret.txt", 404, None, None),
            ({"name": "files.zip", "body_b64": b64}, "/ZeltInformer/files.zip",
             200, blob, str(len(blob))),
            ({"name": "ZeltInformerSetup.zip", "body_b64": b64, "content_length": False,
              "chunk": 1000}, "/ZeltInformer/ZeltInformerSetup.zip", 200, blob, None),
            ({"name": "info.rtf", "status": 404}, "/ZeltInformer/info.rtf", 404, None, None),
            ({"name": "info.rtf", "remove": True}, "/ZeltInformer/info.rtf",
             200, b"{\\rtf1 update}", "14"),
        ]
        for i, (override, path, status, body, length) in enumerate(cases):
            with self.subTest(case=i, path=path):
                if override:
                    control("update-file", override)
                got_status, resp, got_body = get(path)
                self.assertEqual(got_status, status)
                if status == 200:
                    self.assertEqual(resp.getheader("Content-Length"), length)
                    self.assertEqual(resp.getheader("Content-Type"),
                                     "application/rtf" if path.endswith(".rtf")
                                     else "application/zip")
                    self.assertEqual(got_body, body)
        self.assertEqual(control("update-file", {"name": "../x", "status": 404},
                                 expect=None)[0], 400)

    def test_reset_all_drops_overrides(self):
        control("update-file", {"name": "info.rtf", "raw_text": "other"})
        self.assertEqual(get("/ZeltInformer/info.rtf")[2], b"other")
        control("reset", {"all": True})
        self.assertEqual(get("/ZeltInformer/info.rtf")[2], b"{\\rtf1 update}")


class LogAndConnectionTest(ServerCase):
    def test_proxied_request_is_served_and_logged(self):
        line = "GET http://127.0.0.1:%d/inf.php?c=1&u=0.4&p=0 HTTP/1.1" % PORT
        raw = raw_exchange((line + "\r\nHost: 127.0.0.1:%d\r\nUser-Agent: Zelt Rarazovo 0.4\r\n"
                            "Proxy-Connection: close\r\n\r\n" % PORT).encode("ascii"))
        status_line, _, body = split_response(raw)
        self.assertEqual(status_line, "HTTP/1.1 200 OK")
        self.assertEqual(records(inflate(body)[1:]),
                         [[b"First", b"topic-1", b"15", b"12", b"Ivan"]])
        log = control_get("log")
        self.assertEqual(len(log), 1)
        entry = log[0]
        self.assertTrue(entry["proxied"])
        self.assertEqual(entry["path"], "/inf.php")
        self.assertEqual(entry["query"], "c=1&u=0.4&p=0")
        self.assertEqual(entry["request_line"], line)
        self.assertEqual(entry["headers"]["Proxy-Connection"], "close")

    def test_log_keeps_headers_in_original_case(self):
        raw = raw_exchange(b"GET /inf.php?c=10&u=0.4&p=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                           b"User-Agent: Zelt Rarazovo 0.4\r\nConnection: close\r\n"
                           b"Pragma: no-cache\r\n\r\n")
        self.assertTrue(raw.startswith(b"HTTP/1.1 200 "))
        get("/forum/topic-1-0-17", ua="browser")
        log = control_get("log")   # control calls are not logged
        self.assertEqual([e["path"] for e in log], ["/inf.php", "/forum/topic-1-0-17"])
        first = log[0]
        self.assertFalse(first["proxied"])
        self.assertEqual(first["method"], "GET")
        self.assertEqual(first["query"], "c=10&u=0.4&p=1")
        self.assertEqual(first["request_line"], "GET /inf.php?c=10&u=0.4&p=1 HTTP/1.1")
        self.assertEqual(first["headers"]["User-Agent"], "Zelt Rarazovo 0.4")
        self.assertEqual(first["headers"]["Connection"], "close")
        self.assertEqual(first["headers"]["Pragma"], "no-cache")
        self.assertLessEqual(first["time"], log[1]["time"])
        with open(LOG_PATH, encoding="utf-8") as f:
            lines = [json.loads(x) for x in f.read().splitlines()]
        self.assertEqual(lines[-2:], log)

    def test_connection_close_is_honoured_and_keep_alive_otherwise(self):
        for header in ("Connection: close", "connection: Close"):
            with self.subTest(header=header):
                # raw_exchange fails with a timeout if the server keeps it open.
                raw = raw_exchange(("GET /inf.php HTTP/1.1\r\nHost: x\r\n%s\r\n\r\n"
                                    % header).encode("ascii"))
                _, headers, body = split_response(raw)
                self.assertEqual(len(body), int(headers["content-length"]))
        conn = http.client.HTTPConnection("127.0.0.1", PORT, timeout=10)
        try:
            bodies = []
            for p in (0, 1, 2):
                conn.request("GET", inf(p=p), headers={"User-Agent": "keep"})
                resp = conn.getresponse()
                bodies.append(resp.read())
                self.assertFalse(resp.will_close)
            self.assertEqual(inflate(bodies[0]), b"0" + TOPICS_TEXT)
            self.assertEqual(bodies[1], b"")
        finally:
            conn.close()
        self.assertEqual(len(control_get("log")), 5)

    def test_forum_page(self):
        cases = [("/forum/topic-2-0-17", 200, "Второй"), ("/forum/topic-2-1", 200, "Второй"),
                 ("/forum/topic-9-0-17", 404, "topic-9")]
        for path, status, text in cases:
            with self.subTest(path=path):
                got, _, body = get(path)
                self.assertEqual(got, status)
                self.assertIn(text, body.decode("utf-8"))

    def test_unknown_paths_and_methods(self):
        self.assertEqual(get("/")[0], 404)
        self.assertEqual(get("/inf.phpx")[0], 404)
        self.assertEqual(request("POST", "/inf.php", body=b"x")[0], 405)
        self.assertEqual(get("/_control/nothing")[0], 405)
        self.assertEqual(control("nothing", expect=None)[0], 404)


class HelperTest(unittest.TestCase):
    def test_loopback_check(self):
        cases = [("127.0.0.1", True), ("127.8.9.1", True), ("::1", True),
                 ("::ffff:10.0.0.1", False), ("10.0.0.1", False), ("192.168.1.5", False),
                 ("", False), ("localhost", False)]
        for address, expected in cases:
            with self.subTest(address=address):
                self.assertEqual(zelt_server.is_loopback(address), expected)


class ProcessTest(unittest.TestCase):
    def test_port_file_and_clean_stop(self):
        with tempfile.TemporaryDirectory() as tmp:
            port_file = os.path.join(tmp, "port")
            proc, port = start_server("--port-file", port_file)
            try:
                with open(port_file, encoding="ascii") as f:
                    self.assertEqual(f.read().strip(), str(port))
                _, _, body = get(inf(), port=port)
                self.assertEqual(inflate(body), b"0")
            finally:
                self.assertEqual(stop_server(proc), 0)

    def test_demo_data_and_simulation(self):
        proc, port = start_server("--demo", "--tick", "0.3", "--seed", "7")
        try:
            forums = inflate(get(inf(p=2), port=port)[2]).decode("cp1251")
            ids = {line.split("=")[1] for line in forums.split("\r\n") if line}
            _, _, body = get(inf(c=100), port=port)
            text = inflate(body)
            self.assertEqual(text[:1], b"0")
            recs = records(text[1:])
            self.assertGreaterEqual(len(recs), 12)
            self.assertTrue(all(all(f for f in r) for r in recs))
            self.assertTrue(any(r[2] in {i.encode() for i in ids} for r in recs))
            self.assertTrue(any(b"&quot;" in r[0] for r in recs))
            self.assertTrue(any(b"&#10" in r[0] for r in recs))
            self.assertTrue(any(r[2].decode("cp1251") not in ids for r in recs))

            status, _, rtf = get("/ZeltInformer/info.rtf", port=port)
            self.assertEqual(status, 200)
            self.assertTrue(rtf.startswith(b"{\\rtf1"))

            before = {r[1]: int(r[3]) for r in recs}
            deadline = time.monotonic() + 10
            changed = None
            while time.monotonic() < deadline:
                now = records(inflate(get(inf(c=100), port=port)[2])[1:])
                if now != recs:
                    changed = now
                    break
                time.sleep(0.05)
            self.assertIsNotNone(changed, "the demo never changed")
            top = changed[0]
            self.assertIn(int(top[3]) - before[top[1]], (1, 2, 3))
            self.assertEqual(sorted(r[1] for r in changed), sorted(before))

            control("version", {"flag": "1"}, port=port)
            self.assertEqual(inflate(get(inf(), port=port)[2])[:1], b"1")
        finally:
            self.assertEqual(stop_server(proc), 0)


if __name__ == "__main__":
    unittest.main()
