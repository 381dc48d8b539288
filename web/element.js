// Defines <kov-payment-status> (once, so that two copies of the package on one page agree).
import { KovPaymentStatus } from "./src/KovPaymentStatus.js";

if (!customElements.get("kov-payment-status")) customElements.define("kov-payment-status", KovPaymentStatus);

export { KovPaymentStatus };
