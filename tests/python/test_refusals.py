"""Input the package refuses, with the reason in the error's text and nothing sent; the key
in no error. Either client, the constructor included."""

import asyncio
import decimal

import pytest
from conftest import KEY, purchase

import kovmodule
from kovmodule import JournalError, UsageError


def opening(**settings):
    return lambda open_client, ref: open_client(**settings)


def buying(**fields):
    return lambda open_client, ref: purchase(open_client(), ref, **fields)


def pressing(*args):
    return lambda open_client, ref: open_client().press(*args)


def closed(open_client, ref):
    client = open_client()
    client.close()
    purchase(client, ref)


@pytest.mark.parametrize("call, error, text", [
    (opening(endpoint="http://192.0.2.1/wqmi3/pos.aspx"), UsageError,
     "the endpoint is refused: plain http is accepted only for a loopback host; use https"),
    (opening(endpoint=None), UsageError, "no endpoint was given"),
    (opening(journal="/nonexistent/journal.db"), JournalError, "/nonexistent/journal.db: No such file or directory"),
    (opening(ca_file="/nonexistent/ca.pem"), UsageError, "cannot read /nonexistent/ca.pem: No such file or directory"),
    (opening(retry_spacing=3601), UsageError, "the retry spacing must be from 0 to 3600 seconds"),
    (buying(amount="12,50"), UsageError, "the amount '12,50' is not a plain decimal number such as 12.50"),
    (buying(amount=decimal.Decimal("NaN")), UsageError, "the amount 'NaN' is not a plain decimal number such as 12.50"),
    (buying(amount=12.5), TypeError, "the amount must be a Decimal, an int or text such as '12.50', not float: "
                                     "a float is not exact"),
    (buying(key=KEY + "\0"), UsageError, "the key holds a NUL character, which C text cannot carry"),
    (buying(key=KEY + "\udc80"), UsageError, "the key is not valid Unicode text: it holds a lone surrogate"),
    (buying(key=b"bytes"), TypeError, "the key must be text (str), not bytes"),
    (buying(colour="red"), TypeError, "unexpected keyword argument 'colour'"),
    (pressing("B3"), UsageError, 'a button is "B1" or "B2"'),
    (pressing("B1", "YES"), UsageError, "no transaction runs on this client"),
    (closed, UsageError, "the client is closed"),
])
def test_refused(open_client, ref, call, error, text):
    with pytest.raises(error) as refused:
        call(open_client, ref)
    assert str(refused.value) == text
    assert KEY not in str(refused.value) and not refused.value.__context__


def purchase_and_amount(open_client, ref, amount):
    got = open_client().purchase("merchant", KEY, ref, ref, amount, "AUD", merchant_ref="sim:approve")
    return got.receipt.splitlines()[3]


@pytest.mark.parametrize("amount, line", [
    (decimal.Decimal("12.50"), "PURCHASE       AUD 12.50"),
    (decimal.Decimal("1.25E+1"), "PURCHASE       AUD 12.50"),
    (12, "PURCHASE       AUD 12.00"),
])
def test_amounts_are_sent_exactly(open_client, ref, amount, line):
    assert purchase_and_amount(open_client, ref, amount) == line


async def test_a_second_transaction_while_one_runs_is_refused_and_the_first_goes_on(simulator, ref):
    async with kovmodule.aio.Client(simulator) as client:
        first = asyncio.create_task(purchase(client, ref))
        await asyncio.sleep(0)
        with pytest.raises(UsageError, match="^a transaction already runs on this client$"):
            await purchase(client, ref + "-2")
        assert (await first).result == kovmodule.Result.SUCCEEDED
