// The terminal's screen in the till's page: its two lines, up to two buttons, an activity
// indicator while the till waits, and the receipt when the terminal asks to check a signature.
// It shows what it is given and holds no payment logic, like the library's status screen.

// The terminal's state code while it asks the operator to check the customer's signature.
const SIGNATURE_REQUIRED = 5;

// The defaults keep every text at 4.5:1 or more against its background (a pure red behind
// white button text would give 4.0:1); a till restyles them through these properties.
const STYLE = `
  :host {
    display: block;
    --kov-background: #ffffff;
    --kov-text-color: #000000;
    --kov-button-background: #cc0000;
    --kov-button-text-color: #ffffff;
    --kov-button-radius: 0;
    --kov-focus-color: #1a4fd6;
    --kov-activity-color: #cc0000;
    --kov-font-family: system-ui, sans-serif;
    --kov-line-font-size: 19px;
    --kov-button-font-size: 17px;
    font-family: var(--kov-font-family);
    background: var(--kov-background);
    color: var(--kov-text-color);
  }
  :host([hidden]) { display: none; }
  .screen { padding: 24px; text-align: center; }
  .lines p { margin: 0 0 8px; font-size: var(--kov-line-font-size); min-height: 1.2em; }
  .activity {
    height: 4px; margin: 16px 0; overflow: hidden;
    background: color-mix(in srgb, var(--kov-activity-color) 20%, transparent);
  }
  .activity > span {
    display: block; height: 100%; width: 40%;
    background: var(--kov-activity-color);
    animation: kov-slide 1.2s ease-out infinite;
  }
  @keyframes kov-slide { from { transform: translateX(-100%); } to { transform: translateX(250%); } }
  @media (prefers-reduced-motion: reduce) { .activity > span { animation: none; width: 100%; } }
  .buttons { display: flex; gap: 16px; margin-top: 24px; }
  button {
    flex: 1; min-height: 48px; border: 0; cursor: pointer;
    font: inherit; font-size: var(--kov-button-font-size);
    background: var(--kov-button-background); color: var(--kov-button-text-color);
    border-radius: var(--kov-button-radius);
  }
  button:focus-visible { outline: 3px solid var(--kov-focus-color); outline-offset: 3px; }
  pre {
    margin: 24px auto 0; padding: 12px; width: max-content; max-width: 100%; overflow-x: auto;
    text-align: left; border: 1px solid currentColor; font-size: 14px;
  }
  [hidden] { display: none !important; }
`;

const TEMPLATE = `
  <div class="screen" part="screen">
    <div class="lines" part="lines" role="status" aria-live="polite" aria-atomic="true">
      <p part="line first-line"></p>
      <p part="line second-line"></p>
    </div>
    <div class="activity" part="activity" role="progressbar" aria-label="Waiting for the terminal" hidden><span></span></div>
    <div class="buttons" part="buttons">
      <button type="button" part="button button1" hidden></button>
      <button type="button" part="button button2" hidden></button>
    </div>
    <pre part="receipt" aria-label="Receipt" tabindex="0" hidden></pre>
  </div>
`;

/**
 * `<kov-payment-status>`: mirrors the payment terminal. Give it screens with `show()`, or
 * bind it to a KovBridge (`element.bridge = client`) and it follows every payment of that
 * client, a button press going back to the terminal through `press()`.
 *
 * Fires "kov-press" (detail `{txnRef, button, label}`) when the operator presses a button,
 * and "kov-error" (detail `{txnRef, error}`) when the bound bridge refused the press.
 */
export class KovPaymentStatus extends HTMLElement {
  #first;
  #second;
  #activity;
  #buttons;
  #receipt;
  #bridge = null;
  #txnRef = null;
  #shownLabels = [null, null];
  #onBridgeEvent = (event) => this.#follow(event);

  constructor() {
    super();
    const root = this.attachShadow({ mode: "open" });
    root.innerHTML = `<style>${STYLE}</style>${TEMPLATE}`;
    [this.#first, this.#second] = root.querySelectorAll("p");
    this.#activity = root.querySelector(".activity");
    this.#buttons = [...root.querySelectorAll("button")];
    this.#receipt = root.querySelector("pre");
    this.#buttons.forEach((button, index) => button.addEventListener("click", () => this.#pressed(index)));
    this.showInitializing();
  }

  /** The KovBridge whose payments this element shows, or null. */
  get bridge() { return this.#bridge; }
  set bridge(client) {
    for (const type of ["start", "screen", "signature", "reconnecting", "result"]) {
      this.#bridge?.removeEventListener(type, this.#onBridgeEvent);
      client?.addEventListener(type, this.#onBridgeEvent);
    }
    this.#bridge = client ?? null;
  }

  /** The reference of the transaction whose screens it shows, or null. */
  get txnRef() { return this.#txnRef; }
  set txnRef(value) { this.#txnRef = value ?? null; }

  /** What the screen shows before the terminal's first screen. */
  showInitializing() {
    this.#setLines("Initializing...", "");
    this.#setButtons(null, null);
    this.#receipt.hidden = true;
    this.#activity.hidden = false;
  }

  /**
   * Shows one terminal screen: `{state, firstLine, secondLine, button1, button2, receipt}`
   * as the bridge's screen events carry it. A null button is not shown.
   */
  show(screen) {
    this.#activity.hidden = true;
    this.#setLines(screen.firstLine ?? "", screen.secondLine ?? "");
    this.#shownLabels = [screen.button1 ?? null, screen.button2 ?? null];
    this.#setButtons(...this.#shownLabels);
    this.showReceipt(screen.state === SIGNATURE_REQUIRED ? screen.receipt : null);
  }

  /** Shows the receipt for the operator to check the signature against; null hides it. */
  showReceipt(receipt) {
    this.#receipt.textContent = receipt ?? "";
    this.#receipt.hidden = receipt == null;
  }

  /** The end of a payment: the last lines stay, nothing more can be pressed. */
  showEnded() {
    this.#setButtons(null, null);
    this.#activity.hidden = true;
  }

  #follow(event) {
    const { txnRef } = event.detail;
    if (event.type === "start") {
      this.#txnRef = txnRef;
      this.showInitializing();
    } else if (txnRef !== this.#txnRef) {
      // another payment's stream (an earlier one still being followed): not this screen's
    } else if (event.type === "screen") {
      this.show(event.detail.screen);
    } else if (event.type === "signature") {
      this.showReceipt(event.detail.receipt);
    } else if (event.type === "reconnecting") {
      // The bridge is out of reach: a press would go nowhere until its stream is back.
      this.#setButtons(null, null);
      this.#activity.hidden = false;
    } else {
      this.showEnded();
    }
  }

  #setLines(first, second) {
    // Setting both before the region is read lets a screen reader announce them as one.
    this.#first.textContent = first;
    this.#second.textContent = second;
  }

  #setButtons(...labels) {
    this.#buttons.forEach((button, index) => {
      button.textContent = labels[index] ?? "";
      button.hidden = labels[index] == null;
    });
  }

  // As on the terminal's own screen: the buttons go until the next screen, the indicator
  // shows that the press is on its way.
  #pressed(index) {
    const button = `B${index + 1}`;
    const label = this.#buttons[index].textContent;
    this.#setButtons(null, null);
    this.#activity.hidden = false;
    this.dispatchEvent(new CustomEvent("kov-press", { detail: { txnRef: this.#txnRef, button, label }, bubbles: true, composed: true }));
    if (this.#bridge && this.#txnRef) {
      this.#bridge.press(this.#txnRef, button).catch((error) => {
        // The terminal did not get the press: offer the buttons again.
        this.#activity.hidden = true;
        this.#setButtons(...this.#shownLabels);
        this.dispatchEvent(new CustomEvent("kov-error", { detail: { txnRef: this.#txnRef, error }, bubbles: true, composed: true }));
      });
    }
  }
}
