/**
 * A call that the bridge refused, or that could not reach it. `status` is the HTTP status
 * (0 when no answer came at all) and `error` the bridge's own text from its
 * `{"error": "..."}` body, which is also the message.
 */
export class KovBridgeError extends Error {
  /**
   * @param {number} status
   * @param {string} error
   */
  constructor(status, error) {
    super(status ? `${error} (HTTP ${status})` : error);
    this.name = "KovBridgeError";
    this.status = status;
    this.error = error;
  }
}
