"""The real program polls the informer server with the settings of its
data.dat (the forum list, the counters and the read marks it keeps are in
test_soak)."""

import os

import datfile
from harness import E2ETestCase, wait_until

TOPICS = os.path.join(os.path.dirname(__file__), "data", "topics.json")


def query(r):
    return dict(kv.split("=", 1) for kv in r["query"].split("&"))


class PollTest(E2ETestCase):
    def test_the_first_request_asks_for_the_whole_list_the_next_for_changes(self):
        srv = self.server("--topics", TOPICS)
        state = {"IntervalMs": 1500, "TopicCount": 7, "ForumNames": ["Общий=15", "Новости=5"]}
        self.program(data_dat=datfile.encode(state)).start()
        reqs = wait_until(lambda: srv.informer_requests()[:2] if len(srv.informer_requests()) >= 2 else None, 60,
                          what="two requests")
        self.assertEqual([query(r) for r in reqs], [{"c": "7", "u": "0.4", "p": "0"}, {"c": "7", "u": "0.4", "p": "1"}])
        for r in reqs:
            self.assertEqual((r["method"], r["headers"].get("User-Agent"), r["headers"].get("Connection")),
                             ("GET", "Zelt Rarazovo 0.4", "close"))
