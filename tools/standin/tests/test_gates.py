"""Gates: requests held until the test releases them, and waiting for their arrival."""

import threading
import time

from . import support
from .support import api, ok, records


class GateTest(support.StandinTestCase):
    def hold(self, endpoint, **step):
        ok(self.server, "POST", "/script", {"endpoint": endpoint, "step": step})

    def send(self, endpoint="authUserLogin"):
        """The request on a thread of its own, whose `answer` is set once answered."""
        def run():
            thread.answer = (support.login(self.server)[0] if endpoint == "authUserLogin"
                             else api(self.server, "GET", endpoint))
        thread = threading.Thread(target=run, daemon=True)
        thread.answer = None
        thread.start()
        return thread

    def gates(self, query=""):
        return ok(self.server, "GET", "/gates" + query)["gates"]

    def test_held_login_answers_only_when_released(self):
        self.hold("authUserLogin", hold="g")
        thread = self.send()
        self.assertEqual(self.gates("?gate=g&arrived=1&wait_ms=5000"),
                         {"g": {"arrived": 1, "waiting": 1, "open": False}})
        thread.join(0.3)
        self.assertEqual((thread.answer, records(self.server)), (None, []))
        self.assertEqual(ok(self.server, "POST", "/release", {"gate": "g"})["gates"],
                         {"g": {"arrived": 1, "waiting": 0, "open": True}})
        thread.join(5)
        self.assertEqual(thread.answer.json()["result"]["success"], True)
        hold = records(self.server)[-1]["hold"]
        self.assertEqual((hold["gate"], hold["released"], hold["waited_ms"] >= 300), ("g", True, True))
        # An open gate holds no more, nor one opened before anything arrived.
        ok(self.server, "POST", "/release", {"gate": "early"})
        self.hold("authUserLogin", hold="g")
        self.hold("authUserLogout", hold="early")
        self.assertEqual(support.login(self.server)[0].status, 200)
        self.assertEqual(api(self.server, "GET", "authUserLogout").status, 200)
        self.assertEqual(self.gates(), {"g": {"arrived": 2, "waiting": 0, "open": True},
                                        "early": {"arrived": 1, "waiting": 0, "open": True}})

    def test_arrival_wait_returns_at_arrival_or_times_out(self):
        started = time.monotonic()
        self.assertEqual(self.gates("?gate=late&arrived=1&wait_ms=300"),
                         {"late": {"arrived": 0, "waiting": 0, "open": False}})
        self.assertGreaterEqual(time.monotonic() - started, 0.3)
        self.hold("authUserLogout", hold="late")
        timer = threading.Timer(0.3, lambda: setattr(self, "thread", self.send("authUserLogout")))
        timer.start()
        started = time.monotonic()
        self.assertEqual(self.gates("?gate=late&arrived=1&wait_ms=10000")["late"]["arrived"], 1)
        self.assertLess(time.monotonic() - started, 3)
        timer.join()
        ok(self.server, "POST", "/release", {"gate": "late"})
        self.thread.join(5)
        self.assertEqual(self.thread.answer.json()["result"]["errno"], 7)

    def test_times_two_release_of_every_gate_and_reset(self):
        self.hold("authUserLogin", hold="a", times=2)
        self.hold("authUserLogout", hold="b")
        threads = [self.send(), self.send(), self.send("authUserLogout")]
        self.assertEqual(self.gates("?gate=a&arrived=2&wait_ms=5000")["a"],
                         {"arrived": 2, "waiting": 2, "open": False})
        self.assertEqual(self.gates("?gate=b&arrived=1&wait_ms=5000")["b"]["waiting"], 1)
        self.assertEqual(ok(self.server, "POST", "/release", {"gate": "*"})["gates"],
                         {"a": {"arrived": 2, "waiting": 0, "open": True},
                          "b": {"arrived": 1, "waiting": 0, "open": True}})
        self.hold("authUserLogin", hold="r")
        threads.append(self.send())
        self.gates("?gate=r&arrived=1&wait_ms=5000")
        ok(self.server, "POST", "/reset")           # releases the waiter, forgets every gate
        for thread in threads:
            thread.join(5)
            self.assertEqual(thread.answer.status, 200)
        self.assertEqual(self.gates(), {})

    def test_bad_gate_names_are_refused(self):
        for path, body in [("/script", {"step": {"hold": "*"}}), ("/script", {"step": {"hold": 1}}),
                           ("/release", {}), ("/release", {"gate": 1})]:
            self.assertEqual(support.control(self.server, "POST", path, body)[0], 400, body)
