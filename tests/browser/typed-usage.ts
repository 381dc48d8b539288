// A till's TypeScript as it would use the package: compiled with tsc --noEmit by
// typing.test.mjs, through the package's own exports.
import { KovBridge, KovBridgeError, type KovResult, type KovScreen } from "@kovmodule/bridge-client";
import "@kovmodule/bridge-client/element";

const bridge = new KovBridge("http://127.0.0.1:8787", "token");
const status = document.createElement("kov-payment-status");
status.bridge = bridge;
status.addEventListener("kov-press", (event) => console.log(event.detail.button, event.detail.label));
bridge.addEventListener("screen", (event) => status.show(event.detail.screen));

async function sell(): Promise<string> {
  const screens: KovScreen[] = [];
  const result: KovResult = await bridge.purchase(
    { txnRef: "T-1", amount: "12.50", currency: "AUD", merchantRef: "INV-7" },
    { onScreen: (screen) => screens.push(screen), onSignature: (receipt) => status.showReceipt(receipt) });
  await bridge.acknowledge("T-1");
  for (const entry of await bridge.pending()) await bridge.follow(entry.txnRef);
  await bridge.press("T-2", "B1");
  await bridge.cancel("T-2");
  await bridge.void({ txnRef: "T-3" });
  await bridge.recover("T-2");
  return result.transactionResult === 0 ? result.authCode ?? "" : result.responseText ?? "";
}

sell().catch((error: unknown) => {
  if (error instanceof KovBridgeError) console.log(error.status, error.error);
});

// What the declarations must refuse.
// @ts-expect-error: the amount is text, never a binary fraction
bridge.purchase({ txnRef: "T-4", amount: 12.5, currency: "AUD" });
// @ts-expect-error: the terminal has two buttons
bridge.press("T-4", "B3");
// @ts-expect-error: a payment needs its reference
bridge.refund({ amount: "1.00", currency: "AUD" });
