#!/usr/bin/env python3
"""A till in Python: takes a payment on the terminal, shows the terminal's screen and sends
the operator's presses typed on the keyboard; at start-up it first recovers what an earlier
run left unfinished in its journal.

    kov-simulator --listen 127.0.0.1:8080 &
    export KOV_KEY=s3cret
    python3 till.py http://127.0.0.1:8080/wqmi3/pos.aspx T-0001 12.50 --journal till.db

On a screen with buttons, type 1 or 2 (and Enter) to press one. Each result is written on
stdout, the till's record of it, and then acknowledged: until then the journal keeps it and
the next run hands it over again. Ctrl-C asks the terminal to cancel the payment under way
and waits for its result; a second Ctrl-C abandons it, and it stays pending in the journal
for the next run. The exit status is 0 when every payment was approved, 1 otherwise, 2 for a
refused argument (a journal or CA file that cannot be used among them), 130 after an
abandoning Ctrl-C. The package's warnings (a failed poll, an abandoned payment) and errors
(a time-out) are written on stderr; KOV_DEBUG=1 adds its debug log, requests with the key
masked and answers.
"""

import argparse
import asyncio
import logging
import os
import signal
import sys

import kovmodule


class Operator:
    """The screen shown last, and the operator's presses on its buttons from the keyboard."""

    def __init__(self, client: kovmodule.aio.Client) -> None:
        self.client = client
        self.screen: kovmodule.Screen | None = None

    def show(self, screen: kovmodule.Screen) -> None:
        if screen == self.screen:  # the terminal's answer to each poll repeats the screen it shows
            return
        self.screen = screen
        buttons = [f"[{n}] {label}" for n, label in ((1, screen.button1), (2, screen.button2)) if label]
        print(f"{screen.state.name}: {screen.line1} / {screen.line2}", *buttons, flush=True)

    def typed(self) -> None:
        keys = os.read(sys.stdin.fileno(), 64).decode(errors="replace")
        if not keys:
            asyncio.get_running_loop().remove_reader(sys.stdin.fileno())
        for key in keys.strip():
            label = {"1": self.screen.button1, "2": self.screen.button2}.get(key) if self.screen else None
            if label:
                try:
                    self.client.press(f"B{key}", label)
                except kovmodule.UsageError as refused:  # the transaction ended meanwhile
                    print(refused, file=sys.stderr)


async def record(client: kovmodule.aio.Client, result: kovmodule.ResultDetails) -> None:
    """Writes the result down, the till's own record of it, and only then acknowledges it."""
    auth = f" auth {result.auth_code}" if result.auth_code else ""
    print(f"{result.txn_ref}: {result.result.name} {result.response_text or ''}{auth}".rstrip(), flush=True)
    if result.result == kovmodule.Result.TIMEOUT:
        print(f"the outcome is unknown ({result.reason}): run again to recover it", flush=True)
    await client.acknowledge(result.txn_ref)


def on_ctrl_c(client: kovmodule.aio.Client, task: asyncio.Task[bool]) -> None:
    """The first Ctrl-C asks the terminal to cancel and the till waits for the result; the
    second abandons the payment."""
    loop = asyncio.get_running_loop()

    def interrupted() -> None:
        loop.remove_signal_handler(signal.SIGINT)
        loop.add_signal_handler(signal.SIGINT, task.cancel)
        client.cancel()
        print("cancelling at the terminal; Ctrl-C again abandons the payment", file=sys.stderr, flush=True)
    loop.add_signal_handler(signal.SIGINT, interrupted)


async def till(args: argparse.Namespace, key: str) -> bool:
    results = []
    async with kovmodule.aio.Client(args.endpoint, ca_file=args.ca_file, journal=args.journal) as client:
        operator = Operator(client)
        try:
            asyncio.get_running_loop().add_reader(sys.stdin.fileno(), operator.typed)
        except OSError:  # a regular file: no keyboard
            pass
        task = asyncio.current_task()
        assert task is not None
        on_ctrl_c(client, task)
        for entry in await client.pending():
            print(f"recovering {entry.txn_ref}, {entry.stage.name.lower()} at {entry.started_at:%Y-%m-%d %H:%M} UTC",
                  flush=True)
            # No user or station: the journal's, those the payment was taken with.
            results.append(await client.recover(None, key, None, entry.txn_ref, on_screen=operator.show))
            await record(client, results[-1])
        if args.txn_ref:
            results.append(await client.purchase(args.user, key, args.station, args.txn_ref, args.amount,
                                                 args.currency, merchant_ref=args.merchant_ref,
                                                 on_screen=operator.show))
            await record(client, results[-1])
    return all(result.approved for result in results)


def main() -> int:
    parser = argparse.ArgumentParser(description="Takes a payment; recovers what a journal holds unfinished.")
    parser.add_argument("endpoint", help="the payment service, https (or http on this machine)")
    parser.add_argument("txn_ref", nargs="?", help="the new payment's reference (none: recover only)")
    parser.add_argument("amount", nargs="?", help="the amount, such as 12.50")
    parser.add_argument("--currency", default="AUD")
    parser.add_argument("--user", default="merchant")
    parser.add_argument("--station", default="till-1")
    parser.add_argument("--merchant-ref")
    parser.add_argument("--journal", help="the SQLite file that remembers payments in flight")
    parser.add_argument("--ca-file", help="a PEM file of CAs to trust besides the system's")
    args = parser.parse_intermixed_args()
    key = os.environ.get("KOV_KEY")  # never on the command line, where ps shows it
    if not key:
        parser.error("set the merchant key in the environment variable KOV_KEY")
    if args.txn_ref and not args.amount:
        parser.error("a payment needs an amount")
    # The package logs to the "kovmodule" logger, as any library does: the till decides what shows.
    logging.basicConfig(format="%(levelname)s %(message)s")
    if os.environ.get("KOV_DEBUG") == "1":
        logging.getLogger("kovmodule").setLevel(logging.DEBUG)
    try:
        return 0 if asyncio.run(till(args, key)) else 1
    # DuplicateReferenceError is a UsageError: a reference is used once. JournalError is an
    # OSError, as is a CA file that cannot be opened.
    except (kovmodule.UsageError, OSError) as refused:
        print(f"refused: {refused}", file=sys.stderr)
        return 2
    except (KeyboardInterrupt, asyncio.CancelledError):
        return 130


if __name__ == "__main__":
    sys.exit(main())
