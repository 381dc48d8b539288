/** What the terminal shows: kov-cli's status line. */
export interface KovScreen {
  /** The terminal's state code: 0 initialising ... 5 signature required ... 9 error. */
  state: number;
  firstLine: string;
  secondLine: string;
  /** A button's label, or null when the terminal shows none. */
  button1: string | null;
  button2: string | null;
  receipt: string | null;
}

/** A transaction's outcome: the result record as kov-cli prints it. */
export interface KovResult {
  /** 0 approved, 1 not approved (declined, cancelled) ... 10 the service was lost: outcome unknown. */
  transactionResult: number;
  authCode: string | null;
  maskedCardNumber: string | null;
  cardName: string | null;
  expectedSettlementDate: string | null;
  expectedSettlementDateTimeZone: string | null;
  transactionDate: string | null;
  transactionDateTimeZone: string | null;
  PIX: string | null;
  RID: string | null;
  retrievalRefNumber: string | null;
  qelTxnRef: string | null;
  responseText: string | null;
  /** The service's response code, "00" when approved. */
  reCo: string | null;
  receipt: string | null;
  receiptLineWidth: number;
  response: Record<string, string> | null;
  cardNumber2: string | null;
  qelBillingId: string | null;
  /** Why the result is not the service's own answer, in plain words; null when it is. */
  reason: string | null;
  /** Whether the transaction request may have reached the service. */
  requestSent: boolean;
}

/** One of the journal's transactions whose result the page has not acknowledged. */
export interface KovPendingEntry {
  txnRef: string;
  type: string | null;
  stage: string;
  station: string | null;
  amount: string | null;
  currency: string | null;
  user: string | null;
  merchantRef: string | null;
  startedAt: string;
  result: number | null;
  requestSent: boolean;
}

/** A transaction to start; the optional fields carry kov-cli's names. */
export interface KovTransactionFields {
  txnRef: string;
  /** A plain decimal with at most two decimals, as text: "12.50". */
  amount?: string;
  currency?: string;
  qelTxnRef?: string;
  deviceId?: string;
  posName?: string;
  posVersion?: string;
  vendorId?: string;
  merchantRef?: string;
  urlSuccess?: string;
  urlFail?: string;
  skipSignature?: boolean;
}

/** A recovery's own fields, for a transaction the bridge's journal does not hold. */
export interface KovRecoveryFields {
  txnRef?: string;
  skipSignature?: boolean;
}

export type KovTransactionType = "purchase" | "auth" | "complete" | "refund" | "void";

export interface KovFollowOptions {
  onScreen?: (screen: KovScreen) => void;
  onSignature?: (receipt: string | null) => void;
  /** Stops following (the payment itself goes on; follow() finds it again). */
  signal?: AbortSignal;
}

export interface KovBridgeEventMap {
  start: CustomEvent<{ txnRef: string }>;
  screen: CustomEvent<{ txnRef: string; screen: KovScreen }>;
  signature: CustomEvent<{ txnRef: string; receipt: string | null }>;
  /** The event stream dropped and is being reopened: the screen shown may be stale. */
  reconnecting: CustomEvent<{ txnRef: string }>;
  result: CustomEvent<{ txnRef: string; result: KovResult }>;
}

/** A call that the bridge refused (status 0: the bridge was not reached). */
export class KovBridgeError extends Error {
  constructor(status: number, error: string);
  readonly name: "KovBridgeError";
  /** The HTTP status, 0 when no answer came. */
  readonly status: number;
  /** The bridge's own text from its {"error": ...} body. */
  readonly error: string;
}

/** A client of one kov-bridge: payments, presses, cancel, recovery and acknowledgement. */
export class KovBridge extends EventTarget {
  constructor(baseUrl: string | URL, token: string);
  purchase(fields: KovTransactionFields, options?: KovFollowOptions): Promise<KovResult>;
  auth(fields: KovTransactionFields, options?: KovFollowOptions): Promise<KovResult>;
  complete(fields: KovTransactionFields, options?: KovFollowOptions): Promise<KovResult>;
  refund(fields: KovTransactionFields, options?: KovFollowOptions): Promise<KovResult>;
  void(fields: KovTransactionFields, options?: KovFollowOptions): Promise<KovResult>;
  start(type: KovTransactionType, fields: KovTransactionFields, options?: KovFollowOptions): Promise<KovResult>;
  recover(txnRef: string, fields?: KovRecoveryFields, options?: KovFollowOptions): Promise<KovResult>;
  follow(txnRef: string, options?: KovFollowOptions): Promise<KovResult>;
  press(txnRef: string, button: "B1" | "B2"): Promise<void>;
  cancel(txnRef: string): Promise<void>;
  acknowledge(txnRef: string): Promise<void>;
  pending(): Promise<KovPendingEntry[]>;

  addEventListener<K extends keyof KovBridgeEventMap>(
    type: K, listener: (event: KovBridgeEventMap[K]) => void, options?: boolean | AddEventListenerOptions): void;
  addEventListener(type: string, listener: EventListenerOrEventListenerObject | null,
    options?: boolean | AddEventListenerOptions): void;
  removeEventListener<K extends keyof KovBridgeEventMap>(
    type: K, listener: (event: KovBridgeEventMap[K]) => void, options?: boolean | EventListenerOptions): void;
  removeEventListener(type: string, listener: EventListenerOrEventListenerObject | null,
    options?: boolean | EventListenerOptions): void;
}

/** Cuts a text/event-stream into events; ":" comment lines are dropped. */
export class EventStreamParser {
  push(text: string): { type: string; data: string }[];
}
