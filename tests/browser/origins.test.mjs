// Who may talk to the bridge, as a browser sees it. A till page from an origin the bridge
// does not list is stopped by Chromium's own CORS check, though it holds the token; a page
// reached under a name the bridge is told to accept is served.
import assert from "node:assert/strict";
import { test } from "node:test";

import { launchBrowser, scratch, startBridge, startPageServer, startSimulator } from "./harness.mjs";

// Each row: whether the till page's own origin is the one the bridge lists.
const originRows = [
  { name: "page from a listed origin reaches the bridge", listed: true },
  { name: "page from an unlisted origin refused by CORS", listed: false },
];

for (const { name, listed } of originRows) {
  test(name, async (t) => {
    const simulator = await startSimulator(t);
    // The page's server is up first, so that the bridge can list its origin; the page's
    // configuration (the bridge's address and token) is provisioned once the bridge runs.
    const config = {};
    const origin = await startPageServer(t, config);
    const bridge = await startBridge(t, simulator, {
      folder: scratch("origins"), args: ["--allow-origin", listed ? origin : "http://till.example"] });
    Object.assign(config, { bridge: bridge.url, token: bridge.token });
    const page = await (await launchBrowser(t)).newPage();
    const consoleLines = [];
    page.on("console", (message) => consoleLines.push(message.text()));

    await page.goto(`${origin}/example/`);
    if (listed) {
      await page.locator("#sale").waitFor();
      assert.equal(await page.locator("#message").innerText(), "");
    } else {
      await page.locator("#message", { hasText: "kov-bridge not reached" }).waitFor();
      assert.equal(await page.locator("#message").innerText(), "kov-bridge not reached: Failed to fetch");
      assert.ok(consoleLines.some((line) => line.includes("has been blocked by CORS policy")), consoleLines.join("\n"));
    }
  });
}

// A page reached as till.test, a name the bridge is told to accept besides loopback ones (its
// refusal of a name it is not told is the bridge's own program test).
test("Host listed with --allow-host served", async (t) => {
  const simulator = await startSimulator(t);
  const bridge = await startBridge(t, simulator, { folder: scratch("hosts"), args: ["--allow-host", "till.test"] });
  // till.test resolves to the bridge's loopback address, as a rebound name would.
  const browser = await launchBrowser(t, ["--host-resolver-rules=MAP till.test 127.0.0.1"]);
  const page = await browser.newPage();
  const answer = await page.goto(`http://till.test:${new URL(bridge.url).port}/example/`);
  assert.equal(answer.status(), 200);
  await page.locator("#setup").waitFor();
});
