// Reads a Server-Sent Events stream as it arrives in text pieces. EventSource would do this
// for us, but it cannot send an Authorization header, and the bridge wants its token on
// every call; so the stream comes through fetch and is cut into events here.

/**
 * Cuts a text/event-stream into events: `event:` and `data:` lines up to a blank line make
 * one; lines that begin with ":" are comments (the bridge's keep-alive) and are dropped.
 * Pieces may split a line, or even a CR LF pair, anywhere.
 */
export class EventStreamParser {
  #buffer = "";
  #type = "";
  #data = [];
  #sawCarriageReturn = false;

  /**
   * Takes the next piece of the stream.
   * @param {string} text
   * @returns {{type: string, data: string}[]} the events that this piece completed
   */
  push(text) {
    const events = [];
    let piece = text;
    // A CR at the end of the last piece and an LF at the start of this one are one line end.
    if (this.#sawCarriageReturn && piece.startsWith("\n")) piece = piece.slice(1);
    this.#sawCarriageReturn = piece.endsWith("\r");
    const lines = (this.#buffer + piece).split(/\r\n|\r|\n/);
    // The last part has no line end yet: it waits for the next piece.
    this.#buffer = lines.pop();
    for (const line of lines) {
      const event = this.#takeLine(line);
      if (event) events.push(event);
    }
    return events;
  }

  #takeLine(line) {
    if (line === "") {
      // A blank line ends an event; one without data is no event (as a browser's own reader).
      const event = this.#data.length ? { type: this.#type || "message", data: this.#data.join("\n") } : null;
      this.#type = "";
      this.#data = [];
      return event;
    }
    if (line.startsWith(":")) return null;
    const colon = line.indexOf(":");
    const field = colon < 0 ? line : line.slice(0, colon);
    let value = colon < 0 ? "" : line.slice(colon + 1);
    if (value.startsWith(" ")) value = value.slice(1);
    if (field === "event") this.#type = value;
    else if (field === "data") this.#data.push(value);
    // id and retry are not used: a stream the bridge reopens replays what matters, the result.
    return null;
  }
}
