"""Input the package refuses, with the reason in the error's text and nothing sent; the key
in no error. Either client, the constructor included."""

import asyncio
import decimal
import errno

import pytest
from conftest import KEY, purchase, received

import kovmodule
from kovmodule import DuplicateReferenceError, JournalError, UsageError


def opening(**settings):
    return lambda open_client, ref: open_client(**settings)


def buying(**fields):
    return lambda open_client, ref: purchase(open_client(), ref, **fields)


def pressing(*args):
    return lambda open_client, ref: open_client().press(*args)


def forgetting(open_client, ref):
    open_client().forget(ref)


def closed(open_client, ref):
    client = open_client()
    client.close()
    purchase(client, ref)


async def shown(screen):
    """A coroutine function where a plain function is needed."""


# The attributes of an error about a file, as an OSError has them.
MISSING_JOURNAL = {"errno": errno.ENOENT, "filename": "/nonexistent/journal.db", "strerror": "No such file or directory"}
MISSING_CA = {"errno": errno.ENOENT, "filename": "/nonexistent/ca.pem", "strerror": "No such file or directory"}


@pytest.mark.parametrize("call, error, text", [
    (opening(endpoint="http://192.0.2.1/wqmi3/pos.aspx"), UsageError,
     "the endpoint is refused: plain http is accepted only for a loopback host; use https"),
    (opening(endpoint=None), UsageError, "no endpoint was given"),
    ((opening(journal="/nonexistent/journal.db"), MISSING_JOURNAL), JournalError,
     "/nonexistent/journal.db: No such file or directory"),
    ((opening(ca_file="/nonexistent/ca.pem"), MISSING_CA), FileNotFoundError,
     "[Errno 2] No such file or directory: '/nonexistent/ca.pem'"),
    (opening(retry_spacing=3601), UsageError, "the retry spacing must be at most 3600 seconds"),
    (opening(poll_floor=-1), UsageError, "the poll floor must be from 0 to 60 seconds"),
    (buying(amount="12,50"), UsageError, "the amount '12,50' is not a plain decimal number such as 12.50"),
    (buying(amount=12.5), TypeError, "the amount must be a Decimal, an int or text such as '12.50', not float: "
                                     "a float is not exact"),
    (buying(key=KEY + "\0"), UsageError, "the key holds a NUL character, which C text cannot carry"),
    (buying(key=KEY + "\udc80"), UsageError, "the key is not valid Unicode text: it holds a lone surrogate"),
    (buying(key=b"bytes"), TypeError, "the key must be text (str), not bytes"),
    (buying(colour="red"), TypeError, "unexpected keyword argument 'colour'"),
    (buying(on_screen=shown), TypeError, "the on_screen callback must be a plain function, but shown is a coroutine "
                                         "function (async def): it would be called and never awaited"),
    (buying(on_log="print"), TypeError, "the on_log callback must be a function, not str"),
    # What would not reach the service as given: the engine's check, whose table has every text.
    (buying(amount="12.509"), UsageError, "The amount 12.509 has more than two decimals: it would be sent as 12.50."),
    (pressing("B3"), UsageError, 'a button is "B1" or "B2"'),
    (pressing("B1", "YES"), UsageError, "no transaction runs on this client"),
    (forgetting, UsageError, "No journal is set."),
    (closed, UsageError, "the client is closed"),
])
def test_refused(open_client, simulator, ref, call, error, text):
    call, attributes = call if isinstance(call, tuple) else (call, {})
    with pytest.raises(error) as refused:
        call(open_client, ref)
    assert (type(refused.value), str(refused.value)) == (error, text)
    assert {name: getattr(refused.value, name) for name in attributes} == attributes
    assert KEY not in str(refused.value) and not refused.value.__context__
    assert received(simulator, ref) == {}


def test_a_reference_is_never_used_for_a_second_payment(open_client, simulator, ref, tmp_path):
    """The library's refusal, a UsageError of its own class (the engine's tests have each case)."""
    client = open_client(journal=tmp_path / "payments.db")
    purchase(client, ref, "sim:decline")
    client.acknowledge(ref)
    with pytest.raises(DuplicateReferenceError) as refused:
        purchase(client, ref, "sim:decline")
    assert str(refused.value) == f"The txnRef {ref} is in the journal already, for a payment that ended with " \
        "result 1, DECLINED: a reference is never used for a second payment."
    assert isinstance(refused.value, UsageError) and received(simulator, ref)["Purchase"] == 1


@pytest.mark.parametrize("amount, line", [
    (decimal.Decimal("1.25E+1"), "PURCHASE       AUD 12.50"),
    (12, "PURCHASE       AUD 12.00"),
])
def test_amounts_are_sent_exactly(open_client, ref, amount, line):
    got = open_client().purchase("merchant", KEY, ref, ref, amount, "AUD", merchant_ref="sim:approve")
    assert got.receipt.splitlines()[3] == line


async def test_a_second_transaction_while_one_runs_is_refused_and_the_first_goes_on(simulator, ref):
    async with kovmodule.aio.Client(simulator) as client:
        first = asyncio.create_task(purchase(client, ref))
        await asyncio.sleep(0)
        with pytest.raises(UsageError, match="^a transaction already runs on this client$"):
            await purchase(client, ref + "-2")
        assert (await first).result == kovmodule.Result.SUCCEEDED
