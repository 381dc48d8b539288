// An approved purchase taken by the example till in Chromium, through kov-bridge against
// kov-simulator: every screen of the terminal in <kov-payment-status> (a screenshot of each
// kept), a button pressed in the page, the result booked and acknowledged, and the element's
// accessibility tree at a screen with buttons.
import assert from "node:assert/strict";
import { writeFileSync } from "node:fs";
import { test } from "node:test";

import { artefact, bookedResult, launchBrowser, openTill, scratch, startBridge, startSimulator } from "./harness.mjs";

// Each row: the simulator's scenario (by the merchant reference), the screens the element
// must show in order, and the button the operator presses in the page at one of them.
const rows = [
  { name: "account chosen at the till", merchantRef: "", press: { at: "SELECT ACCOUNT", label: "SAV" },
    screens: ["PRESENT/INSERT CARD", "SELECT ACCOUNT", "ENTER PIN", "PROCESSING"] },
  { name: "signature checked at the till", merchantRef: "sim:signature", press: { at: "SIGNATURE OK?", label: "YES" },
    screens: ["PRESENT/INSERT CARD", "SELECT ACCOUNT", "ENTER PIN", "PROCESSING", "SIGNATURE OK?"] },
];

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

for (const { name, merchantRef, press, screens } of rows) {
  test(name, async (t) => {
    // At half speed every screen stays up long enough to be seen and photographed.
    const simulator = await startSimulator(t, ["--speed", "0.5"]);
    const bridge = await startBridge(t, simulator, { folder: scratch("purchase") });
    const page = await openTill(await launchBrowser(t), bridge);
    const status = page.locator("kov-payment-status");
    const file = (what) => artefact(`purchase-${merchantRef.replace("sim:", "") || "approve"}-${what}`);

    await page.fill("#merchant-ref", merchantRef);
    await page.click("button[value=purchase]");
    for (const [index, line] of screens.entries()) {
      await status.locator("p").first().filter({ hasText: line }).waitFor();
      await status.screenshot({ path: file(`${index + 1}-${line.replace(/\W+$/, "").replace(/\W+/g, "-").toLowerCase()}.png`) });
      if (line === "SELECT ACCOUNT" && line === press.at) {
        const snapshot = await status.ariaSnapshot();
        writeFileSync(file("account.aria.yml"), snapshot);
        assert.equal(snapshot, ACCOUNT_SNAPSHOT);
        assert.deepEqual(await liveRegion(page), { live: "polite", atomic: true, relevant: "additions text" });
      }
      if (line === "SIGNATURE OK?") {
        assert.match(await status.locator("pre").innerText(), /SIGN: _+/);
      }
      if (line === press.at) await status.getByRole("button", { name: press.label }).click();
    }

    const result = await bookedResult(page);
    assert.equal(result.transactionResult, 0);
    assert.equal(result.reCo, "00");
    assert.equal(await page.locator("#message").innerText(), `Approved (${result.authCode})`);
    await status.screenshot({ path: file("end.png") });
    // Booked and acknowledged: the bridge offers it no more.
    await page.reload();
    await page.locator("#sale").waitFor();
    assert.equal(await page.locator("#sales li").count(), 0);
    const counts = (await simulator.stats()).transactions;
    assert.deepEqual(Object.values(counts).map(({ Purchase, UI }) => ({ Purchase, UI })), [{ Purchase: 1, UI: 1 }]);
  });
}

test("refused record reaches the page as a KovBridgeError", async (t) => {
  const simulator = await startSimulator(t);
  const bridge = await startBridge(t, simulator, { folder: scratch("refused") });
  const page = await openTill(await launchBrowser(t), bridge);
  const refusal = await page.evaluate(() => document.querySelector("kov-payment-status").bridge
    .purchase({ txnRef: "T-BAD", amount: "1,00", currency: "AUD" })
    .catch((error) => ({ name: error.name, status: error.status, error: error.error })));
  assert.deepEqual(refusal, { name: "KovBridgeError", status: 400,
    error: 'amount must be a plain decimal number such as "12.50", not "1,00"' });
  assert.deepEqual((await simulator.stats()).transactions, {});
});
