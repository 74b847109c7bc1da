#!/usr/bin/env python3
"""Informer and update server for development, demos and tests.

Speaks what ZeltInformer.exe talks to: the informer script inf.php, the forum's
topic pages and the update files. Python 3 standard library only.

Command line
------------
  python3 tools/zelt_server.py [--host 127.0.0.1] [--port 18765] [--port-file F]
                               [--ready F] [--alive F] [--max-seconds N]
                               [--topics FILE.json | --demo] [--update-dir DIR]
                               [--log FILE.jsonl] [--tick SECONDS] [--seed N]
                               [--verbose]

  --port 0      take a free port. The port is always printed as the first line
                of stdout, "PORT <n>", and written to --port-file when given
                (the number) and to --ready (a line "port=<n>").
  --alive FILE  end once FILE no longer exists (a test that started the
                server from another system, where no signal reaches it);
                --max-seconds N ends it after N seconds in any case.
  --demo        built-in demo topics; every --tick seconds (default 20, 0 = off)
                one random topic gains 1..3 replies and a new last author.
                Without --update-dir the demo serves tools/demo/update/.
  SIGTERM and SIGINT stop the server cleanly (exit code 0).

Topic file (--topics, and the body of POST /_control/topics)
-----------------------------------------------------------
  {
    "latest_version": "0.4",                  # newest program version
    "forums": {"15": "General", "5": "News"}, # forum id -> name (the p=2 list)
    "topics": [                               # newest first
      {"title": "...", "path": "topic-123", "forum": "15", "replies": 12,
       "author": "Ivan", "encode": "named"}
    ]
  }
  forum is sent as given: a forum id such as "15", or a forum name.
  encode says how title and author are written:
    "named"   (default) " & < > as &quot; &amp; &lt; &gt;
    "numeric" as "named", and Cyrillic letters as numeric references (&#1055;)
    "full"    as "named", and the other characters that have a named entity
              whose cp1251 byte is the same glyph (&laquo; &raquo; &hellip;
              &nbsp; &copy; &euro; &bull; ...) by that entity
    "raw"     no escaping at all
  In every mode but "raw" a character that cp1251 cannot hold is sent as a
  numeric reference; in "raw" it becomes "?".

Informer: GET /inf.php?c=N&u=V&p=P
----------------------------------
  The reply body is zlib.compress(text)[2:], text being cp1251: one flag
  character ("1" when V is older than latest_version) and then, per topic,
  title, path, forum, replies, author, each followed by the byte 0x11.
  c is clamped to 1..100 (not a number: 10). p=0 full reply; p=1 an empty body
  (flag "0") or the single byte "1" (flag "1") when the topics are those last
  sent in full to this client (remote address + User-Agent), else a full reply;
  p=2 the forum list, lines "Name=id" + CR LF. Any other p: as p=0.

Other paths
-----------
  GET /ZeltInformer/<name>  update file from --update-dir, or the in-memory
                            override set by /_control/update-file; else 404.
  GET /forum/<path>...      a small HTML page for the topic.
  A request line with an absolute URI (the server used as its own HTTP proxy)
  is served like the local path and logged with "proxied": true.
  A request with "Connection: close" (or "Proxy-Connection: close") gets
  its connection closed after the reply.

Control API (loopback clients only; bodies and answers are JSON)
---------------------------------------------------------------
  POST /_control/script      {"path": "/inf.php", "replies": [REPLY, ...]}
        appends to the FIFO queue of that path prefix; while a queue is not
        empty, requests whose path starts with its prefix take the next reply
        from it (the longest matching prefix wins). REPLY fields:
          status (200), reason, headers {name: value},
          body: one of body_b64 | text (cp1251, compressed as above, flag
                included) | raw_text (cp1251, sent as is); none = empty body,
          content_length (true; false = no Content-Length, body ends with the
                connection), chunk (4096), delay (0.0 s between chunks),
          delay_headers (0.0 s before the status line),
          close_after_bytes (send only this many body bytes, then close),
          close_before_headers (true = drop the connection without answering).
        Hostile replies, for the tests of a program under attack (see the
        section "Hostile replies" below):
          endless (true = no Content-Length, the body (or filler) sent again
                and again until the client goes away),
          bomb {"head": "0", "unit": TEXT, "bytes": N, "tail": ""} (the
                body is the compressed text head + unit repeated up to N
                bytes + tail: a few kilobytes that inflate to N and more),
          hold (true = wait before answering until POST /_control/release),
          trickle (seconds: no Content-Length, the body (or filler) sent one
                byte at a time this many seconds apart, again and again,
                until the client goes away).
  POST /_control/topics      replace the topic set (topic file format).
  GET  /_control/topics      the current topic set, newest first.
  POST /_control/bump        {"path": "topic-1", "replies": 1, "author": "X"}
        adds to the reply count, sets the last author and moves it first.
  POST /_control/version     {"flag": "1" | "0" | null (automatic),
                              "latest_version": "0.5" (optional)}
  POST /_control/update-file {"name": "files.zip", REPLY fields...} overrides
        the file from the folder; {"name": ..., "status": 404} makes it
        missing; {"name": ..., "remove": true} drops the override.
  POST /_control/release     lets every held reply go.
  POST /_control/reset       clears the script queues, the request log and
        the per-client memory; with {"all": true} also the version override,
        the update-file overrides and the topic set as started.
  GET  /_control/log         the request log: a JSON array of
        {"time", "method", "path", "query", "request_line", "headers",
         "proxied", "client"}, one per request outside /_control/, with
        "aborted": true once the client left before its body was written.
        The same objects (as first recorded) are appended as JSON lines to --log.
"""

import argparse
import base64
import collections
import copy
import http
import http.server
import ipaddress
import itertools
import json
import os
import random
import re
import signal
import socket
import sys
import threading
import time
import urllib.parse
import zlib

DEFAULT_PORT = 18765
MAX_TOPICS = 100
DEFAULT_TOPICS = 10
FIELD_SEP = b"\x11"
UPDATE_PREFIX = "/ZeltInformer/"
FORUM_PREFIX = "/forum/"
CONTROL_PREFIX = "/_control/"
MAX_CLIENTS_REMEMBERED = 1000
ENCODE_MODES = ("named", "numeric", "full", "raw")

# Characters escaped in every mode but "raw", as an HTML page would.
_NAMED_BASIC = {'"': "&quot;", "&": "&amp;", "<": "&lt;", ">": "&gt;"}
# Named entities whose character is the same glyph in cp1251 ("full" mode).
_NAMED_FULL = {
    "\u00a4": "&curren;", "\u00a6": "&brvbar;", "\u00a7": "&sect;",
    "\u00a9": "&copy;", "\u00ab": "&laquo;", "\u00ae": "&reg;",
    "\u00b0": "&deg;", "\u00b1": "&plusmn;", "\u00b5": "&micro;",
    "\u00b6": "&para;", "\u00b7": "&middot;", "\u20ac": "&euro;",
    "\u2022": "&bull;", "\u2026": "&hellip;", "\u00a0": "&nbsp;",
    "\u00bb": "&raquo;", "\u2018": "&lsquo;", "\u2019": "&rsquo;",
}


# --------------------------------------------------------------------------
# Pure helpers

def compress_reply(data):
    """A zlib stream without its two header bytes, as inf.php sends it."""
    return zlib.compress(data)[2:]


def _cp1251_or_ref(ch):
    try:
        return ch.encode("cp1251")
    except UnicodeEncodeError:
        return ("&#%d;" % ord(ch)).encode("ascii")


def encode_field(text, mode):
    """Writes one title or author as the server's HTML-escaped cp1251 bytes."""
    if mode == "raw":
        return text.encode("cp1251", errors="replace")
    out = bytearray()
    for ch in text:
        if ch in _NAMED_BASIC:
            out += _NAMED_BASIC[ch].encode("ascii")
        elif mode == "full" and ch in _NAMED_FULL:
            out += _NAMED_FULL[ch].encode("ascii")
        elif mode == "numeric" and ("\u0400" <= ch <= "\u04ff"):
            out += ("&#%d;" % ord(ch)).encode("ascii")
        else:
            out += _cp1251_or_ref(ch)
    return bytes(out)


def version_tuple(text):
    """"0.4.1" -> (0, 4, 1); a part without leading digits counts as 0."""
    parts = []
    for piece in str(text).strip().split("."):
        m = re.match(r"\d+", piece)
        parts.append(int(m.group(0)) if m else 0)
    return tuple(parts)


def version_older(client, latest):
    """True when the client's dotted version is below the latest one."""
    if client is None or str(client).strip() == "":
        return False
    a, b = version_tuple(client), version_tuple(latest)
    width = max(len(a), len(b))
    return a + (0,) * (width - len(a)) < b + (0,) * (width - len(b))


def clamp_count(value):
    """The c parameter: 1..100, and 10 when it is not a decimal number."""
    if value is None or not re.fullmatch(r"\s*[+-]?\d+\s*", value):
        return DEFAULT_TOPICS
    return max(1, min(MAX_TOPICS, int(value)))


def topic_records(topics, count):
    """The record part of a topic reply for the first `count` topics."""
    out = bytearray()
    for t in topics[:count]:
        mode = t["encode"]
        out += encode_field(t["title"], mode) + FIELD_SEP
        out += t["path"].encode("cp1251", errors="replace") + FIELD_SEP
        out += t["forum"].encode("cp1251", errors="replace") + FIELD_SEP
        out += t["replies"].encode("ascii", errors="replace") + FIELD_SEP
        out += encode_field(t["author"], mode) + FIELD_SEP
    return bytes(out)


def forum_list(forums):
    """The p=2 text: "Name=id" lines ending in CR LF."""
    return b"".join(name.encode("cp1251", errors="replace") + b"=" +
                    fid.encode("cp1251", errors="replace") + b"\r\n"
                    for fid, name in forums.items())


def _need_str(obj, key, where, default=None):
    value = obj.get(key, default)
    if isinstance(value, bool) or value is None:
        raise ValueError("%s: %r must be a string" % (where, key))
    if isinstance(value, int):
        value = str(value)
    if not isinstance(value, str):
        raise ValueError("%s: %r must be a string" % (where, key))
    return value


def normalize_topic(obj, where="topic"):
    if not isinstance(obj, dict):
        raise ValueError("%s must be an object" % where)
    mode = obj.get("encode", "named")
    if mode not in ENCODE_MODES:
        raise ValueError("%s: encode must be one of %s" % (where, ", ".join(ENCODE_MODES)))
    return {
        "title": _need_str(obj, "title", where),
        "path": _need_str(obj, "path", where),
        "forum": _need_str(obj, "forum", where),
        "replies": _need_str(obj, "replies", where, 0),
        "author": _need_str(obj, "author", where),
        "encode": mode,
    }


def normalize_topic_set(obj):
    """Checks a topic document; returns (latest_version or None, forums or None, topics)."""
    if not isinstance(obj, dict):
        raise ValueError("the topic set must be a JSON object")
    latest = obj.get("latest_version")
    if latest is not None:
        latest = _need_str(obj, "latest_version", "topic set")
    forums = obj.get("forums")
    if forums is not None:
        if not isinstance(forums, dict):
            raise ValueError("forums must be an object of id: name")
        forums = {str(k): _need_str(forums, k, "forums") for k in forums}
    topics = obj.get("topics", [])
    if not isinstance(topics, list):
        raise ValueError("topics must be an array")
    topics = [normalize_topic(t, "topics[%d]" % i) for i, t in enumerate(topics)]
    return latest, forums, topics


def parse_reply_plan(obj, where="reply"):
    """Checks a scripted reply (or update-file override) and fills defaults."""
    if not isinstance(obj, dict):
        raise ValueError("%s must be an object" % where)
    sources = [k for k in ("body_b64", "text", "raw_text") if k in obj]
    if len(sources) > 1:
        raise ValueError("%s: give only one of body_b64, text, raw_text" % where)
    try:
        if "body_b64" in obj:
            body = base64.b64decode(obj["body_b64"], validate=True)
        elif "text" in obj:
            body = compress_reply(obj["text"].encode("cp1251"))
        elif "raw_text" in obj:
            body = obj["raw_text"].encode("cp1251")
        else:
            body = b""
    except (ValueError, TypeError, AttributeError, UnicodeEncodeError) as exc:
        raise ValueError("%s: bad body: %s" % (where, exc))
    headers = obj.get("headers", {})
    if not isinstance(headers, dict):
        raise ValueError("%s: headers must be an object" % where)
    try:
        status = int(obj.get("status", 200))
        chunk = int(obj.get("chunk", 4096))
        delay = float(obj.get("delay", 0.0))
        delay_headers = float(obj.get("delay_headers", 0.0))
        close_after = obj.get("close_after_bytes")
        close_after = None if close_after is None else int(close_after)
    except (TypeError, ValueError) as exc:
        raise ValueError("%s: %s" % (where, exc))
    if not 100 <= status <= 999 or chunk < 1 or delay < 0 or delay_headers < 0:
        raise ValueError("%s: status, chunk or delay out of range" % where)
    hostile = parse_hostile(obj, where)
    if hostile.get("bomb") is not None:
        body = hostile["bomb"]
    return {
        "status": status,
        "reason": str(obj.get("reason", "")),
        "body": body,
        "headers": {str(k): str(v) for k, v in headers.items()},
        "content_length": bool(obj.get("content_length", True)),
        "chunk": chunk,
        "delay": delay,
        "delay_headers": delay_headers,
        "close_after_bytes": close_after,
        "close_before_headers": bool(obj.get("close_before_headers", False)),
        "endless": hostile["endless"],
        "hold": hostile["hold"],
        "trickle": hostile["trickle"],
    }


# --------------------------------------------------------------------------
# Hostile replies: what an attacker on the path could send instead of the
# informer's answer. Only scripted replies use them.

MAX_BOMB_BYTES = 64 << 20
ENDLESS_FILLER = b"\x11\r\n" * 1365 + b"\x00"


def parse_hostile(obj, where):
    """The hostile fields of a scripted reply; a bomb is built here."""
    out = {"endless": bool(obj.get("endless", False)), "hold": bool(obj.get("hold", False)), "bomb": None}
    try:
        out["trickle"] = float(obj.get("trickle", 0))
    except (TypeError, ValueError) as exc:
        raise ValueError("%s: bad trickle: %s" % (where, exc))
    if not 0 <= out["trickle"] <= 3600:
        raise ValueError("%s: trickle must be 0..3600 seconds" % where)
    bomb = obj.get("bomb")
    if bomb is not None:
        try:
            head = str(bomb.get("head", "")).encode("cp1251")
            unit = str(bomb["unit"]).encode("cp1251")
            size = int(bomb["bytes"])
            tail = str(bomb.get("tail", "")).encode("cp1251")
        except (AttributeError, KeyError, TypeError, ValueError, UnicodeEncodeError) as exc:
            raise ValueError("%s: bad bomb: %s" % (where, exc))
        if not unit or not 0 < size <= MAX_BOMB_BYTES:
            raise ValueError("%s: a bomb needs a unit and 1..%d bytes" % (where, MAX_BOMB_BYTES))
        packer = zlib.compressobj(9)
        out["bomb"] = packer.compress(head)
        units = max(1, size // len(unit))
        per_block = max(1, (1 << 16) // len(unit))
        for done in range(0, units, per_block):
            out["bomb"] += packer.compress(unit * min(per_block, units - done))
        out["bomb"] = (out["bomb"] + packer.compress(tail) + packer.flush())[2:]
    return out


class Holder:
    """Held replies wait here until the test lets them go."""

    def __init__(self):
        self.cond = threading.Condition()
        self.generation = 0
        self.stopping = False

    def wait(self):
        with self.cond:
            seen = self.generation
            self.cond.wait_for(lambda: self.generation != seen or self.stopping)

    def release(self, stopping=False):
        with self.cond:
            self.generation += 1
            self.stopping = self.stopping or stopping
            self.cond.notify_all()


def send_endless(wfile, body, chunk):
    """Writes the body again and again until the peer goes away."""
    piece = body or ENDLESS_FILLER
    piece = piece * max(1, chunk // len(piece))
    while True:
        wfile.write(piece)
        wfile.flush()


def send_trickle(wfile, body, seconds):
    """Writes the body one byte at a time, `seconds` apart, again and again
    until the peer goes away: a reply that never ends and never goes quiet
    for long enough to time out."""
    piece = body or ENDLESS_FILLER
    for i in itertools.count():
        k = i % len(piece)
        wfile.write(piece[k:k + 1])
        wfile.flush()
        time.sleep(seconds)


def is_loopback(address):
    try:
        return ipaddress.ip_address(address.split("%")[0]).is_loopback
    except ValueError:
        return False


# --------------------------------------------------------------------------
# Demo data

DEMO_FORUMS = collections.OrderedDict([
    ("1", "Общий форум"),
    ("3", "Новости Раразово"),
    ("7", "Техническая поддержка"),
    ("12", "Zelt Rarazovo"),
    ("15", "Барахолка"),
    ("21", "Off-topic"),
])

DEMO_TOPICS = [
    {"title": "Выпущена версия 0.5 программы \"Zelt Rarazovo\"", "path": "topic-4312",
     "forum": "12", "replies": 41, "author": "admin", "encode": "named"},
    {"title": "Проблема с прокси-сервером на работе", "path": "topic-4298",
     "forum": "7", "replies": 17, "author": "Никита", "encode": "numeric"},
    {"title": "«Вечер встреч» в субботу… кто идёт?", "path": "topic-4290",
     "forum": "1", "replies": 63, "author": "Алёна", "encode": "full"},
    {"title": "Tips & tricks: <b>faster</b> polling", "path": "topic-4287",
     "forum": "12", "replies": 8, "author": "Dmitry", "encode": "named"},
    {"title": "Продам велосипед, почти новый", "path": "topic-4281",
     "forum": "15", "replies": 5, "author": "Serg", "encode": "raw"},
    {"title": "Ремонт дороги на Садовой улице", "path": "topic-4270",
     "forum": "3", "replies": 29, "author": "Мария_К", "encode": "named"},
    {"title": "Погода на выходные — ёлки зелёные!", "path": "topic-4266",
     "forum": "1", "replies": 12, "author": "Ёжик", "encode": "numeric"},
    {"title": "Which sound files work best?", "path": "topic-4259",
     "forum": "12", "replies": 3, "author": "Jack", "encode": "named"},
    {"title": "Фотоконкурс \"Осень в Раразово\" © 2024", "path": "topic-4251",
     "forum": "3", "replies": 47, "author": "Фотограф", "encode": "full"},
    {"title": "Куплю гараж недорого", "path": "topic-4244",
     "forum": "15", "replies": 2, "author": "Павел", "encode": "named"},
    {"title": "Программа не стартует после обновления Windows", "path": "topic-4238",
     "forum": "7", "replies": 22, "author": "Оля", "encode": "numeric"},
    {"title": "Random chat: music, films & books", "path": "topic-4230",
     "forum": "21", "replies": 154, "author": "Kate", "encode": "named"},
    {"title": "Расписание автобусов № 5 и № 12", "path": "topic-4221",
     "forum": "3", "replies": 9, "author": "Диспетчер", "encode": "named"},
    {"title": "Флейм о погоде и не только", "path": "topic-4215",
     "forum": "Флейм", "replies": 301, "author": "Тролль", "encode": "raw"},
    {"title": "Спасибо за информер!", "path": "topic-4209",
     "forum": "12", "replies": 14, "author": "Гость", "encode": "named"},
]

DEMO_AUTHORS = ["Иван", "Мария_К", "Dmitry", "Алёна", "Serg", "Никита", "admin",
                "Ёжик", "Павел", "Оля", "Kate", "Jack", "Гость", "Тролль"]


def demo_topic_set():
    return {"latest_version": "0.4", "forums": dict(DEMO_FORUMS),
            "topics": copy.deepcopy(DEMO_TOPICS)}


# --------------------------------------------------------------------------
# Server state, shared by all request threads under one lock

class State:
    def __init__(self, topic_doc, update_dir=None, log_path=None):
        latest, forums, topics = normalize_topic_set(topic_doc)
        self.lock = threading.Lock()
        self.holder = Holder()
        self.initial = (latest or "0.4", forums or {}, topics)
        self.latest_version = latest or "0.4"
        self.forums = dict(forums or {})
        self.topics = copy.deepcopy(topics)
        self.forced_flag = None
        self.memory = collections.OrderedDict()
        self.scripts = {}
        self.overrides = {}
        self.log = []
        self.update_dir = update_dir
        self.log_file = open(log_path, "a", encoding="utf-8") if log_path else None

    def close(self):
        with self.lock:
            if self.log_file:
                self.log_file.close()
                self.log_file = None

    # -- topics

    def replace_topics(self, doc):
        latest, forums, topics = normalize_topic_set(doc)
        with self.lock:
            self.topics = topics
            if forums is not None:
                self.forums = forums
            if latest is not None:
                self.latest_version = latest

    def topic_doc(self):
        with self.lock:
            return {"latest_version": self.latest_version, "forums": dict(self.forums),
                    "topics": copy.deepcopy(self.topics),
                    "flag": self.forced_flag}

    def bump(self, path, replies=1, author=None):
        with self.lock:
            for i, t in enumerate(self.topics):
                if t["path"] == path:
                    m = re.match(r"\s*(\d+)", t["replies"])
                    t["replies"] = str((int(m.group(1)) if m else 0) + int(replies))
                    if author is not None:
                        t["author"] = str(author)
                    self.topics.insert(0, self.topics.pop(i))
                    return copy.deepcopy(t)
        return None

    def simulate_step(self, rng):
        with self.lock:
            if not self.topics:
                return
            i = rng.randrange(len(self.topics))
            t = self.topics.pop(i)
            m = re.match(r"\s*(\d+)", t["replies"])
            t["replies"] = str((int(m.group(1)) if m else 0) + rng.randint(1, 3))
            others = [a for a in DEMO_AUTHORS if a != t["author"]]
            t["author"] = rng.choice(others)
            self.topics.insert(0, t)

    def find_topic(self, link_path):
        with self.lock:
            best = None
            for t in self.topics:
                p = t["path"]
                if (link_path == p or link_path.startswith(p + "-")) and \
                        (best is None or len(p) > len(best["path"])):
                    best = t
            return copy.deepcopy(best) if best else None

    # -- informer replies

    def flag_for(self, client_version):
        with self.lock:
            if self.forced_flag is not None:
                return self.forced_flag
            return "1" if version_older(client_version, self.latest_version) else "0"

    def set_version(self, doc):
        with self.lock:
            if "flag" in doc:
                flag = doc["flag"]
                if flag in (None, "auto"):
                    self.forced_flag = None
                elif not isinstance(flag, bool) and flag in ("0", "1", 0, 1):
                    self.forced_flag = str(flag)
                else:
                    raise ValueError('flag must be "0", "1" or null')
            if doc.get("latest_version") is not None:
                self.latest_version = str(doc["latest_version"])

    def informer_body(self, client_key, count, mode, client_version):
        """The body to send for p=0/1; remembers full replies per client."""
        flag = self.flag_for(client_version)
        with self.lock:
            records = topic_records(self.topics, count)
            if mode == "1" and self.memory.get(client_key) == records:
                self.memory.move_to_end(client_key)
                return b"1" if flag == "1" else b""
            self.memory[client_key] = records
            self.memory.move_to_end(client_key)
            while len(self.memory) > MAX_CLIENTS_REMEMBERED:
                self.memory.popitem(last=False)
        return compress_reply(flag.encode("ascii") + records)

    def forum_body(self):
        with self.lock:
            return compress_reply(forum_list(self.forums))

    # -- scripts and overrides

    def add_script(self, path, replies):
        plans = [parse_reply_plan(r, "replies[%d]" % i) for i, r in enumerate(replies)]
        with self.lock:
            self.scripts.setdefault(path, collections.deque()).extend(plans)
            return len(self.scripts[path])

    def pop_script(self, path):
        with self.lock:
            best = None
            for prefix, queue in self.scripts.items():
                if queue and path.startswith(prefix) and (best is None or len(prefix) > len(best)):
                    best = prefix
            return self.scripts[best].popleft() if best is not None else None

    def set_override(self, doc):
        name = doc.get("name")
        if not isinstance(name, str) or not valid_file_name(name):
            raise ValueError("name must be a plain file name")
        with self.lock:
            if doc.get("remove"):
                self.overrides.pop(name, None)
                return
        plan = parse_reply_plan(doc, "update-file")
        with self.lock:
            self.overrides[name] = plan

    def update_reply(self, name):
        """A reply plan for an update file, or None when there is none."""
        with self.lock:
            plan = self.overrides.get(name)
            folder = self.update_dir
        if plan is not None:
            headers = dict(plan["headers"])
            if not any(k.lower() == "content-type" for k in headers):
                headers["Content-Type"] = content_type_for(name)
            return dict(plan, headers=headers)
        if not folder or not valid_file_name(name):
            return None
        full = os.path.join(folder, name)
        try:
            with open(full, "rb") as f:
                body = f.read()
        except OSError:
            return None
        plan = parse_reply_plan({})
        plan["body"] = body
        plan["headers"] = {"Content-Type": content_type_for(name)}
        return plan

    # -- log and reset

    def record(self, entry):
        with self.lock:
            self.log.append(entry)
            if self.log_file:
                self.log_file.write(json.dumps(entry, ensure_ascii=False) + "\n")
                self.log_file.flush()

    def log_copy(self):
        with self.lock:
            return list(self.log)

    def reset(self, everything=False):
        with self.lock:
            self.scripts.clear()
            self.log.clear()
            self.memory.clear()
            if everything:
                self.forced_flag = None
                self.overrides.clear()
                latest, forums, topics = self.initial
                self.latest_version = latest
                self.forums = dict(forums)
                self.topics = copy.deepcopy(topics)


def valid_file_name(name):
    return bool(name) and "/" not in name and "\\" not in name and \
        not name.startswith(".") and "\x00" not in name


def content_type_for(name):
    lower = name.lower()
    if lower.endswith(".rtf"):
        return "application/rtf"
    if lower.endswith(".zip"):
        return "application/zip"
    return "application/octet-stream"


# --------------------------------------------------------------------------
# HTTP

_ABSOLUTE_URI = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*://")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "ZeltTestServer/1.0"
    sys_version = ""
    timeout = 60

    @property
    def state(self):
        return self.server.state

    def version_string(self):
        return self.server_version

    def log_message(self, fmt, *args):
        if self.server.verbose:
            sys.stderr.write("%s %s\n" % (self.address_string(), fmt % args))

    def do_GET(self):
        self._dispatch()

    def do_POST(self):
        self._dispatch()

    def do_HEAD(self):
        self._dispatch()

    # -- routing

    def _dispatch(self):
        self.entry = None
        target = self.path
        proxied = bool(_ABSOLUTE_URI.match(target))
        if proxied:
            parts = urllib.parse.urlsplit(target)
            path, query = parts.path or "/", parts.query
        else:
            path, _, query = target.partition("?")
            path = path.partition("#")[0]
        if path.startswith(CONTROL_PREFIX):
            self._control(path, query)
            return

        self.entry = {
            "time": time.time(),
            "method": self.command,
            "path": path,
            "query": query,
            "request_line": self.requestline,
            "headers": self._header_dict(),
            "proxied": proxied,
            "client": self.client_address[0],
        }
        self.state.record(self.entry)
        if "close" in (self.headers.get("Proxy-Connection") or "").lower():
            self.close_connection = True
        if self.command == "POST":
            self._drain_body()

        plan = self.state.pop_script(path)
        if plan is not None:
            self._send_plan(plan)
            return
        if self.command == "POST":
            self._send_simple(405, b"method not allowed\n", "text/plain",
                              extra={"Allow": "GET"})
            return

        if path == "/inf.php":
            self._informer(query)
        elif path.startswith(UPDATE_PREFIX):
            name = urllib.parse.unquote(path[len(UPDATE_PREFIX):])
            plan = self.state.update_reply(name)
            if plan is None:
                self._send_simple(404, b"not found\n", "text/plain")
            else:
                self._send_plan(plan)
        elif path.startswith(FORUM_PREFIX):
            self._forum_page(urllib.parse.unquote(path[len(FORUM_PREFIX):]))
        else:
            self._send_simple(404, b"not found\n", "text/plain")

    def _header_dict(self):
        out = {}
        for name, value in self.headers.items():
            out[name] = out[name] + ", " + value if name in out else value
        return out

    def _drain_body(self):
        try:
            length = int(self.headers.get("Content-Length") or 0)
        except ValueError:
            length = 0
            self.close_connection = True
        return self.rfile.read(length) if length > 0 else b""

    # -- informer

    def _informer(self, query):
        params = urllib.parse.parse_qs(query, keep_blank_values=True)

        def first(key):
            values = params.get(key)
            return values[0] if values else None

        mode = first("p")
        if mode == "2":
            body = self.state.forum_body()
        else:
            key = (self.client_address[0], self.headers.get("User-Agent", ""))
            body = self.state.informer_body(key, clamp_count(first("c")),
                                            mode, first("u"))
        self._send_simple(200, body, "text/html")

    def _forum_page(self, link):
        topic = self.state.find_topic(link)
        if topic is None:
            title, info = "Тема не найдена", "Нет темы с адресом %s." % link
            status = 404
        else:
            title = topic["title"]
            info = "Ответов: %s, последний: %s" % (topic["replies"], topic["author"])
            status = 200
        esc = lambda s: s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
        page = ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                "<title>%s</title></head>\n<body><h1>%s</h1>\n<p>%s</p>\n"
                "<p>Zelt Rarazovo test forum</p></body></html>\n"
                % (esc(title), esc(title), esc(info)))
        self._send_simple(status, page.encode("utf-8"), "text/html; charset=utf-8")

    # -- control

    def _control(self, path, query):
        if not is_loopback(self.client_address[0]):
            self._drain_body()
            self._send_json(403, {"error": "control calls are for loopback clients only"})
            return
        raw = self._drain_body() if self.command == "POST" else b""
        try:
            doc = json.loads(raw.decode("utf-8")) if raw.strip() else {}
        except (UnicodeDecodeError, ValueError) as exc:
            self._send_json(400, {"error": "bad JSON: %s" % exc})
            return
        name = path[len(CONTROL_PREFIX):]
        try:
            if self.command == "GET" and name == "log":
                self._send_json(200, self.state.log_copy())
            elif self.command == "GET" and name == "topics":
                self._send_json(200, self.state.topic_doc())
            elif self.command != "POST":
                self._send_json(405, {"error": "use POST"})
            elif not isinstance(doc, dict):
                self._send_json(400, {"error": "the body must be a JSON object"})
            elif name == "script":
                replies = doc.get("replies", [])
                if not isinstance(replies, list):
                    raise ValueError("replies must be an array")
                queued = self.state.add_script(str(doc.get("path", "/inf.php")), replies)
                self._send_json(200, {"ok": True, "queued": queued})
            elif name == "topics":
                self.state.replace_topics(doc)
                self._send_json(200, {"ok": True})
            elif name == "bump":
                topic = self.state.bump(str(doc.get("path", "")),
                                        int(doc.get("replies", 1)), doc.get("author"))
                if topic is None:
                    self._send_json(404, {"error": "no topic with that path"})
                else:
                    self._send_json(200, {"ok": True, "topic": topic})
            elif name == "version":
                self.state.set_version(doc)
                self._send_json(200, {"ok": True})
            elif name == "update-file":
                self.state.set_override(doc)
                self._send_json(200, {"ok": True})
            elif name == "release":
                self.state.holder.release()
                self._send_json(200, {"ok": True})
            elif name == "reset":
                self.state.reset(bool(doc.get("all", False)))
                self._send_json(200, {"ok": True})
            else:
                self._send_json(404, {"error": "unknown control call"})
        except (ValueError, TypeError) as exc:
            self._send_json(400, {"error": str(exc)})

    # -- writing replies

    def _send_json(self, status, obj):
        body = json.dumps(obj, ensure_ascii=False).encode("utf-8")
        self._send_simple(status, body, "application/json; charset=utf-8")

    def _send_simple(self, status, body, ctype, extra=None):
        plan = parse_reply_plan({"status": status})
        plan["body"] = body
        plan["headers"] = {"Content-Type": ctype}
        plan["headers"].update(extra or {})
        self._send_plan(plan)

    def _send_plan(self, plan):
        if plan["close_before_headers"]:
            self.close_connection = True
            return
        if plan["hold"]:
            self.state.holder.wait()
        if plan["delay_headers"]:
            time.sleep(plan["delay_headers"])
        status = plan["status"]
        reason = plan["reason"]
        if not reason:
            try:
                reason = http.HTTPStatus(status).phrase
            except ValueError:
                reason = "Status"
        body = plan["body"]
        headers = dict(plan["headers"])
        names = {k.lower() for k in headers}
        if "content-type" not in names:
            headers["Content-Type"] = "text/html"
        if "content-length" in names:
            # A length given by the script may be a lie: never reuse the connection.
            self.close_connection = True
        elif plan["content_length"] and not plan["endless"] and not plan["trickle"]:
            headers["Content-Length"] = str(len(body))
        else:
            self.close_connection = True
        if plan["close_after_bytes"] is not None:
            body = body[:plan["close_after_bytes"]]
            self.close_connection = True
        if self.close_connection and "connection" not in names:
            headers["Connection"] = "close"

        head = ["%s %d %s" % (self.protocol_version, status, reason),
                "Server: " + self.version_string(),
                "Date: " + self.date_time_string()]
        head += ["%s: %s" % kv for kv in headers.items()]
        self.log_request(status, len(body))
        try:
            self.wfile.write(("\r\n".join(head) + "\r\n\r\n").encode("latin-1", errors="replace"))
            if self.command == "HEAD":
                return
            if plan["endless"]:
                send_endless(self.wfile, body, plan["chunk"])
            if plan["trickle"]:
                send_trickle(self.wfile, body, plan["trickle"])
            chunk, delay = plan["chunk"], plan["delay"]
            for i in range(0, len(body), chunk):
                if i and delay:
                    time.sleep(delay)
                self.wfile.write(body[i:i + chunk])
                self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError, ConnectionAbortedError, socket.timeout):
            # The client went away (a size-only request stops after the headers).
            self.close_connection = True
            if getattr(self, "entry", None) is not None:
                self.entry["aborted"] = True


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, state, verbose=False):
        self.state = state
        self.verbose = verbose
        super().__init__(address, Handler)

    def handle_error(self, request, client_address):
        if self.verbose:
            super().handle_error(request, client_address)


# --------------------------------------------------------------------------
# Main

def write_port_file(path, port):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="ascii") as f:
        f.write("%d\n" % port)
    os.replace(tmp, path)


def main(argv=None):
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description="Informer and update test server.")
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=DEFAULT_PORT)
    ap.add_argument("--port-file")
    ap.add_argument("--ready", help='write "port=<n>" to this file once listening')
    ap.add_argument("--alive", help="end once this file no longer exists")
    ap.add_argument("--max-seconds", type=float, help="end after this many seconds")
    source = ap.add_mutually_exclusive_group()
    source.add_argument("--topics", help="topic set JSON file")
    source.add_argument("--demo", action="store_true", help="built-in demo topics with simulation")
    ap.add_argument("--update-dir", help="folder of the update files")
    ap.add_argument("--log", help="append the request log to this JSON-lines file")
    ap.add_argument("--tick", type=float, default=20.0,
                    help="demo: seconds between simulated new messages (0 = none)")
    ap.add_argument("--seed", type=int, help="demo: random seed")
    ap.add_argument("--verbose", action="store_true", help="log requests to stderr")
    args = ap.parse_args(argv)

    if args.demo:
        doc = demo_topic_set()
        update_dir = args.update_dir or os.path.join(here, "demo", "update")
    elif args.topics:
        try:
            with open(args.topics, encoding="utf-8") as f:
                doc = json.load(f)
        except (OSError, ValueError) as exc:
            ap.error("cannot read %s: %s" % (args.topics, exc))
        update_dir = args.update_dir
    else:
        doc = {"latest_version": "0.4", "forums": {}, "topics": []}
        update_dir = args.update_dir
    try:
        state = State(doc, update_dir, args.log)
    except ValueError as exc:
        ap.error(str(exc))

    # The handler only records the signal: taking locks inside a signal
    # handler can deadlock against the interrupted main thread.
    stopping = []
    signal.signal(signal.SIGTERM, lambda signum, _frame: stopping.append(signum))
    signal.signal(signal.SIGINT, lambda signum, _frame: stopping.append(signum))

    try:
        server = Server((args.host, args.port), state, args.verbose)
    except OSError as exc:
        sys.stderr.write("cannot listen on %s:%d: %s\n" % (args.host, args.port, exc))
        return 2
    port = server.server_address[1]
    if args.port_file:
        write_port_file(args.port_file, port)
    if args.ready:
        tmp = args.ready + ".tmp"
        with open(tmp, "w", encoding="ascii") as f:
            f.write("port=%d\n" % port)
        os.replace(tmp, args.ready)
    sys.stdout.write("PORT %d\n" % port)
    sys.stdout.flush()

    serving = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2},
                               name="serve", daemon=True)
    serving.start()

    rng = random.Random(args.seed)
    simulate = args.demo and args.tick > 0
    next_tick = time.monotonic() + args.tick
    deadline = time.monotonic() + args.max_seconds if args.max_seconds else None
    while not stopping:
        time.sleep(0.1)
        if (args.alive and not os.path.exists(args.alive)) or (deadline and time.monotonic() > deadline):
            break
        if simulate and not stopping and time.monotonic() >= next_tick:
            state.simulate_step(rng)
            next_tick = max(next_tick + args.tick, time.monotonic())

    state.holder.release(stopping=True)
    server.shutdown()
    server.server_close()
    serving.join(timeout=5)
    state.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
