"""The real program polls the informer server, keeps its state in data.dat
and writes its registry values."""

import os

import datfile
from harness import E2ETestCase, here_count, wait_until

TOPICS = os.path.join(os.path.dirname(__file__), "data", "topics.json")


def query(r):
    return dict(kv.split("=", 1) for kv in r["query"].split("&"))


class PollTest(E2ETestCase):
    def start(self, **state):
        prog = self.program(data_dat=datfile.encode(dict({"IntervalMs": 1500}, **state))).start()
        wait_until(lambda: here_count() == 1, 60, what="the program")
        return prog

    def requests(self, srv, n):
        return wait_until(lambda: srv.informer_requests()[:n] if len(srv.informer_requests()) >= n else None, 60,
                          what=f"{n} requests")

    def test_the_first_request_asks_for_the_whole_list_the_next_for_changes(self):
        srv = self.server("--topics", TOPICS)
        self.start(TopicCount=7, ForumNames=["Общий=15", "Новости=5"])
        reqs = self.requests(srv, 2)
        self.assertEqual([query(r) for r in reqs], [{"c": "7", "u": "0.4", "p": "0"}, {"c": "7", "u": "0.4", "p": "1"}])
        for r in reqs:
            self.assertEqual((r["method"], r["headers"].get("User-Agent"), r["headers"].get("Connection")),
                             ("GET", "Zelt Rarazovo 0.4", "close"))

    def test_unknown_forums_bring_the_forum_list_which_is_kept_with_the_counters(self):
        srv = self.server("--topics", TOPICS)
        prog = self.start()
        self.assertEqual([query(r)["p"] for r in self.requests(srv, 3)], ["0", "2", "1"])
        self.assertEqual(prog.halt(), 0)
        state = datfile.decode(open(prog.data_path, "rb").read())
        self.assertEqual(sorted(state["ForumNames"]), sorted(["Общий=15".encode("cp1251"), "Новости=5".encode("cp1251")]))
        self.assertEqual(state["TotalOutBytes"], 544 * len(srv.informer_requests()))
        self.assertGreater(state["TotalInUnpacked"], state["TotalInBytes"])
