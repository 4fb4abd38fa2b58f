"""Gates: a scripted request waits at a named gate until the control API opens it.

A test holds a request where it would be answered, learns through GET /gates
that it arrived, does what it needs while the client waits, and then releases
it: no fixed delays for synchronisation. A gate, once open, stays open until
the next reset.
"""

import threading
import time

# A held request answers by itself after this long, released or not.
HOLD_LIMIT = 600.0
MAX_WAIT_MS = 60000


class _Gate:
    def __init__(self):
        self.arrived = 0
        self.waiting = 0
        self.open = False

    def to_json(self):
        return {"arrived": self.arrived, "waiting": self.waiting, "open": self.open}


class Gates:
    def __init__(self):
        self._changed = threading.Condition()
        self._gates = {}

    def hold(self, name, limit=HOLD_LIMIT):
        """Count an arrival at the gate, then wait until it is open or the limit
        has passed. Returns whether it was opened."""
        deadline = time.monotonic() + limit
        with self._changed:
            # The waiter keeps its gate object, so a reset that forgets the
            # gate still finds it open.
            gate = self._gates.setdefault(name, _Gate())
            gate.arrived += 1
            gate.waiting += 1
            self._changed.notify_all()
            try:
                while not gate.open:
                    remaining = deadline - time.monotonic()
                    if remaining <= 0:
                        break
                    self._changed.wait(remaining)
                return gate.open
            finally:
                gate.waiting -= 1
                self._changed.notify_all()

    def release(self, name):
        """Open one gate ("*": every gate there is). A gate not yet known is
        made open, so that requests arriving later pass it. Returns once the
        requests that waited there have gone on (or after a few seconds), so
        that the caller's next look at the gates finds none waiting."""
        with self._changed:
            opened = list(self._gates.values()) if name == "*" else [self._gates.setdefault(name, _Gate())]
            for gate in opened:
                gate.open = True
            self._changed.notify_all()
            self._changed.wait_for(lambda: not any(g.waiting for g in opened), 5.0)

    def reset(self):
        with self._changed:
            for gate in self._gates.values():
                gate.open = True
            self._gates = {}
            self._changed.notify_all()

    def to_json(self, name=None, arrived=0, wait_ms=0):
        """Every gate; first waits up to wait_ms until `arrived` requests
        arrived at gate `name`. A gate named is listed even before anything
        arrived there."""
        deadline = time.monotonic() + min(wait_ms, MAX_WAIT_MS) / 1000.0
        with self._changed:
            while name is not None:
                gate = self._gates.get(name)
                remaining = deadline - time.monotonic()
                if (gate.arrived if gate else 0) >= arrived or remaining <= 0:
                    break
                self._changed.wait(remaining)
            gates = {n: g.to_json() for n, g in self._gates.items()}
            if name is not None and name not in gates:
                gates[name] = _Gate().to_json()
            return {"gates": gates}
