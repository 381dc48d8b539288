// A payment cancelled at the terminal from the till's page: the bridge has the terminal's
// CANCEL pressed, and the page books what the service then says, not approved.
import assert from "node:assert/strict";
import { test } from "node:test";

import { artefact, bookedResult, launchBrowser, openTill, scratch, startBridge, startSimulator } from "./harness.mjs";

test("cancelled at the terminal from the page", async (t) => {
  const simulator = await startSimulator(t, ["--speed", "0.5"]);
  const bridge = await startBridge(t, simulator, { folder: scratch("cancel") });
  const page = await openTill(await launchBrowser(t), bridge);
  const status = page.locator("kov-payment-status");

  await page.click("button[value=purchase]");
  await status.locator("p", { hasText: "PRESENT/INSERT CARD" }).waitFor();
  await page.click("#cancel");

  const result = await bookedResult(page);
  assert.equal(result.transactionResult, 1);
  assert.equal(result.reCo, "TC");
  assert.equal(await page.locator("#message").innerText(), `Not approved: ${result.responseText}`);
  assert.equal(await page.locator("#cancel").isDisabled(), true);
  await status.screenshot({ path: artefact("cancel-end.png") });
  const [counts] = Object.values((await simulator.stats()).transactions);
  assert.deepEqual({ Purchase: counts.Purchase, UI: counts.UI }, { Purchase: 1, UI: 1 });
});
