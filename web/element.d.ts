import type { KovBridge, KovScreen } from "./index.js";

export interface KovPressDetail {
  txnRef: string | null;
  button: "B1" | "B2";
  label: string;
}

/** <kov-payment-status>: the terminal's screen, bound to a KovBridge or fed with show(). */
export class KovPaymentStatus extends HTMLElement {
  bridge: KovBridge | null;
  txnRef: string | null;
  showInitializing(): void;
  show(screen: KovScreen): void;
  showReceipt(receipt: string | null): void;
  showEnded(): void;
}

declare global {
  interface HTMLElementTagNameMap {
    "kov-payment-status": KovPaymentStatus;
  }
  interface HTMLElementEventMap {
    "kov-press": CustomEvent<KovPressDetail>;
    "kov-error": CustomEvent<{ txnRef: string | null; error: Error }>;
  }
}
