// What the browser tests share: kov-simulator and kov-bridge run as programs on loopback,
// Debian's Chromium driven headless by playwright-core from web/'s own dependencies, and the
// folder where screenshots and snapshots are kept. Every program a test starts is stopped
// when the test ends.
import { spawn } from "node:child_process";
import { once } from "node:events";
import { mkdirSync, mkdtempSync, readFileSync, writeFileSync } from "node:fs";
import { createServer } from "node:http";
import { createRequire } from "node:module";
import { dirname, extname, join, resolve } from "node:path";
import { createInterface } from "node:readline";
import { fileURLToPath } from "node:url";

export const webDir = resolve(dirname(fileURLToPath(import.meta.url)), "../../web");
const { chromium } = createRequire(join(webDir, "package.json"))("playwright-core");

function required(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set: run the browser tests through ctest`);
  return value;
}

export const MERCHANT = { user: "merchant", key: "br0wser-k3y", station: "S1" };

// A folder of the test's own in the build tree's scratch folder.
export function scratch(name) {
  const root = required("KOV_BROWSER_SCRATCH");
  mkdirSync(root, { recursive: true });
  return mkdtempSync(join(root, `${name}-`));
}

// The artefacts of a test (screenshots, accessibility snapshots), kept after the run.
export function artefact(file) {
  const folder = required("KOV_BROWSER_ARTEFACTS");
  mkdirSync(folder, { recursive: true });
  return join(folder, file);
}

// Runs a program until the test ends; resolves with it and its first stdout line once that
// line has come.
async function startProgram(t, path, args) {
  const child = spawn(path, args, { stdio: ["ignore", "pipe", "pipe"] });
  let stderr = "";
  child.stderr.setEncoding("utf8").on("data", (text) => { stderr += text; });
  t.after(() => stop(child));
  const lines = createInterface({ input: child.stdout });
  const [first] = await Promise.race([
    once(lines, "line"),
    once(child, "exit").then(([code]) => { throw new Error(`${path} ended (${code}) before it listened: ${stderr}`); }),
  ]);
  child.stderrText = () => stderr;
  return { child, first };
}

// Ends a program the test started: SIGTERM, or SIGKILL to cut it off mid-payment.
export async function stop(child, signal = "SIGTERM") {
  if (child.exitCode !== null || child.signalCode !== null) return;
  const exited = once(child, "exit");
  child.kill(signal);
  await exited;
}

/** kov-simulator on a free port; `url` is its endpoint, `stats()` its request counts. */
export async function startSimulator(t, args = []) {
  const { child, first } = await startProgram(t, required("KOV_SIMULATOR"),
    ["--listen", "127.0.0.1:0", "--user", MERCHANT.user, "--key", MERCHANT.key, ...args]);
  const url = first.match(/^kov-simulator listening on (http:\/\/\S+)$/)[1];
  const stats = async () => (await fetch(new URL("/_sim/stats", url))).json();
  return { child, url, stats };
}

/**
 * kov-bridge against the simulator, serving web/ (the example till is at /example/). Its
 * key, token and journal are in `folder`, so that a restart finds them again; `listen`
 * gives a fixed address for a restart at the same place.
 */
export async function startBridge(t, simulator, { folder, listen = "127.0.0.1:0", args = [] }) {
  const keyFile = join(folder, "key");
  writeFileSync(keyFile, `${MERCHANT.key}\n`, { mode: 0o600 });
  const tokenFile = join(folder, "token");
  const { child, first } = await startProgram(t, required("KOV_BRIDGE"), [
    "--endpoint", simulator.url, "--listen", listen, "--user", MERCHANT.user, "--station", MERCHANT.station,
    "--key-file", keyFile, "--token-file", tokenFile, "--journal", join(folder, "journal"),
    "--serve", webDir, ...args]);
  const url = first.match(/^kov-bridge listening on (http:\/\/\S+?)\/?$/)[1];
  return { child, url, token: readFileSync(tokenFile, "utf8").trim(), log: () => child.stderrText() };
}

const TYPES = { ".html": "text/html", ".js": "text/javascript", ".json": "application/json" };

/**
 * A plain static server of web/ on another port: a till page from an origin of its own, with
 * the till's configuration provisioned as /example/config.json.
 */
export async function startPageServer(t, config) {
  const server = createServer((request, response) => {
    const { pathname } = new URL(request.url, "http://page");
    const path = join(webDir, pathname.endsWith("/") ? `${pathname}index.html` : pathname);
    let body = path === join(webDir, "example", "config.json") ? JSON.stringify(config) : null;
    try {
      if (!body && path.startsWith(webDir)) body = readFileSync(path);
    } catch {
      // no such file: 404
    }
    if (body) response.writeHead(200, { "Content-Type": TYPES[extname(path)] ?? "application/octet-stream" }).end(body);
    else response.writeHead(404).end();
  });
  server.listen(0, "127.0.0.1");
  await once(server, "listening");
  t.after(() => server.close());
  return `http://127.0.0.1:${server.address().port}`;
}

/** Debian's Chromium, headless; `args` adds its own switches. Closed when the test ends. */
export async function launchBrowser(t, args = []) {
  const browser = await chromium.launch({ executablePath: required("KOV_CHROMIUM"), args });
  t.after(() => browser.close());
  return browser;
}

/**
 * The example till in a fresh page, with the bridge's token entered once at its setup form,
 * as a till's installer would; later loads find it in the page's storage.
 */
export async function openTill(browser, bridge) {
  const page = await browser.newPage({ viewport: { width: 480, height: 800 } });
  await page.goto(`${bridge.url}/example/`);
  await page.fill("#token", bridge.token);
  await page.click("#setup button");
  await page.waitForSelector("#sale", { state: "visible" });
  return page;
}

/** The result record of the page's nth sale (from 0), once the till booked and acknowledged it. */
export async function bookedResult(page, nth = 0) {
  const entry = page.locator("#sales li[data-acknowledged]").nth(nth);
  await entry.waitFor();
  return JSON.parse(await entry.getAttribute("data-result"));
}
