"""The real program polls the informer server, keeps its state in data.dat
and writes its registry values."""

import os
import subprocess

import datfile
from harness import E2ETestCase, here_count, probe, wait_until, wine_env

UA = "Zelt Rarazovo 0.4"
SEP = "\x11"


def topic_text(flag, topics):
    return flag + "".join(SEP.join(t) + SEP for t in topics)


def query(r):
    return dict(kv.split("=", 1) for kv in r["query"].split("&"))


def reg_query(key, value):
    out = subprocess.run(["wine", "reg", "query", key, "/v", value], capture_output=True, env=wine_env())
    if out.returncode != 0:
        return None
    for line in out.stdout.decode("cp1251", "replace").splitlines():
        parts = line.split(None, 2)
        if len(parts) == 3 and parts[0] == value:
            return parts[2].strip()
    return None


def polls(srv, n):
    """F5 until the server has seen n requests (a press while one runs is
    skipped); the timer polls once a minute at most."""
    def enough():
        if len(srv.informer_requests()) >= n:
            return srv.informer_requests()[:n]
        probe("key", "ZeltMainForm", 0x74)
        return None
    return wait_until(enough, 60, 0.2, what=f"{n} requests")


class PollTest(E2ETestCase):
    def start(self, **state):
        prog = self.program(data_dat=datfile.encode(state)).start()
        wait_until(lambda: here_count() == 1, 60, what="the program")
        return prog

    def test_requests_p0_then_p1_with_the_agent_and_the_topic_count(self):
        srv = self.server("--topics", os.path.join(os.path.dirname(__file__), "data", "topics.json"))
        self.start(TopicCount=7, ForumNames=["Общий=15", "Новости=5"])
        reqs = polls(srv, 2)
        self.assertEqual([query(r) for r in reqs],
                         [{"c": "7", "u": "0.4", "p": "0"}, {"c": "7", "u": "0.4", "p": "1"}])
        for r in reqs:
            self.assertEqual(r["headers"].get("User-Agent"), UA)
            self.assertEqual(r["headers"].get("Connection"), "close")
            self.assertEqual(r["method"], "GET")

    def test_unknown_forum_ids_make_the_next_request_ask_for_the_forum_list(self):
        srv = self.server()
        srv.control("script", {"path": "/inf.php", "replies": [
            {"text": topic_text("0", [("Тема один", "t-1", "15", "3", "Ivan"), ("Тема два", "t-2", "5", "1", "Olga")])},
        ]})
        srv.control("topics", {"latest_version": "0.4", "forums": {"15": "General", "5": "Новости"},
                               "topics": [{"title": "Тема один", "path": "t-1", "forum": "15", "replies": 3,
                                           "author": "Ivan"}]})
        prog = self.start()
        reqs = polls(srv, 3)
        self.assertEqual([query(r)["p"] for r in reqs], ["0", "2", "1"])
        self.assertEqual(prog.halt(), 0)
        state = datfile.decode(open(prog.data_path, "rb").read())
        self.assertEqual(sorted(state["ForumNames"]), sorted(["General=15".encode(), "Новости=5".encode("cp1251")]))

    def test_a_fresh_install_saves_the_defaults_and_the_first_request_at_exit(self):
        srv = self.server()
        prog = self.program(data_dat=None).start()
        wait_until(lambda: len(srv.informer_requests()) >= 1, 60, what="the first request")
        wait_until(lambda: here_count() == 1, 60, what="the program")
        self.assertEqual(prog.halt(), 0)
        state = datfile.decode(open(prog.data_path, "rb").read())
        self.assertEqual(state["IntervalMs"], 300000)
        self.assertEqual(state["TopicCount"], 10)
        for flag in ("IgnoreOwnPosts", "AutoStart", "ShowOnNew", "UseSounds", "UseIESettings", "ProxyPort"):
            self.assertEqual(state[flag], 0, flag)
        for name in datfile.STRINGS:
            self.assertEqual(state[name], b"", name)
        self.assertEqual(state["TotalOutBytes"], 544)
        self.assertEqual(state["LastOutBytes"], 544)
        self.assertGreater(state["TrafficSince"], 700000.0)

    def test_data_dat_after_halt_holds_counters_and_the_forum_list(self):
        srv = self.server()
        srv.control("topics", {"latest_version": "0.4", "forums": {"15": "General"},
                               "topics": [{"title": "A", "path": "t-1", "forum": "15", "replies": 3,
                                           "author": "Ivan"}]})
        prog = self.start()
        polls(srv, 3)  # a reply, the forum list and one more
        self.assertEqual(prog.halt(), 0)
        state = datfile.decode(open(prog.data_path, "rb").read())
        self.assertEqual(state["TopicCount"], 10)
        self.assertEqual(state["ForumNames"], [b"General=15"])
        n = len(srv.informer_requests())
        self.assertEqual(state["TotalOutBytes"], 544 * n)
        self.assertGreater(state["TotalInBytes"], 0)
        self.assertGreater(state["TotalInUnpacked"], 0)

    def test_install_path_and_autostart_value_in_the_registry(self):
        self.server()
        prog = self.start(AutoStart=1)
        path = reg_query(r"HKLM\SOFTWARE\Zelt Rarazovo", "Path")
        self.assertIsNotNone(path)
        self.assertTrue(path.lower().endswith("\\" + os.path.basename(prog.dir).lower() + "\\zeltinformer.exe"), path)
        self.assertEqual(prog.halt(), 0)
        run = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
        self.assertEqual(reg_query(run, "ZeltInformerA"), f'"{path}"')  # quoted: the path may hold blanks
        state = datfile.decode(open(prog.data_path, "rb").read())
        state["AutoStart"] = 0
        with open(prog.data_path, "wb") as f:
            f.write(datfile.encode(state))
        prog.start()
        wait_until(lambda: here_count() == 1, 60, what="the second run")
        self.assertEqual(prog.halt(), 0)
        self.assertIsNone(reg_query(run, "ZeltInformerA"))
