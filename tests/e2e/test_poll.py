"""The real program polls the informer server with the settings of its
data.dat (the forum list, the counters and the read marks it keeps are in
test_soak)."""

import os

import datfile
from harness import E2ETestCase, driver, here_count, wait_until

TOPICS = os.path.join(os.path.dirname(__file__), "data", "topics.json")
VK_F5 = 0x74


def query(r):
    return dict(kv.split("=", 1) for kv in r["query"].split("&"))


class PollTest(E2ETestCase):
    def test_the_first_request_asks_for_the_whole_list_the_next_for_changes(self):
        srv = self.server("--topics", TOPICS)
        state = {"TopicCount": 7, "ForumNames": ["Общий=15", "Новости=5"]}
        self.program(data_dat=datfile.encode(state)).start()
        wait_until(lambda: here_count() == 1, 60, what="the program")
        keys = driver()
        self.addCleanup(keys.close)

        def two():
            # The timer polls once a minute at most: F5 asks for the next one
            # (a press while a request runs is skipped).
            if len(srv.informer_requests()) >= 2:
                return srv.informer_requests()[:2]
            keys.key(VK_F5, "ZeltMainForm")
            return None
        reqs = wait_until(two, 60, 0.2, what="two requests")
        self.assertEqual([query(r) for r in reqs], [{"c": "7", "u": "0.4", "p": "0"}, {"c": "7", "u": "0.4", "p": "1"}])
        for r in reqs:
            self.assertEqual((r["method"], r["headers"].get("User-Agent"), r["headers"].get("Connection")),
                             ("GET", "Zelt Rarazovo 0.4", "close"))
