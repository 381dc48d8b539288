import { EventStreamParser } from "./EventStreamParser.js";
import { KovBridgeError } from "./KovBridgeError.js";

// Waits between attempts to reopen a dropped event stream: quick at first (a bridge being
// restarted by its service manager is back within a second or two), then every few seconds.
const RECONNECT_DELAYS_MS = [250, 500, 1000, 2000, 4000];
// The bridge writes a comment line every 15 s; a stream silent for three of them is taken as
// dead (a machine that slept, a proxy that froze) and reopened.
const SILENCE_LIMIT_MS = 45000;
// Statuses that say "not now" rather than "no": a gateway or a bridge still starting.
const TRANSIENT_STATUSES = new Set([502, 503, 504]);

function sleep(ms, signal) {
  return new Promise((resolve, reject) => {
    if (signal?.aborted) return reject(signal.reason);
    const timer = setTimeout(resolve, ms);
    signal?.addEventListener("abort", () => {
      clearTimeout(timer);
      reject(signal.reason);
    }, { once: true });
  });
}

async function errorOf(response) {
  const text = await response.text().catch(() => "");
  try {
    const body = JSON.parse(text);
    if (typeof body?.error === "string") return new KovBridgeError(response.status, body.error);
  } catch {
    // not the bridge's JSON: a proxy's page, or nothing
  }
  return new KovBridgeError(response.status, response.statusText || `HTTP ${response.status}`);
}

function parseEvent(event, status) {
  try {
    return JSON.parse(event.data);
  } catch {
    // Reopening the stream would only read the same again.
    throw new KovBridgeError(status, `kov-bridge sent a ${event.type} event that is not JSON`);
  }
}

/**
 * A client of one kov-bridge, the local service that runs the till's payments. The page
 * never holds the merchant key: it proves itself to the bridge with the bridge's token.
 *
 * A payment's promise resolves with the result record (the JSON line kov-cli prints) once the
 * terminal is done, whatever the outcome; it rejects only when the bridge refuses the call.
 * The bridge keeps each result until `acknowledge()`, so a page that reloads finds it again
 * through `pending()` and `follow()`.
 *
 * Besides the per-call callbacks, the client is an EventTarget: "start", "screen",
 * "signature", "reconnecting" (the stream dropped; it is being reopened) and "result"
 * events carry `{txnRef, ...}` in their detail, so that a
 * `<kov-payment-status>` bound to it shows every payment.
 */
export class KovBridge extends EventTarget {
  #base;
  #token;

  /**
   * @param {string} baseUrl the bridge's address, e.g. "http://127.0.0.1:8787", or
   *   `location.origin` for a page that the bridge serves itself
   * @param {string} token the bridge's token, from the till's own configuration
   */
  constructor(baseUrl, token) {
    super();
    if (typeof token !== "string" || token === "") throw new TypeError("KovBridge needs the bridge's token");
    this.#base = new URL(baseUrl);
    this.#token = token;
  }

  /** A purchase; `fields` holds txnRef, amount (a decimal string such as "12.50") and currency. */
  purchase(fields, options) { return this.start("purchase", fields, options); }
  /** A pre-authorisation. */
  auth(fields, options) { return this.start("auth", fields, options); }
  /** The completion of a pre-authorisation. */
  complete(fields, options) { return this.start("complete", fields, options); }
  /** A refund. */
  refund(fields, options) { return this.start("refund", fields, options); }
  /** The void of an earlier transaction. */
  void(fields, options) { return this.start("void", fields, options); }

  /** Starts a transaction of the given type and follows it to its result. */
  async start(type, fields, options = {}) {
    const answer = await this.#call("POST", "/v1/transactions", { type, ...fields });
    return this.#follow(answer?.txnRef ?? fields.txnRef, answer?.events, options);
  }

  /**
   * Asks the bridge to recover a transaction that was cut off, then follows it. `fields`
   * (user, station ...) are needed only for one that the bridge's journal does not hold.
   */
  async recover(txnRef, fields, options = {}) {
    const answer = await this.#call("POST", this.#path(txnRef, "recover"), fields ?? {});
    return this.#follow(txnRef, answer?.events, options);
  }

  /** Follows a transaction that runs or has ended, without starting anything: a reloaded page's way back to it. */
  follow(txnRef, options = {}) {
    return this.#follow(txnRef, undefined, options);
  }

  /** Presses a terminal button ("B1" or "B2") of the running transaction. */
  async press(txnRef, button) {
    await this.#call("POST", this.#path(txnRef, "press"), { button });
  }

  /** Asks the terminal to cancel; the result then says what became of the payment. */
  async cancel(txnRef) {
    await this.#call("POST", this.#path(txnRef, "cancel"));
  }

  /** Tells the bridge that the page has kept the result: it is no longer offered again. */
  async acknowledge(txnRef) {
    await this.#call("POST", this.#path(txnRef, "acknowledge"));
  }

  /** The journal's transactions whose result has not been acknowledged. */
  async pending() {
    return this.#call("GET", "/v1/pending");
  }

  #path(txnRef, what) {
    return `/v1/transactions/${encodeURIComponent(txnRef)}/${what}`;
  }

  #request(method, path, init = {}) {
    return fetch(new URL(path, this.#base), {
      ...init,
      method,
      headers: { Authorization: `Bearer ${this.#token}`, ...init.headers },
      // A till's page has nothing to share with the bridge but its token.
      credentials: "omit",
      cache: "no-store",
    });
  }

  async #call(method, path, body) {
    let response;
    try {
      response = await this.#request(method, path, body === undefined ? {} : {
        body: JSON.stringify(body),
        headers: { "Content-Type": "application/json" },
      });
    } catch (error) {
      // The browser says no more than "Failed to fetch" (no bridge, or a CORS refusal).
      throw new KovBridgeError(0, `kov-bridge not reached: ${error.message}`);
    }
    if (!response.ok) throw await errorOf(response);
    const text = await response.text();
    return text ? JSON.parse(text) : null;
  }

  // Tells the listeners and the call's own callback. A fault in the page's code must not stop
  // the payment's stream, so it is reported as an event listener's would be.
  #emit(type, detail, callback, argument) {
    this.dispatchEvent(new CustomEvent(type, { detail }));
    try {
      callback?.(argument);
    } catch (error) {
      if (typeof reportError === "function") reportError(error);
      else console.error(error);
    }
  }

  // Reads the transaction's events until its result, reopening the stream whenever it drops:
  // the bridge replays the result to a stream opened after the end, so nothing is lost while
  // the bridge restarts. Gives up only when the bridge refuses outright or the caller aborts.
  async #follow(txnRef, eventsPath, { onScreen, onSignature, signal } = {}) {
    const path = eventsPath ?? this.#path(txnRef, "events");
    this.#emit("start", { txnRef });
    for (let failures = 0; ; failures++) {
      if (failures > 0) await sleep(RECONNECT_DELAYS_MS[Math.min(failures, RECONNECT_DELAYS_MS.length) - 1], signal);
      const attempt = new AbortController();
      const stop = () => attempt.abort(signal.reason);
      signal?.addEventListener("abort", stop, { once: true });
      try {
        const response = await this.#request("GET", path, { headers: { Accept: "text/event-stream" }, signal: attempt.signal });
        if (!response.ok) {
          if (TRANSIENT_STATUSES.has(response.status)) continue;
          throw await errorOf(response);
        }
        failures = 0;
        const result = await this.#read(response, attempt, (event) => {
          // Event types of a later bridge are left alone.
          if (!["screen", "signature", "result"].includes(event.type)) return undefined;
          const data = parseEvent(event, response.status);
          if (event.type === "screen") this.#emit("screen", { txnRef, screen: data }, onScreen, data);
          else if (event.type === "signature") this.#emit("signature", { txnRef, receipt: data.receipt }, onSignature, data.receipt);
          return event.type === "result" ? data : undefined;
        });
        if (result) {
          this.#emit("result", { txnRef, result });
          return result;
        }
      } catch (error) {
        if (signal?.aborted) throw signal.reason;
        if (error instanceof KovBridgeError) throw error;
        // a dropped connection or a stream cut short: reopen it
      } finally {
        signal?.removeEventListener("abort", stop);
      }
      // Once per drop: the screen shown may be stale until the stream is back.
      if (failures === 0) this.#emit("reconnecting", { txnRef });
    }
  }

  // One stream's events to take(), until take() returns the result or the stream ends.
  async #read(response, attempt, take) {
    const parser = new EventStreamParser();
    const reader = response.body.pipeThrough(new TextDecoderStream()).getReader();
    let silence;
    const watch = () => {
      clearTimeout(silence);
      silence = setTimeout(() => attempt.abort(new Error("the event stream fell silent")), SILENCE_LIMIT_MS);
    };
    try {
      for (watch(); ; watch()) {
        const { value, done } = await reader.read();
        if (done) return undefined;
        for (const event of parser.push(value)) {
          const result = take(event);
          if (result) return result;
        }
      }
    } finally {
      clearTimeout(silence);
      reader.cancel().catch(() => {});
    }
  }
}
