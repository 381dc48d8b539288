// <kov-payment-status> on its own in Chromium, fed screens by the page: its default colours
// against the WCAG contrast formula, and its buttons by keyboard.
import assert from "node:assert/strict";
import { test } from "node:test";

import { launchBrowser, startPageServer } from "./harness.mjs";

const SCREEN = { state: 2, firstLine: "SELECT ACCOUNT", secondLine: "PURCHASE AUD 12.50", button1: "CHQ", button2: "SAV", receipt: null };

// WCAG 2 relative luminance of an sRGB colour as getComputedStyle writes it: rgb(r, g, b).
function luminance(colour) {
  const [r, g, b] = colour.match(/\d+(\.\d+)?/g).slice(0, 3).map((c) => {
    const s = Number(c) / 255;
    return s <= 0.04045 ? s / 12.92 : ((s + 0.055) / 1.055) ** 2.4;
  });
  return 0.2126 * r + 0.7152 * g + 0.0722 * b;
}

function contrast(a, b) {
  const [light, dark] = [luminance(a), luminance(b)].sort((x, y) => y - x);
  return (light + 0.05) / (dark + 0.05);
}

// An element of the example till's page (no token given: its setup form shows) showing a
// screen with two buttons.
async function elementPage(t) {
  const origin = await startPageServer(t, {});
  const page = await (await launchBrowser(t)).newPage();
  await page.goto(`${origin}/example/`);
  await page.locator("#setup").waitFor();
  await page.evaluate((screen) => {
    const status = document.querySelector("kov-payment-status");
    status.hidden = false;
    status.show(screen);
  }, SCREEN);
  return page;
}

// Each row: a foreground and its background in the element's default style, and the least
// contrast WCAG asks of them (4.5:1 for text, 3:1 for what is not text).
const contrastRows = [
  { name: "display lines on the background", fg: ["p", "color"], bg: [null, "background-color"], least: 4.5 },
  { name: "button label on the button", fg: ["button", "color"], bg: ["button", "background-color"], least: 4.5 },
  { name: "activity indicator on the background", fg: [".activity > span", "background-color"], bg: [null, "background-color"], least: 3 },
  { name: "focus outline on the background", fg: ["button", "outline-color"], bg: [null, "background-color"], least: 3 },
];

test("default colours meet WCAG contrast", async (t) => {
  const page = await elementPage(t);
  // The focus outline is drawn only on a focused button.
  await page.locator("kov-payment-status").getByRole("button").first().focus();
  for (const { name, fg, bg, least } of contrastRows) {
    await t.test(name, async () => {
      const [fore, back] = await page.evaluate(([fg, bg]) => {
        const host = document.querySelector("kov-payment-status");
        const style = ([selector, property]) =>
          getComputedStyle(selector ? host.shadowRoot.querySelector(selector) : host).getPropertyValue(property);
        return [style(fg), style(bg)];
      }, [fg, bg]);
      assert.ok(contrast(fore, back) >= least, `${fore} on ${back}: ${contrast(fore, back).toFixed(2)}:1`);
    });
  }
});

test("buttons are reached and pressed by keyboard", async (t) => {
  const page = await elementPage(t);
  await page.evaluate(() => {
    window.presses = [];
    document.addEventListener("kov-press", (event) => window.presses.push(event.detail));
  });
  const status = page.locator("kov-payment-status");
  for (let tabs = 0; tabs < 10 && !(await status.getByRole("button", { name: "SAV" }).evaluate((b) => b.matches(":focus"))); tabs++) {
    await page.keyboard.press("Tab");
  }
  await page.keyboard.press("Enter");
  assert.deepEqual(await page.evaluate(() => window.presses), [{ txnRef: null, button: "B2", label: "SAV" }]);
  // As on the terminal's screen: the buttons go until the next screen, the indicator runs.
  assert.equal(await status.getByRole("button").count(), 0);
  assert.equal(await status.getByRole("progressbar").isVisible(), true);
});
