// Who may talk to the bridge, as a browser sees it. A till page from an origin the bridge
// does not list is stopped by Chromium's own CORS check, though it holds the token; a page
// reached under a name the bridge does not know (as after a DNS rebinding) is refused by the
// bridge's Host check before it is even served.
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

// Each row: the names the bridge is told to accept besides loopback ones, and the status of
// the page served to a browser that reaches the bridge as till.test.
const hostRows = [
  { name: "foreign Host refused by the bridge", allowHost: [], status: 403 },
  { name: "Host listed with --allow-host served", allowHost: ["--allow-host", "till.test"], status: 200 },
];

for (const { name, allowHost, status } of hostRows) {
  test(name, async (t) => {
    const simulator = await startSimulator(t);
    const bridge = await startBridge(t, simulator, { folder: scratch("hosts"), args: allowHost });
    // till.test resolves to the bridge's loopback address, as a rebound name would.
    const browser = await launchBrowser(t, ["--host-resolver-rules=MAP till.test 127.0.0.1"]);
    const page = await browser.newPage();
    const answer = await page.goto(`http://till.test:${new URL(bridge.url).port}/example/`);
    assert.equal(answer.status(), status);
    if (status === 403) {
      assert.deepEqual(JSON.parse(await page.locator("body").innerText()), { error: "the Host header does not name this bridge" });
    } else {
      await page.locator("#setup").waitFor();
    }
  });
}
