"""What the other tests rely on in tools/zelt_server.py without checking it
themselves: the informer replies the program decodes, scripted failures and
hostile replies, and how the server reports its port and ends (the request
log is checked by the tests that read it). It runs as a subprocess on a free
port."""

import http.client
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "zelt_server.py")
TOPICS = {"latest_version": "0.4", "forums": {"15": "General", "5": "Новости"}, "topics": [
    {"title": "Tom & \"Jerry\"", "path": "topic-1", "forum": "15", "replies": 12, "author": "Ivan"},
    {"title": "Привет", "path": "topic-2", "forum": "5", "replies": 3, "author": "Мария", "encode": "numeric"}]}
TEXT = ("Tom &amp; &quot;Jerry&quot;\x11topic-1\x1115\x1112\x11Ivan\x11"
        "&#1055;&#1088;&#1080;&#1074;&#1077;&#1090;\x11topic-2\x115\x113\x11"
        "&#1052;&#1072;&#1088;&#1080;&#1103;\x11").encode("cp1251")


class ServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.alive = os.path.join(cls.dir.name, "alive")
        open(cls.alive, "w").close()
        cls.proc = subprocess.Popen([sys.executable, SERVER, "--port", "0", "--alive", cls.alive],
                                    stdout=subprocess.PIPE)
        cls.port = int(cls.proc.stdout.readline().split()[1])

    @classmethod
    def tearDownClass(cls):
        os.remove(cls.alive)
        cls.proc.wait(10)  # ends on its own once the alive file is gone
        cls.proc.stdout.close()
        cls.dir.cleanup()

    def request(self, path, body=None, headers=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        conn.request("POST" if body is not None else "GET", path, body=body, headers=headers or {})
        resp = conn.getresponse()
        data = resp.read()
        conn.close()
        return resp.status, dict(resp.getheaders()), data

    def control(self, what, doc=None):
        status, _, data = self.request("/_control/" + what, None if doc is None else json.dumps(doc).encode())
        self.assertEqual(status, 200, data)
        return json.loads(data)

    def setUp(self):
        self.control("reset", {"all": True})
        self.control("topics", TOPICS)

    def test_informer_replies_full_unchanged_and_forum_list(self):
        inflate = lambda b: zlib.decompress(b"\x78\x9c" + b)  # noqa: E731  (the body lacks the zlib header)
        self.assertEqual(inflate(self.request("/inf.php?c=10&u=0.4&p=0")[2]), b"0" + TEXT)
        self.assertEqual(self.request("/inf.php?c=10&u=0.4&p=1")[2], b"", "unchanged for this client")
        self.control("version", {"flag": "1"})
        self.assertEqual(self.request("/inf.php?c=10&u=0.4&p=1")[2], b"1")
        self.assertEqual(inflate(self.request("/inf.php?c=1&u=0.3&p=0")[2]), b"1" + TEXT[:TEXT.index(b"Ivan") + 5])
        self.assertEqual(inflate(self.request("/inf.php?p=2")[2]), "General=15\r\nНовости=5\r\n".encode("cp1251"))

    def test_scripted_replies_come_in_order_then_the_normal_one(self):
        self.control("script", {"path": "/inf.php", "replies": [
            {"status": 500, "raw_text": "err", "headers": {"X-Zelt": "yes"}}, {"close_before_headers": True}]})
        status, headers, body = self.request("/inf.php?p=0")
        self.assertEqual((status, headers.get("X-Zelt"), body), (500, "yes", b"err"))
        with self.assertRaises((http.client.RemoteDisconnected, ConnectionError)):
            self.request("/inf.php?p=0")
        self.assertEqual(self.request("/inf.php?p=0")[0], 200)

    def test_hostile_replies_are_what_the_hostile_tests_take_them_for(self):
        # A bomb inflates to the size asked (whole units) from a few kilobytes;
        # an endless body runs on past what any limit of the program allows; a
        # trickle sends one byte at a time, the time asked apart.
        self.control("script", {"path": "/inf.php", "replies": [
            {"bomb": {"head": "0", "unit": "ab", "bytes": 1 << 20}},
            {"bomb": {"unit": "abc", "bytes": (1 << 20) - 1, "tail": "z"}}, {"endless": True}, {"trickle": 0.2}]})
        body = self.request("/inf.php?p=0")[2]
        self.assertLess(len(body), 8192)
        self.assertEqual(zlib.decompress(b"\x78\x9c" + body), b"0" + b"ab" * (1 << 19))
        self.assertEqual(zlib.decompress(b"\x78\x9c" + self.request("/inf.php?p=0")[2]), b"abc" * 349525 + b"z")
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        conn.request("GET", "/inf.php?p=0")
        resp = conn.getresponse()
        self.assertIsNone(resp.getheader("Content-Length"))
        self.assertEqual(len(resp.read(3 << 20)), 3 << 20)
        conn.close()
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        conn.request("GET", "/inf.php?p=0")
        resp = conn.getresponse()
        self.assertIsNone(resp.getheader("Content-Length"))
        started = time.monotonic()
        self.assertEqual([len(resp.read1(100)) for _ in range(4)], [1, 1, 1, 1])
        self.assertGreaterEqual(time.monotonic() - started, 0.6)
        conn.close()
