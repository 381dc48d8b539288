// The bridge killed mid-payment and started again on the same journal: the payment is
// recovered, not sent again, and its result reaches the page, whether the page kept its
// stream and reopened it or was reloaded; the page acknowledges it and it is offered no more.
import assert from "node:assert/strict";
import { test } from "node:test";

import { bookedResult, launchBrowser, openTill, scratch, startBridge, startSimulator, stop } from "./harness.mjs";

const rows = [
  { name: "page keeps its stream and reopens it", reload: false },
  { name: "page reloaded after the restart", reload: true },
];

for (const { name, reload } of rows) {
  test(name, async (t) => {
    const simulator = await startSimulator(t);
    const folder = scratch("recovery");
    const first = await startBridge(t, simulator, { folder });
    const page = await openTill(await launchBrowser(t), first);
    const status = page.locator("kov-payment-status");

    // The signature scenario waits for a press: the bridge dies with the payment under way.
    await page.fill("#merchant-ref", "sim:signature");
    await page.click("button[value=purchase]");
    await status.locator("p", { hasText: "SIGNATURE OK?" }).waitFor();
    assert.match(await status.locator("pre").innerText(), /SIGN: _+/);
    await stop(first.child, "SIGKILL");
    // The page sees its stream drop: nothing to press until the bridge is back.
    await status.getByRole("button", { name: "YES" }).waitFor({ state: "hidden" });
    await startBridge(t, simulator, { folder, listen: new URL(first.url).host });
    if (reload) await page.reload();

    // The recovery's first poll shows the terminal's screen again.
    await status.getByRole("button", { name: "YES" }).click();
    const result = await bookedResult(page);
    assert.equal(result.transactionResult, 0);
    assert.equal(result.reCo, "00");
    assert.equal(await page.locator("#sales li").count(), 1);

    await page.reload();
    await page.locator("#sale").waitFor();
    assert.equal(await page.locator("#sales li").count(), 0);
    const [counts] = Object.values((await simulator.stats()).transactions);
    assert.equal(counts.Purchase, 1);
  });
}
