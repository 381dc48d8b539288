"""Fixtures: kov-simulator on loopback, and both clients behind one blocking face."""

import asyncio
import inspect
import itertools
import json
import os
import subprocess
import urllib.request

import pytest

import kovmodule

KEY = "py-h0st-k3y"
_refs = itertools.count(1)


def _simulator(speed, *more):
    """kov-simulator on a port of the system's choosing; its first line names its URL."""
    process = subprocess.Popen(
        [os.environ["KOV_SIMULATOR"], "--listen", "127.0.0.1:0", "--speed", speed, "--tmo", "1", "--key", KEY, *more],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = process.stdout.readline()
    assert line.startswith("kov-simulator listening on "), line
    yield line.split()[-1]
    process.terminate()
    process.wait(timeout=30)


@pytest.fixture(scope="session")
def simulator():
    yield from _simulator("20")


@pytest.fixture(scope="session")
def slow_simulator():
    """For a press that must reach a screen before it moves on, on a loaded machine too: the
    card screen stays half a second."""
    yield from _simulator("4")


@pytest.fixture
def tls_simulator(tmp_path):
    """Over TLS, its test CA in tmp_path/ca.pem."""
    yield from _simulator("20", "--tls", "--cert-dir", str(tmp_path))


@pytest.fixture
def ref(request):
    """A transaction reference and station of the test's own: a terminal takes one at a time."""
    return f"PY-{next(_refs)}-{os.getpid()}"


class Blocking:
    """The asyncio client with each coroutine run to its end on a loop of its own, so that
    one table of cases runs the blocking client and the asyncio client alike."""

    def __init__(self, *args, **kwargs):
        self.loop = asyncio.new_event_loop()
        self.client = kovmodule.aio.Client(*args, **kwargs)

    def __getattr__(self, name):
        attribute = getattr(self.client, name)
        if not inspect.iscoroutinefunction(attribute):
            return attribute
        return lambda *args, **kwargs: self.loop.run_until_complete(attribute(*args, **kwargs))

    def close(self):
        self.loop.run_until_complete(self.client.aclose())


@pytest.fixture(params=["sync", "aio"])
def open_client(request, simulator):
    """Opens clients of the case's kind (on the simulator unless told otherwise), polling and
    retrying at once unless told otherwise; all closed at the end of the case."""
    opened = []

    def open_client(endpoint=simulator, **kwargs):
        kwargs = {"retry_spacing": 0, "poll_floor": 0, **kwargs}
        client = kovmodule.Client(endpoint, **kwargs) if request.param == "sync" else Blocking(endpoint, **kwargs)
        opened.append(client)
        return client

    open_client.kind = request.param
    yield open_client
    for client in opened:
        client.close()
        if isinstance(client, Blocking):
            client.loop.close()


def kind(client):
    """"sync" or "aio": which client the case runs."""
    return "aio" if isinstance(client, Blocking) else "sync"


def purchase(client, ref, merchant_ref="sim:approve", key=KEY, amount="12.50", currency="AUD", **options):
    """A purchase by the simulator's merchant, with the ref as its reference and station."""
    return client.purchase("merchant", key, ref, ref, amount, currency, merchant_ref=merchant_ref, **options)


def received(simulator, ref):
    """The requests the simulator received for the reference, per type ({} when none)."""
    stats = simulator.rsplit("/wqmi3/", 1)[0] + "/_sim/stats"
    direct = urllib.request.build_opener(urllib.request.ProxyHandler({}))  # loopback: never a proxy
    with direct.open(stats, timeout=30) as answer:
        return json.load(answer)["transactions"].get(ref, {})
