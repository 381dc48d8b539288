// Payments taken by the example till in Chromium, through kov-bridge against kov-simulator:
// a record the bridge refuses reaches the page as a KovBridgeError; a payment cancelled with
// the page's Cancel is booked as the service then says, not approved; an approved purchase
// shows every screen of the terminal in <kov-payment-status> (a screenshot of each kept),
// takes the account chosen in the page, and is booked and acknowledged; and the element's
// accessibility tree at a screen with buttons.
import assert from "node:assert/strict";
import { writeFileSync } from "node:fs";
import { test } from "node:test";

import { artefact, bookedResult, launchBrowser, openTill, scratch, startBridge, startSimulator } from "./harness.mjs";

// The element at a screen with two buttons, as the browser's accessibility tree exposes it:
// the lines in a status region, the buttons named by their labels.
const ACCOUNT_SNAPSHOT = `- status:
  - paragraph: SELECT ACCOUNT
  - paragraph: PURCHASE AUD 12.50
- button "CHQ"
- button "SAV"`;

// The live region's properties as Chromium's accessibility tree holds them (through the
// DevTools protocol, which a screen reader's view follows).
async function liveRegion(page) {
  const cdp = await page.context().newCDPSession(page);
  const { nodes } = await cdp.send("Accessibility.getFullAXTree");
  const region = nodes.find((node) => node.role?.value === "status");
  const property = (name) => region?.properties?.find((p) => p.name === name)?.value.value;
  return { live: property("live"), atomic: property("atomic"), relevant: property("relevant") };
}

test("refused, cancelled and approved at the till", async (t) => {
  // At half speed every screen stays up long enough to be seen and photographed.
  const simulator = await startSimulator(t, ["--speed", "0.5"]);
  const bridge = await startBridge(t, simulator, { folder: scratch("purchase") });
  const page = await openTill(await launchBrowser(t), bridge);
  const status = page.locator("kov-payment-status");

  const refusal = await page.evaluate(() => document.querySelector("kov-payment-status").bridge
    .purchase({ txnRef: "T-BAD", amount: "1,00", currency: "AUD" })
    .catch((error) => ({ name: error.name, status: error.status, error: error.error })));
  assert.deepEqual(refusal, { name: "KovBridgeError", status: 400,
    error: 'amount must be a plain decimal number such as "12.50", not "1,00"' });
  assert.deepEqual((await simulator.stats()).transactions, {});

  // The page's Cancel: the bridge has the terminal's CANCEL pressed.
  await page.click("button[value=purchase]");
  await status.locator("p", { hasText: "PRESENT/INSERT CARD" }).waitFor();
  await page.click("#cancel");
  const cancelled = await bookedResult(page, 0);
  assert.deepEqual([cancelled.transactionResult, cancelled.reCo], [1, "TC"]);
  assert.equal(await page.locator("#message").innerText(), `Not approved: ${cancelled.responseText}`);
  assert.equal(await page.locator("#cancel").isDisabled(), true);

  await page.click("button[value=purchase]");
  for (const [index, line] of ["PRESENT/INSERT CARD", "SELECT ACCOUNT", "ENTER PIN", "PROCESSING"].entries()) {
    await status.locator("p").first().filter({ hasText: line }).waitFor();
    await status.screenshot({ path: artefact(`purchase-${index + 1}-${line.replace(/\W+/g, "-").toLowerCase()}.png`) });
    if (line === "SELECT ACCOUNT") {
      const snapshot = await status.ariaSnapshot();
      writeFileSync(artefact("purchase-account.aria.yml"), snapshot);
      assert.equal(snapshot, ACCOUNT_SNAPSHOT);
      assert.deepEqual(await liveRegion(page), { live: "polite", atomic: true, relevant: "additions text" });
      await status.getByRole("button", { name: "SAV" }).click();
    }
  }

  const result = await bookedResult(page, 1);
  assert.equal(result.transactionResult, 0);
  assert.equal(result.reCo, "00");
  assert.equal(await page.locator("#message").innerText(), `Approved (${result.authCode})`);
  await status.screenshot({ path: artefact("purchase-end.png") });
  // Booked and acknowledged: the bridge offers them no more.
  await page.reload();
  await page.locator("#sale").waitFor();
  assert.equal(await page.locator("#sales li").count(), 0);
  const counts = (await simulator.stats()).transactions;
  assert.deepEqual(Object.values(counts).map(({ Purchase, UI }) => ({ Purchase, UI })),
    [{ Purchase: 1, UI: 1 }, { Purchase: 1, UI: 1 }]);
});
