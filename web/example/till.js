// An example till page: takes payments through the kov-bridge that serves it, shows the
// terminal in <kov-payment-status>, and books every result once, acknowledging it to the
// bridge only after it is booked (here: listed on the page), so a reload never loses one.
import { KovBridge } from "../index.js";
import "../element.js";

const TOKEN_KEY = "kov-bridge-token";

const $ = (id) => document.getElementById(id);
const status = $("status");
const message = $("message");

// The token comes from the till's own configuration: a config.json that the till's setup
// provisions beside this page ({"token": ..., and "bridge": its URL when the page is not
// served by the bridge itself}), or else the one entered once here, kept in localStorage.
async function loadConfig() {
  const provisioned = await fetch("config.json", { cache: "no-store" }).catch(() => null);
  const config = provisioned?.ok ? await provisioned.json() : {};
  return { bridge: config.bridge ?? location.origin, token: config.token ?? localStorage.getItem(TOKEN_KEY) };
}

function askForToken() {
  const form = $("setup");
  form.hidden = false;
  form.addEventListener("submit", (event) => {
    event.preventDefault();
    localStorage.setItem(TOKEN_KEY, $("token").value.trim());
    location.reload();
  });
}

// A reference that this till never uses twice.
function newTxnRef() {
  return `T${Date.now().toString(36).toUpperCase()}`;
}

function describe(result) {
  if (result.transactionResult === 0) return `Approved (${result.authCode ?? "no auth code"})`;
  if (result.transactionResult === 10) return "Outcome unknown: the service was lost; the bridge recovers it";
  return `Not approved: ${result.responseText || result.reason || `result ${result.transactionResult}`}`;
}

// Books the sale, then lets the bridge forget the result.
async function settle(bridge, txnRef, result) {
  const entry = document.createElement("li");
  entry.textContent = `${txnRef}: ${describe(result)}`;
  entry.dataset.txnRef = txnRef;
  entry.dataset.result = JSON.stringify(result);
  $("sales").append(entry);
  message.textContent = describe(result);
  await bridge.acknowledge(txnRef);
  entry.dataset.acknowledged = "";
}

// A payment that a crash, a reload or a bridge restart cut off: follow it to its result.
async function resume(bridge, txnRef) {
  try {
    return await bridge.follow(txnRef);
  } catch (error) {
    // The bridge does not run it any more: have it recovered from its journal.
    if (error.status === 404) return bridge.recover(txnRef);
    throw error;
  }
}

async function run(bridge, txnRef, payment) {
  const cancel = $("cancel");
  const onCancel = () => bridge.cancel(txnRef).catch((error) => { message.textContent = error.message; });
  status.hidden = false;
  message.textContent = "";
  cancel.disabled = false;
  cancel.addEventListener("click", onCancel);
  try {
    await settle(bridge, txnRef, await payment());
  } catch (error) {
    message.textContent = error.message;
  } finally {
    cancel.disabled = true;
    cancel.removeEventListener("click", onCancel);
  }
}

async function main() {
  const config = await loadConfig();
  if (!config.token) return askForToken();
  const bridge = new KovBridge(config.bridge, config.token);
  status.bridge = bridge;

  const sale = $("sale");
  sale.addEventListener("submit", (event) => {
    event.preventDefault();
    const txnRef = newTxnRef();
    const fields = { txnRef, amount: $("amount").value, currency: "AUD" };
    if ($("merchant-ref").value) fields.merchantRef = $("merchant-ref").value;
    // One payment at a time, as the terminal takes them; Cancel stays usable.
    $("entry").disabled = true;
    run(bridge, txnRef, () => bridge.start(event.submitter.value, fields)).finally(() => { $("entry").disabled = false; });
  });

  // Results that were not booked before the page went away come first.
  try {
    for (const entry of await bridge.pending()) await run(bridge, entry.txnRef, () => resume(bridge, entry.txnRef));
  } catch (error) {
    message.textContent = error.message;
  }
  sale.hidden = false;
}

main();
